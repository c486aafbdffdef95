#include "integration/agent_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "osal/wide_format.h"
#include "platform/registry_store.h"

extern char** environ;

namespace wardex::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

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

void Copy(const std::string& from, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The log's lines, the rotated generations (log.3, log.2, log.1) first.
std::vector<std::string> ReadLog(const std::string& path) {
  std::vector<std::string> lines;
  for (int generation = 3; generation >= 1; --generation) {
    const std::vector<std::string> old = ReadLines(path + "." + std::to_string(generation));
    lines.insert(lines.end(), old.begin(), old.end());
  }
  const std::vector<std::string> current = ReadLines(path);
  lines.insert(lines.end(), current.begin(), current.end());
  return lines;
}

constexpr char16_t kProductKey[] = u"SOFTWARE\\Corvane\\WardexTest";

KaOSAL::KaString WideName(const std::string& name) {
  const std::u16string wide = KaOSAL::FromUtf8(name);
  return KaOSAL::KaString(wide.data(), static_cast<int>(wide.size()));
}

}  // namespace

bool CanUnshareNetwork(std::string* reason) {
  const int status = std::system("unshare -n -- sh -c 'ip link set lo up' >/dev/null 2>&1");
  if (status == 0) return true;
  *reason = "no private network namespace here (unshare -n or ip link failed)";
  return false;
}

AgentProcess::~AgentProcess() {
  if (Running()) {
    kill(pid_, SIGKILL);
    Wait(milliseconds(5000));
  }
}

int AgentProcess::Wait(milliseconds timeout) {
  const auto deadline = steady_clock::now() + timeout;
  while (status_ < 0) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (done < 0 || steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return status_;
}

bool AgentProcess::Signal(int signal_number) const { return kill(pid_, signal_number) == 0; }

bool AgentProcess::Running() { return Wait(milliseconds(0)) < 0; }

int AgentProcess::Stop() { return Signal(SIGTERM) ? Wait(milliseconds(30000)) : -1; }

AgentTree::AgentTree(std::string executable_name)
    : root_(true), executable_name_(std::move(executable_name)) {
  app_dir_ = root_.path() + "/app";
  test_dir_ = root_.path() + "/test";
  fs::create_directories(test_dir_);
  const std::string executable = app_dir_ + "/" + executable_name_;
  Copy(WARDEX_AGENT_EXE, executable);
  fs::permissions(executable, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  Copy(WARDEX_KAOSAL_SO, app_dir_ + "/libkaosal.so");
  Copy(WARDEX_CRASHLOG_SO, app_dir_ + "/libcrashlog.so");
  Copy(WARDEX_KPITRACK_SO, app_dir_ + "/kpitrack.so");
  Copy(WARDEX_VELOGGER_SO, app_dir_ + "/VeLogger.so");
  Copy(WARDEX_VESTYLER_SO, app_dir_ + "/VeStyler.so");
  Copy(WARDEX_IPC_SO, app_dir_ + "/modules/common/kvl_ipc32.so");
  WriteFile(app_dir_ + "/install.cfg", kInstallConfig);
  WriteFile(app_dir_ + "/language/Texts.ini", kTexts);
  const std::string anchor = root_.root() + "/etc/wardex/trust/root-ca.pem";
  Copy(WARDEX_TEST_CA_PEM, anchor);
  chmod(anchor.c_str(), 0644);

  Copy(WARDEX_TEST_SHELL_SO, test_dir_ + "/test_shell.so");
  SetEnv("WARDEX_SHELL", test_dir_ + "/test_shell.so");
  SetEnv("WARDEX_SHELL_TEST_CONTROL", test_dir_ + "/shell.fifo");
  SetEnv("WARDEX_SHELL_TEST_LOG", test_dir_ + "/shell.log");
  SetEnv("WARDEX_LOG_FILE", log_path());
  SetEnv("WARDEX_LOG_JOURNAL", "0");
  SetEnv("WARDEX_AGENT_TEST_DIR", test_dir_);
}

AgentTree::~AgentTree() {
  for (const std::string& name : set_environment_) unsetenv(name.c_str());
}

void AgentTree::SetEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
  set_environment_.push_back(name);
}

void AgentTree::AddModule(const std::string& name, const std::string& config) {
  Copy(WARDEX_TEST_MODULE_SO, app_dir_ + "/modules/" + name + "/" + name + ".so");
  ConfigureFixture(name, config);
}

void AgentTree::AddConsole(const std::string& config) {
  Copy(WARDEX_TEST_CONSOLE_SO, app_dir_ + "/modules/consolemodule/ConsoleModule.so");
  ConfigureFixture("console", config);
}

void AgentTree::AddFrameModules(const std::string& turbo_config) {
  AddConsole();
  AddModule("HandsetLinkModule");
  AddModule("WardexModule");
  AddModule("SnapCheckModule", "kind=snapcheck\nmenu_text=Quick check\n");
  AddModule("TurboModule", turbo_config);
}

void AgentTree::AddDesktopConsole() { StageDesktopConsole(WARDEX_CONSOLE_PROGRAM); }

void AgentTree::StageDesktopConsole(const std::string& program_file) {
  Copy(WARDEX_CONSOLE_MODULE_SO, app_dir_ + "/modules/consolemodule/ConsoleModule.so");
  const std::string program = app_dir_ + "/modules/consolemodule/wardex-console";
  Copy(program_file, program);
  fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
}

void AgentTree::AddFakeDesktopConsole(const std::vector<std::string>& settings) {
  StageDesktopConsole(WARDEX_FAKE_CONSOLE_PROGRAM);
  // The Console module takes the desktop for one with a display and a bus;
  // the fake process needs neither.
  SetEnv("DISPLAY", ":wardex-test");
  SetEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + test_dir_ + "/no-bus");
  SetEnv("FAKE_CONSOLE_RECORD", test_dir_ + "/console.record");
  for (const std::string& setting : settings) {
    const size_t equals = setting.find('=');
    SetEnv("FAKE_CONSOLE_" + setting.substr(0, equals), setting.substr(equals + 1));
  }
}

