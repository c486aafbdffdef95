#include "platform/named_objects.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/runtime_dir_posix.h"
#include "support/test_env.h"
#include "support/wait.h"

namespace wardex::platform {
namespace {

using Clock = std::chrono::steady_clock;

// On Linux objects go to the test's own runtime folder, which goes with the
// test; the name is unique all the same, so that a leftover (or, on Windows,
// another test's object in the session) can never be taken for ours.
std::string UniqueName(const char* what) {
  return std::string("{wardex-test-") + what + "-" + std::to_string(std::random_device()()) + "/" +
         std::to_string(Clock::now().time_since_epoch().count()) + "}";
}

// Runs the probe program, another process of the user, with |arguments|
// and returns its exit code.
int64_t RunProbe(const std::vector<std::string>& arguments) {
  return test::ChildProgram(test::HelperProgram("process_probe"), arguments).Wait();
}

#if !defined(_WIN32)
std::string RuntimeFolderUtf8() { return KaOSAL::ToUtf8(GetRuntimeFolder().c_str()); }

// With XDG_RUNTIME_DIR the objects go below it (the names test below).
TEST(RuntimeFolderTest, WithoutXdgRuntimeDirAPrivateTmpFolder) {
  test::ScopedTestRoot root;
  const std::string expected = "/tmp/wardex-" + std::to_string(geteuid());
  ASSERT_EQ(RuntimeFolderUtf8(), expected);
  struct stat info {};
  ASSERT_EQ(lstat(expected.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(info.st_uid, geteuid());
  if (test::RunningAsRoot()) {
    // Root after "su" or "sudo -E" still names a user's runtime folder.
    test::ScopedTestRoot user(/*with_runtime_dir=*/true);
    ASSERT_EQ(chown((user.path() + "/runtime").c_str(), 65534, 65534), 0);
    EXPECT_EQ(RuntimeFolderUtf8(), expected);
    EXPECT_NE(access((user.path() + "/runtime/wardex").c_str(), F_OK), 0) << "touched the user's";
  }
}

TEST(RuntimeFolderTest, RefusesAFolderOthersCanReachOrOwn) {
  test::ScopedTestRoot root(/*with_runtime_dir=*/true);
  const std::string folder = root.path() + "/runtime/wardex";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  EXPECT_TRUE(GetRuntimeFolder().IsEmpty());
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorAccessDenied);
  EXPECT_EQ(NamedSemaphore::Create(u"x"), nullptr);

  ASSERT_EQ(rmdir(folder.c_str()), 0);
  ASSERT_EQ(symlink((root.path() + "/runtime").c_str(), folder.c_str()), 0);
  EXPECT_TRUE(GetRuntimeFolder().IsEmpty()) << "a link is not the folder";

  if (test::RunningAsRoot()) {
    ASSERT_EQ(unlink(folder.c_str()), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(GetRuntimeFolder().IsEmpty());
    EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorAccessDenied);
  }
}

#endif

// Objects in the test's own runtime folder, under a name of the test's own.
class NamedObjectsTest : public ::testing::Test {
 protected:
  test::ScopedTestRoot root_{/*with_runtime_dir=*/true};
  const std::string probe_name_ = UniqueName("object");
  const KaOSAL::KaString name_ = probe_name_.c_str();  // ASCII
};
using NamedSemaphoreTest = NamedObjectsTest;
using NamedEventTest = NamedObjectsTest;

TEST_F(NamedSemaphoreTest, ExistsWhileItsCreatorHoldsIt) {
  EXPECT_FALSE(NamedSemaphore::Exists(name_));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);

  auto first = NamedSemaphore::Create(name_);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->already_existed());
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorSuccess);
  EXPECT_TRUE(NamedSemaphore::Exists(name_));

  auto second = NamedSemaphore::Create(name_);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->already_existed());
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorAlreadyExists);

  first.reset();
  EXPECT_FALSE(NamedSemaphore::Exists(name_));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);
  auto third = NamedSemaphore::Create(name_);
  ASSERT_NE(third, nullptr);
  EXPECT_FALSE(third->already_existed());
}

TEST_F(NamedSemaphoreTest, EndsWithItsCreatorEvenWhenKilled) {
  test::ChildProgram holder(test::HelperProgram("process_probe"), {"hold", probe_name_});
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(
      test::WaitFor([&] { return NamedSemaphore::Exists(name_); }, std::chrono::seconds(30)));
  auto ours = NamedSemaphore::Create(name_);
  ASSERT_NE(ours, nullptr);
  EXPECT_TRUE(ours->already_existed());

  holder.Kill();
  holder.Wait();
  EXPECT_FALSE(NamedSemaphore::Exists(name_));
  auto after = NamedSemaphore::Create(name_);
  ASSERT_NE(after, nullptr);
  EXPECT_FALSE(after->already_existed());
}

