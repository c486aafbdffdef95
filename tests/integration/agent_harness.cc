#include "integration/agent_harness.h"

// The systems' common part of the harness; agent_harness_posix.cc and
// agent_harness_win.cc stage each system's part and say how the agent starts.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>

#include "osal/wide_format.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/system_paths.h"

WARDEX_EXPORT wardex::IIpcClient* CreateClientInstance();
WARDEX_EXPORT void WARDEX_STDCALL DestroyClientInstance(wardex::IIpcClient* client);

namespace wardex::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr char kInstallConfig[] =
    "[install]\n"
    "ProductName=Brisko & Co\n"
    "RegKey=WardexTest\n"
    "Module=bk_free\n"
    "[ipc]\n"
    "ServiceChannelName=wardex-test\n"
    "[time]\n"
    "servers=127.0.0.1:9\n"
    "reply_timeout=200\n"
    "[Waits]\n"
    "FrameLoadRetryMs=50\n"
    "TrayIconRetryMs=50\n";

constexpr char kTexts[] =
    "[general]\n"
    "IDS_WARDEX_TRAY_TOOLTIP=Wardex test agent\n"
    "IDS_STRING_RUN=Start %s\n"
    "IDS_STRING_LASTNOTIFICATION=Last notification\n"
    "IDS_TURBO_ON=Turbo on\n"
    "IDS_TURBO_OFF=Turbo off\n"
    "IDS_STRING_OPTIONS=Settings\n"
    "IDS_STRING_INFO=Info\n"
    "IDS_STRING_EXIT=Close\n";

constexpr char16_t kProductKey[] = u"SOFTWARE\\Corvane\\WardexTest";

}  // namespace

IpcClient::IpcClient() : client_(CreateClientInstance(), &DestroyClientInstance) {
  client_->SetChannel(KaOSAL::FromUtf8(kAgentChannel).c_str());
}

std::string IpcClient::Send(const std::string& message, uint32_t timeout_ms) {
  std::u16string reply(1 << 16, u'\0');
  uint32_t size = static_cast<uint32_t>(reply.size() * 2);
  if (client_->SendMessage(u"", message.data(), static_cast<uint32_t>(message.size()), reply.data(),
                           &size, timeout_ms) != kIpcOk ||
      size < 2) {
    return {};
  }
  return KaOSAL::ToUtf8(reply.data(), size / 2 - 1);
}

bool AgentProcess::AskToClose() const {
  std::vector<platform::ProcessSnapshotEntry> entries;
  static_cast<void>(platform::TakeProcessSnapshot(entries));
  const auto found = std::find_if(entries.begin(), entries.end(),
                                  [&](const auto& entry) { return entry.id == pid(); });
  const auto process = found != entries.end() ? platform::ProcessHandle::Open(*found) : nullptr;
  return process != nullptr && process->AskToClose(0);
}

