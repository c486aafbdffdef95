// The Console protocol: what each message looks like on the wire, and that a
// frame which breaks a limit is refused rather than trusted.
#include "protocol/console_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace wardex::console {
namespace {

// What a reader makes of |frame|, and the message it read encoded again.
std::pair<FrameReader::Status, std::string> Decoded(const std::string& frame) {
  FrameReader reader;
  reader.Append(frame.data(), frame.size());
  ConsoleMessage message;
  const FrameReader::Status status = reader.Next(&message);
  return {status, status == FrameReader::Status::kMessage ? EncodeFrame(message) : ""};
}

const ShowDialogMessage kSampleDialog{7,
                                      "Header <b>",
                                      "Gr\u00fc\u00dfe",
                                      "bold",
                                      "",
                                      2,
                                      1500,
                                      {{"OK", 1}, {"Cancel", -7}},
                                      {{"Remember", true}, {"Again", false}}};

// Lists of the most entries with the longest texts the sender lets through
// must still fit a frame too, or the receiver would drop the Console.
TEST(ConsoleProtocolTest, EveryMessageSurvivesTheWireAlsoWithFullListsOfLongestTexts) {
  const std::string text(kMaxItemTextBytes, 'x');
  ShowInfoMessage info{text, text, text, text, text, {}, {}};
  info.modules.assign(kMaxListEntries, ModuleEntry{text, text});
  info.about.assign(kMaxListEntries, text);
  ShowViewMessage view{1, std::string(kMaxTextBytes, 'x'), {}, {}, {}};
  view.rows.assign(kMaxListEntries, ViewRowData{text, text, 50});
  view.buttons.assign(kMaxDialogButtons, ViewButtonData{1, text, true});
  view.menu.assign(kMaxDialogButtons, MenuEntry{1, text, true});
  SetTexts texts{text, {}};
  texts.texts.assign(kMaxTextEntries, TextEntry{std::string(64, 'K'), text});
  ShowSettingsMessage settings{text, {}, true, true};
  settings.languages.assign(kMaxListEntries, LanguageEntry{text, text});
  const std::vector<ConsoleMessage> messages = {
      Ping{42},
      kSampleDialog,
      SetTexts{"Brisko & Co", {{"CONSOLE_MENU", "Men\xC3\xBC"}}},
      ShowInfoMessage{"Brisko",
                      "bk_free",
                      "1.0.0",
                      "ab12",
                      "/var/log/w.log",
                      {{"A.so", "Corvane"}, {"B.so", ""}},
                      {"About", "(C)"}},
      ShowSettingsMessage{"de", {{"en_II", "English"}, {"de", "Deutsch"}}, true, false},
      ShowViewMessage{5,
                      "Temp",
                      {{"Files", "3", -1}, {"Done", "", 100}},
                      {{1, "Again", false}},
                      {{0x8016, "Info", true}}},
      SettingsChosen{"en_II", false, true},
      ViewButtonPressed{5, -2},
      MenuCommandChosen{0x8012},
      Pong{0xFFFFFFFFu},
      DialogAnswer{7, -1, {1, 0, 1}},
      info,
      view,
      texts,
      settings,
  };
  for (const ConsoleMessage& message : messages) {
    const std::string frame = EncodeFrame(message);
    EXPECT_EQ(Decoded(frame), std::pair(FrameReader::Status::kMessage, frame))
        << "alternative " << message.index();
  }
}

TEST(ConsoleProtocolTest, FieldsAreLittleEndianAfterTheLengthAndType) {
  EXPECT_EQ(EncodeFrame(Ping{0x01020304}), std::string("\x05\x00\x00\x00\x01\x04\x03\x02\x01", 9));
  EXPECT_EQ(EncodeFrame(SetTexts{"ab", {}}), std::string("\x0B\0\0\0\x04\x02\0\0\0ab\0\0\0\0", 15));
}

TEST(ConsoleProtocolTest, RefusesFramesThatBreakTheRules) {
  const std::string dialog = EncodeFrame(kSampleDialog).substr(4);
  const auto frame = [](const std::string& payload) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(payload.size() >> (8 * i));
    return out + payload;
  };
  std::string too_many_buttons = EncodeFrame(ShowDialogMessage{}).substr(4);
  // The button count sits after the id, four empty texts, icon and show time.
  too_many_buttons[1 + 4 + 16 + 4 + 4] = static_cast<char>(kMaxDialogButtons + 1);
  std::string long_text = std::string("\x04") + std::string("\x01\x00\x01\x00", 4);
  long_text += std::string(kMaxTextBytes + 1, 'x');
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"zero length", std::string(4, '\0')},
      {"length above the limit", std::string("\x01\x00\x10\x00", 4) + "\x01"},
      {"unknown type", frame("\x09")},
      {"truncated field", frame(dialog.substr(0, dialog.size() - 1))},
      {"trailing bytes", frame(dialog + "x")},
      {"list above its limit", frame(too_many_buttons)},
      {"text above its limit", frame(long_text)},
      {"flag neither 0 nor 1", frame(dialog.substr(0, dialog.size() - 1) + "\x02")},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Decoded(c.bytes).first, FrameReader::Status::kMalformed) << c.name;
  // The last check box's flag (the payload's last byte) may be 1.
  EXPECT_EQ(Decoded(frame(dialog.substr(0, dialog.size() - 1) + "\x01")).first,
            FrameReader::Status::kMessage);
}

TEST(ConsoleProtocolTest, ReassemblesFramesDeliveredByteByByteAndStaysBrokenAfterAnError) {
  const std::string stream = EncodeFrame(kSampleDialog) + EncodeFrame(Pong{5});
  FrameReader reader;
  ConsoleMessage message;
  std::vector<size_t> seen;
  for (char byte : stream) {
    reader.Append(&byte, 1);
    while (reader.Next(&message) == FrameReader::Status::kMessage) seen.push_back(message.index());
  }
  EXPECT_EQ(seen, (std::vector<size_t>{1, 6}));  // ShowDialog, Pong

  reader.Append("\0\0\0\0", 4);
  EXPECT_EQ(reader.Next(&message), FrameReader::Status::kMalformed);
  const std::string good = EncodeFrame(Ping{1});
  reader.Append(good.data(), good.size());
  EXPECT_EQ(reader.Next(&message), FrameReader::Status::kMalformed);
}

TEST(ConsoleProtocolTest, FitTextCutsAtACharacterBoundary) {
  const std::string two_byte = "\xC3\xA9";  // é
  const struct {
    std::string text;
    size_t max;
    std::string expected;
  } cases[] = {
      {"abc", 3, "abc"},        {"abcd", 3, "abc"},
      {"a" + two_byte, 2, "a"}, {"a" + two_byte, 3, "a" + two_byte},
      {"\u20acx", 2, ""},  // a three-byte euro sign does not fit
  };
  for (const auto& c : cases) EXPECT_EQ(FitText(c.text, c.max), c.expected) << c.text;
}

}  // namespace
}  // namespace wardex::console