std::vector<std::string> AgentTree::FakeConsoleRecord() const {
  return ReadLines(test_dir_ + "/console.record");
}

void AgentTree::ConfigureFixture(const std::string& name, const std::string& config) {
  WriteFile(test_dir_ + "/" + name + ".cfg", config);
}

void AgentTree::RemoveIpcLibrary() { fs::remove(app_dir_ + "/modules/common/kvl_ipc32.so"); }

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
  SetEnv("WARDEX_SHELL_TEST_REFUSE_ADDS", std::to_string(count));
}

void AgentTree::RunAsNobody() {
  for (const std::string& folder :
       {root_.config_home(), root_.data_home(), root_.state_home(), root_.path() + "/cache",
        root_.path() + "/runtime", test_dir_}) {
    lchown(folder.c_str(), kNobodyUid, kNobodyUid);
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      lchown(entry.path().c_str(), kNobodyUid, kNobodyUid);
  }
  as_nobody_ = true;
}

std::unique_ptr<AgentProcess> AgentTree::Start(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = {"unshare", "-n", "--",
                                   "sh",      "-c", "ip link set lo up && exec \"$0\" \"$@\""};
  if (share_test_network_) args.clear();
  if (as_nobody_) {
    const std::string id = std::to_string(kNobodyUid);
    args.insert(args.end(), {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"});
  }
  args.push_back(app_dir_ + "/" + executable_name_);
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string output = test_dir_ + "/agent.out";
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? std::make_unique<AgentProcess>(pid) : nullptr;
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

std::vector<LogLine> AgentTree::LogLines() const {
  std::vector<LogLine> parsed;
  for (const std::string& line : ReadLog(log_path())) {
    if (auto one = ParseLogLine(line)) parsed.push_back(*one);
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

std::vector<std::string> AgentTree::TrackedEvents() const {
  return ReadLines(root_.state_home() + "/wardex/kpitrack.log");
}

std::string AgentTree::Send(const std::string& message, uint32_t timeout_ms) const {
  const std::string command = "WARDEX_IPC_LIBRARY=" + ShellQuote(WARDEX_IPC_SO) + " " +
                              ShellQuote(WARDEX_IPC_TOOL) + " send --channel " + kAgentChannel +
                              " --timeout " + std::to_string(timeout_ms) + " " +
                              ShellQuote(message) + " 2>&1";
  std::string output;
  const int status = RunShell(command, &output);
  if (!output.empty() && output.back() == '\n') output.pop_back();
  return status == 0 ? output : "ERROR: " + output;
}

bool AgentTree::ShellCommand(const std::string& command) const {
  const std::string fifo = test_dir_ + "/shell.fifo";
  const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const std::string line = command + "\n";
  const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(fd);
  return written;
}

bool AgentTree::ChooseFromMenu(const std::string& command) const {
  return ShellCommand("menu-choice " + command) && !OpenMenu().empty();
}

bool AgentTree::ReadProductValue(const std::string& name, void* value, uint32_t size) {
  uint32_t type = 0;
  uint32_t got = size;
  return platform::RegQueryValue(platform::HKEY_LOCAL_MACHINE, kProductKey, WideName(name),
                                 platform::KEY_QUERY_VALUE, &type, static_cast<uint8_t*>(value),
                                 &got) == 0 &&
         got == size;
}

bool AgentTree::WriteProductValue(const std::string& name, const void* value, uint32_t size) {
  const uint32_t type = size == 4 ? platform::REG_DWORD : platform::REG_BINARY;
  return platform::RegCreateKey(platform::HKEY_LOCAL_MACHINE, kProductKey,
                                platform::KEY_SET_VALUE) == 0 &&
         platform::RegSetValue(platform::HKEY_LOCAL_MACHINE, kProductKey, WideName(name),
                               platform::KEY_SET_VALUE, type, static_cast<const uint8_t*>(value),
                               size) == 0;
}

std::string AgentTree::OpenMenu(const std::string& event) const {
  const size_t before = CountContaining(ShellLog(), "MENU ");
  if (!ShellCommand("click " + event)) return {};
  const auto deadline = steady_clock::now() + milliseconds(5000);
  while (steady_clock::now() < deadline) {
    std::vector<std::string> menus;
    for (const std::string& line : ShellLog()) {
      if (line.rfind("MENU ", 0) == 0) menus.push_back(line);
    }
    if (menus.size() > before) return menus.back();
    std::this_thread::sleep_for(milliseconds(10));
  }
  return {};
}

std::string AgentTree::Diagnostics() const {
  std::string text = "agent output:\n" + ReadFile(test_dir_ + "/agent.out") + "log:\n";
  const std::vector<std::string> lines = ReadLines(log_path());
  for (size_t i = lines.size() > 30 ? lines.size() - 30 : 0; i < lines.size(); ++i) {
    text += lines[i] + "\n";
  }
  return text;
}

void AgentTest::SetUp() {
  std::string reason;
  if (!CanUnshareNetwork(&reason)) GTEST_SKIP() << reason;
}

AgentTree& AgentTest::NewTree() {
  tree_.reset();
  tree_ = std::make_unique<AgentTree>();
  return *tree_;
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