#if !defined(_WIN32)
TEST_F(NamedSemaphoreTest, DescriptorsAreClosedOnExec) {
  auto held = NamedSemaphore::Create(name_);
  ASSERT_NE(held, nullptr);
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.find("/sem.") == std::string::npos) continue;
    const int fd = std::stoi(entry.path().filename().string());
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << target;
    ++checked;
  }
  EXPECT_EQ(checked, 1);
}
#endif

TEST_F(NamedEventTest, KeepsItsStateUntilReset) {
  EXPECT_EQ(NamedEvent::Open(name_), nullptr);
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);

  auto event = NamedEvent::Create(name_, false);
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(event->already_existed());
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
  ASSERT_TRUE(event->Set());
  EXPECT_EQ(event->Wait(0), WaitResult::kSignaled);
  EXPECT_EQ(event->Wait(0), WaitResult::kSignaled) << "manual reset: a wait does not reset it";

  auto again = NamedEvent::Create(name_, false);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->already_existed());
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorAlreadyExists);
  EXPECT_EQ(again->Wait(0), WaitResult::kSignaled) << "opening keeps the state";

  ASSERT_TRUE(again->Reset());
  const auto start = Clock::now();
  EXPECT_EQ(event->Wait(100), WaitResult::kTimeout);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));

  auto created_set = NamedEvent::Create(UniqueName("initially-set").c_str(), true);
  ASSERT_NE(created_set, nullptr);
  EXPECT_EQ(created_set->Wait(0), WaitResult::kSignaled);
}

TEST_F(NamedEventTest, ASetInOneProcessIsSeenInAnother) {
  auto event = NamedEvent::Create(name_, false);
  ASSERT_NE(event, nullptr);

  // Set by a process that has since ended: a 0 ms wait here sees it.
  EXPECT_EQ(RunProbe({"set", probe_name_}), 0);
  EXPECT_EQ(event->Wait(0), WaitResult::kSignaled);

  // Reset here, seen there; then a waiter here is woken by a set there.
  ASSERT_TRUE(event->Reset());
  EXPECT_EQ(RunProbe({"join", probe_name_, "reset"}), 0);
  test::ChildProgram setter(test::HelperProgram("process_probe"), {"set", probe_name_, "100"});
  const auto start = Clock::now();
  EXPECT_EQ(event->Wait(30'000), WaitResult::kSignaled);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(setter.Wait(), 0);
}

TEST_F(NamedEventTest, AnEventThatNoHandleHoldsIsGone) {
  // Made and set by a process that has ended since: the event went with it.
  ASSERT_EQ(RunProbe({"create-set", probe_name_}), 0);
  EXPECT_EQ(NamedEvent::Open(name_), nullptr);
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);
  auto fresh = NamedEvent::Create(name_, false);
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(fresh->already_existed());
  EXPECT_EQ(fresh->Wait(0), WaitResult::kTimeout) << "the first creator starts it unsignalled";

  // While a handle holds it, other processes join it in its state...
  ASSERT_TRUE(fresh->Set());
  EXPECT_EQ(RunProbe({"join", probe_name_, "set"}), 0);
  // ...and when the last one closes, it is gone again.
  fresh.reset();
  auto again = NamedEvent::Create(name_, false);
  ASSERT_NE(again, nullptr);
  EXPECT_FALSE(again->already_existed());
  EXPECT_EQ(again->Wait(0), WaitResult::kTimeout);
}

TEST_F(NamedObjectsTest, NamesBecomeSafeFileNamesAndAnEmptyNameIsInvalid) {
  EXPECT_EQ(NamedSemaphore::Create(u""), nullptr);
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);
  EXPECT_EQ(NamedEvent::Create(u"", false), nullptr);
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);
#if !defined(_WIN32)
  auto semaphore = NamedSemaphore::Create(u"Global\\a/b c");
  ASSERT_NE(semaphore, nullptr);
  auto event = NamedEvent::Create(u"..", false);
  ASSERT_NE(event, nullptr);
  const std::string folder = root_.path() + "/runtime/wardex/";
  EXPECT_TRUE(std::filesystem::exists(folder + "sem.Global%5Ca%2Fb%20c"));
  EXPECT_TRUE(std::filesystem::exists(folder + "event.%2E."));
#endif
}

}  // namespace
}  // namespace wardex::platform
