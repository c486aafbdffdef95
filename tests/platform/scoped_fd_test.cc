#include "platform/scoped_fd_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace wardex::platform {
namespace {

// A pipe whose read end tells whether every copy of the write end is closed.
class Pipe {
 public:
  Pipe() { EXPECT_EQ(pipe2(ends_, O_CLOEXEC | O_NONBLOCK), 0); }
  ~Pipe() {
    close(ends_[0]);
    if (write_end_open_here_) close(ends_[1]);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  // The write end, whose closing is now the caller's business.
  int GiveWriteEnd() {
    write_end_open_here_ = false;
    return ends_[1];
  }
  // True once the write end is closed: the read end then reports end of file
  // rather than "would block".
  bool WriteEndClosed() const {
    char byte;
    return read(ends_[0], &byte, 1) == 0;
  }

 private:
  int ends_[2] = {-1, -1};
  bool write_end_open_here_ = true;
};

TEST(ScopedFdTest, ClosesWhatItOwnsOnceAndNothingElse) {
  Pipe first;
  Pipe second;
  Pipe third;
  const int handed_over = third.GiveWriteEnd();
  {
    ScopedFd fd(first.GiveWriteEnd());
    ScopedFd owner(std::move(fd));  // the moved-from one closes nothing
    EXPECT_EQ(fd.get(), -1);
    EXPECT_FALSE(first.WriteEndClosed());
    const int next = second.GiveWriteEnd();
    owner.reset(next);
    EXPECT_TRUE(first.WriteEndClosed());
    owner.reset(next);  // the same descriptor again stays open
    EXPECT_FALSE(second.WriteEndClosed());
    ScopedFd releasing(handed_over);
    EXPECT_EQ(releasing.release(), handed_over);
  }
  EXPECT_TRUE(second.WriteEndClosed());
  EXPECT_FALSE(third.WriteEndClosed());  // released: the caller's to close
  close(handed_over);
}

}  // namespace
}  // namespace wardex::platform
