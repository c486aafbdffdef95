// A user's first minutes with the agent: what the pipe gets and answers, and
// what the agent logs, the same on every system. The Linux agent's test
// (agent_console_test.cc) and the Windows one's, staged and installed
// (agent_desktop_win_test.cc), take their expectations from here.
#pragma once

#include <string>
#include <vector>

namespace wardex::test {

inline constexpr char kNotification[] =
    R"({"ModuleRequest":7,"MessageHeader":"Scan done","Message":"3 items cleaned"})";
inline constexpr char kNotificationReply[] = R"([{"ModuleIdentificator":"","ModuleRequest":7}])";

// The user tabs from the default button to the next one and presses it.
inline constexpr char kDialog[] =
    R"({"ModuleRequest":11,"MessageHeader":"Update","Message":"Install now?","Icon":2,)"
    R"("Buttons":[{"BTTX":"Yes","BTID":7,"BTTY":1},{"BTTX":"No","BTID":8,"BTTY":2}],)"
    R"("CheckBoxes":[{"CBTX":"Remember","CBID":5,"CBCH":true}]})";
inline constexpr char kDialogAnswer[] =
    R"([{"Buttons":[{"BTID":8,"BTTX":"","BTTY":0}],"CheckBoxes":[{"CBCH":true,"CBID":5,)"
    R"("CBTX":"Remember"}],"ModuleIdentificator":"","ModuleRequest":11}])";

// The agent's log texts, in this order, for: its start, kind 5, the
// notification, the dialog, a second start, a second start with
// -snapcheck, a restarted taskbar, and the menu's Close. The start's own
// lines, exactly, are the start suite's (agent_start_test.cc).
inline const std::vector<std::string> kUserStepsLog = {
    "Tray ### On Create MainFrame",
    "Tray ### On Create MainFrame done",
    "CONSOLE: notification \"Scan done\" handed to the desktop (5 s)",
    "CONSOLE: dialog 1 \"Update\" answered with button 8",
    "STOP: Process already running",
    "Wardex.exe - SNAPCHECK - already running - inform",
    "Wardex.exe ## ShowSnapCheck",
    "TRAY ### Closing...",
    "TRAY ### Stop HandsetLink",
    "TRAY ### Remove Icon",
};

}  // namespace wardex::test
