#include "platform/scoped_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(ScopedFdTest, ClosesOnDestruction) {
  Pipe pipe;
  {
    ScopedFd fd(pipe.GiveWriteEnd());
    EXPECT_FALSE(pipe.WriteEndClosed());
  }
  EXPECT_TRUE(pipe.WriteEndClosed());
}

TEST(ScopedFdTest, ReleaseHandsOverWithoutClosing) {
  Pipe pipe;
  const int raw = pipe.GiveWriteEnd();
  int released = -1;
  {
    ScopedFd fd(raw);
    released = fd.release();
    EXPECT_EQ(fd.get(), -1);
  }
  EXPECT_EQ(released, raw);
  EXPECT_FALSE(pipe.WriteEndClosed());
  close(released);
  EXPECT_TRUE(pipe.WriteEndClosed());
}

TEST(ScopedFdTest, ResetClosesTheOldDescriptorAndOwnsTheNew) {
  Pipe first;
  Pipe second;
  ScopedFd fd(first.GiveWriteEnd());
  const int next = second.GiveWriteEnd();
  fd.reset(next);
  EXPECT_TRUE(first.WriteEndClosed());
  EXPECT_FALSE(second.WriteEndClosed());
  EXPECT_EQ(fd.get(), next);
  fd.reset(next);  // the same descriptor again stays open
  EXPECT_FALSE(second.WriteEndClosed());
  fd.reset();
  EXPECT_TRUE(second.WriteEndClosed());
  EXPECT_EQ(fd.get(), -1);
}

}  // namespace
}  // namespace wardex::platform