void AgentTree::StageFile(const std::string& from, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

AgentTree::AgentTree(const Installed& installed)
    : root_(true),
      executable_name_(kAgentExecutable + std::string(kProgramSuffix)),
      app_dir_(installed.app_dir),
      test_dir_(root_.path() + "/test") {
  fs::create_directories(test_dir_);
  root_.Set("WARDEX_LOG_FILE", log_path());
}

AgentTree::AgentTree(std::string executable_name) : AgentTree(Installed{}) {
  app_dir_ = root_.path() + "/app";
  executable_name_ = std::move(executable_name) + kProgramSuffix;
  StageProgram(WARDEX_AGENT_EXE, app_dir_ + "/" + executable_name_);
  StageProgram(WARDEX_IPC_TOOL, app_dir_ + "/wardex-ipc" + kProgramSuffix);
  for (const auto& [built, stem] :
       {std::pair{WARDEX_KAOSAL_SO, "libkaosal"}, std::pair{WARDEX_CRASHLOG_SO, "libcrashlog"},
        std::pair{WARDEX_KPITRACK_SO, "kpitrack"}, std::pair{WARDEX_VELOGGER_SO, "VeLogger"},
        std::pair{WARDEX_VESTYLER_SO, "VeStyler"},
        std::pair{WARDEX_IPC_SO, "modules/common/kvl_ipc32"}}) {
    StageFile(built, app_dir_ + "/" + stem + kLibrarySuffix);
  }
  WriteFile(app_dir_ + "/install.cfg", kInstallConfig);
  WriteFile(app_dir_ + "/language/Texts.ini", kTexts);
  const std::string shell = test_dir_ + "/test_shell" + kLibrarySuffix;
  StageFile(WARDEX_TEST_SHELL_SO, shell);
  root_.Set("WARDEX_SHELL", SystemPath(shell));
  root_.Set("WARDEX_SHELL_TEST_CONTROL", test_dir_ + "/shell.control");
  root_.Set("WARDEX_SHELL_TEST_LOG", test_dir_ + "/shell.log");
  StagePlatform();
  root_.Set("WARDEX_AGENT_TEST_DIR", test_dir_);
}

void AgentTree::AddModule(const std::string& name, const std::string& config) {
  StageFile(WARDEX_TEST_MODULE_SO, app_dir_ + "/modules/" + name + "/" + name + kLibrarySuffix);
  ConfigureFixture(name, config);
}

void AgentTree::AddConsole(const std::string& config) {
  StageFile(WARDEX_TEST_CONSOLE_SO,
            app_dir_ + "/modules/consolemodule/ConsoleModule" + kLibrarySuffix);
  ConfigureFixture("console", config);
}

void AgentTree::AddFrameModules(const std::string& turbo_config) {
  AddConsole();
  AddModule("HandsetLinkModule");
  AddModule("WardexModule");
  AddModule("SnapCheckModule", "kind=snapcheck\nmenu_text=Quick check\n");
  AddModule("TurboModule", turbo_config);
}

void AgentTree::ConfigureFixture(const std::string& name, const std::string& config) {
  WriteFile(test_dir_ + "/" + name + ".cfg", config);
}

void AgentTree::RemoveIpcLibrary() {
  fs::remove(app_dir_ + "/modules/common/kvl_ipc32" + kLibrarySuffix);
}

void AgentTree::AppendInstallConfig(const std::string& lines) {
  std::ofstream(app_dir_ + "/install.cfg", std::ios::app) << lines;
}

void AgentTree::ReplaceInInstallConfig(const std::string& from, const std::string& to) {
  const std::string path = app_dir_ + "/install.cfg";
  std::string content = ReadFile(path);
  const size_t at = content.find(from);
  if (at != std::string::npos) content.replace(at, from.size(), to);
  WriteFile(path, content);
}

void AgentTree::RefuseShellAdds(int count) {
  root_.Set("WARDEX_SHELL_TEST_REFUSE_ADDS", std::to_string(count));
}

std::unique_ptr<AgentProcess> AgentTree::Start(const std::vector<std::string>& arguments) {
  std::vector<std::string> words = Launch(app_dir_ + "/" + executable_name_);
  words.insert(words.end(), arguments.begin(), arguments.end());
  const std::string output = test_dir_ + "/agent" + std::to_string(++starts_) + ".out";
  auto agent = std::make_unique<AgentProcess>(
      words.front(), std::vector<std::string>(words.begin() + 1, words.end()), output, output);
  return agent->started() ? std::move(agent) : nullptr;
}

int64_t AgentTree::Run(const std::vector<std::string>& arguments) {
  const auto agent = Start(arguments);
  return agent ? agent->Wait(milliseconds(15000)) : -1;
}

std::unique_ptr<AgentProcess> AgentTree::StartAndWait() {
  const size_t before = LogTexts().size();
  auto agent = Start();
  if (agent && !WaitForLog("Tray ### On Create MainFrame done", milliseconds(20000), before)) {
    return nullptr;
  }
  return agent;
}

bool AgentTree::WaitForLog(const std::string& text, milliseconds timeout, size_t from_line) {
  return WaitFor(
      [&] {
        const std::vector<std::string> lines = LogTexts();
        return from_line < lines.size() &&
               CountContaining({lines.begin() + from_line, lines.end()}, text) > 0;
      },
      timeout);
}

bool AgentTree::WaitForJournal(const std::string& line, milliseconds timeout) {
  return WaitFor([&] { return CountContaining(Journal(), line) > 0; }, timeout);
}

bool AgentTree::WaitForShellLog(const std::string& needle, size_t count) const {
  return WaitFor([&] { return CountContaining(ShellLog(), needle) >= count; }, milliseconds(10000));
}

// The rotated generations (log.3, log.2, log.1) first.
std::vector<LogLine> AgentTree::LogLines() const {
  std::vector<LogLine> parsed;
  for (const char* file : {".3", ".2", ".1", ""}) {
    for (const std::string& line : ReadLines(log_path() + file)) {
      if (auto one = ParseLogLine(line)) parsed.push_back(*one);
    }
  }
  return parsed;
}

std::vector<std::string> AgentTree::LogTexts() const {
  std::vector<std::string> texts;
  for (const LogLine& line : LogLines()) texts.push_back(line.text);
  return texts;
}

std::vector<std::string> AgentTree::Journal() const {
  return ReadLines(test_dir_ + "/journal.log");
}

std::vector<std::string> AgentTree::ShellLog() const { return ReadLines(test_dir_ + "/shell.log"); }

std::vector<std::string> AgentTree::TrackedEvents() const { return ReadLines(TrackingLog()); }

std::string AgentTree::TrackingLog() {
  return KaOSAL::ToUtf8(platform::GetUserStateFolder().c_str()) + "/wardex/kpitrack.log";
}

bool AgentTree::ShellCommand(const std::string& command) const {
  std::ofstream control(test_dir_ + "/shell.control", std::ios::app | std::ios::binary);
  return static_cast<bool>(control << command << '\n' << std::flush);
}

std::string AgentTree::Send(const std::string& message, uint32_t timeout_ms) const {
  static std::atomic<int> sent{0};
  const std::string base = test_dir_ + "/send" + std::to_string(++sent);
  ChildProgram tool(app_dir_ + "/wardex-ipc" + kProgramSuffix,
                    {"send", "--timeout", std::to_string(timeout_ms), message}, base + ".out",
                    base + ".err");
  const bool answered = tool.Wait(timeout_ms + 30000) == 0;
  std::string text = ReadFile(base + (answered ? ".out" : ".err"));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return answered ? text : "ERROR: " + text;
}

bool AgentTree::ChooseFromMenu(const std::string& command) const {
  return ShellCommand("menu-choice " + command) && !OpenMenu().empty();
}

bool AgentTree::ReadProductValue(const std::string& name, void* value, uint32_t size) {
  uint32_t type = 0;
  uint32_t got = size;
  return platform::RegQueryValue(platform::HKEY_LOCAL_MACHINE, kProductKey,
                                 KaOSAL::KaString(KaOSAL::FromUtf8(name).c_str()),
                                 platform::KEY_QUERY_VALUE, &type, static_cast<uint8_t*>(value),
                                 &got) == 0 &&
         got == size;
}

bool AgentTree::WriteProductValue(const std::string& name, const void* value, uint32_t size) {
  const uint32_t type = size == 4 ? platform::REG_DWORD : platform::REG_BINARY;
  return platform::RegCreateKey(platform::HKEY_LOCAL_MACHINE, kProductKey,
                                platform::KEY_SET_VALUE) == 0 &&
         platform::RegSetValue(platform::HKEY_LOCAL_MACHINE, kProductKey,
                               KaOSAL::KaString(KaOSAL::FromUtf8(name).c_str()),
                               platform::KEY_SET_VALUE, type, static_cast<const uint8_t*>(value),
                               size) == 0;
}

std::string AgentTree::OpenMenu(const std::string& event) const {
  const auto menus = [this] {
    std::vector<std::string> shown;
    for (const std::string& line : ShellLog()) {
      if (line.rfind("MENU ", 0) == 0) shown.push_back(line);
    }
    return shown;
  };
  const size_t before = menus().size();
  const bool opened = ShellCommand("click " + event) &&
                      WaitFor([&] { return menus().size() > before; }, milliseconds(5000));
  return opened ? menus().back() : std::string();
}

std::string AgentTree::AgentOutput() const {
  std::string text;
  for (int start = 1; start <= starts_; ++start) {
    text += ReadFile(test_dir_ + "/agent" + std::to_string(start) + ".out");
  }
  return text;
}

std::string AgentTree::Diagnostics() const {
  std::string text = "agent output:\n" + AgentOutput() + "log:\n";
  const std::vector<std::string> lines = ReadLines(log_path());
  for (size_t i = lines.size() > 30 ? lines.size() - 30 : 0; i < lines.size(); ++i) {
    text += lines[i] + "\n";
  }
  return text;
}

AgentTree& AgentTest::NewTree() {
  tree_.reset();
  tree_ = std::make_unique<AgentTree>();
  return *tree_;
}

void AgentTreeTest::SetUp() {
  AgentTest::SetUp();
  if (!IsSkipped()) NewTree();
}

::testing::AssertionResult ContainsInOrder(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& needles) {
  size_t next = 0;
  for (const std::string& needle : needles) {
    while (next < lines.size() && lines[next].find(needle) == std::string::npos) ++next;
    if (next == lines.size()) {
      return ::testing::AssertionFailure() << "missing or out of order: " << needle;
    }
    ++next;
  }
  return ::testing::AssertionSuccess();
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& needle) {
  size_t count = 0;
  for (const std::string& line : lines) count += line.find(needle) != std::string::npos ? 1 : 0;
  return count;
}

void ExpectCounts(const std::vector<std::string>& lines,
                  std::initializer_list<std::pair<std::string, size_t>> counts) {
  for (const auto& [needle, count] : counts) {
    EXPECT_EQ(CountContaining(lines, needle), count) << needle;
  }
}

}  // namespace wardex::test
