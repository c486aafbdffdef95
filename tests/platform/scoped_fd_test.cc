#include "platform/scoped_fd_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace wardex::platform {
namespace {

// Whether |fd| is open. The test opens nothing between the checks, so a
// closed descriptor's number is not taken again.
bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(ScopedFdTest, ClosesWhatItOwnsOnceAndNothingElse) {
  const int first = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int second = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int handed_over = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_TRUE(first >= 0 && second >= 0 && handed_over >= 0);
  {
    ScopedFd fd(first);
    ScopedFd owner(std::move(fd));  // the moved-from one closes nothing
    EXPECT_EQ(fd.get(), -1);
    EXPECT_TRUE(IsOpen(first));
    owner.reset(second);
    EXPECT_FALSE(IsOpen(first));
    owner.reset(second);  // the same descriptor again stays open
    EXPECT_TRUE(IsOpen(second));
    ScopedFd releasing(handed_over);
    EXPECT_EQ(releasing.release(), handed_over);
  }
  EXPECT_FALSE(IsOpen(second));
  EXPECT_TRUE(IsOpen(handed_over));  // released: the caller's to close
  close(handed_over);
}

}  // namespace
}  // namespace wardex::platform
