#include <atomic>
#include <string>
#include <thread>

#include "ipc_bare_echo.h"
#include "platform/windows_api.h"

namespace {

constexpr wchar_t kPipe[] = L"\\\\.\\pipe\\wardex-ipc-bench-bare";

// A message-mode pipe served by one thread per connection, as the
// library's workers serve theirs.
class PipeEcho final : public BareEcho {
 public:
  explicit PipeEcho(std::string reply) : reply_(std::move(reply)) {
    server_ = std::thread([this] { Serve(); });
  }

  ~PipeEcho() override {
    stop_ = true;
    Exchange("");
    server_.join();
  }

  const char* name() const override { return "bare named-pipe echo"; }

  bool Exchange(std::string_view request) override {
    HANDLE pipe;
    while ((pipe = CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr)) == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_PIPE_BUSY && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return false;
      }
      WaitNamedPipeW(kPipe, 1000);
    }
    DWORD done = 0;
    bool ok = WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &done,
                        nullptr) != 0;
    std::string buffer(reply_.size(), '\0');
    size_t got = 0;
    while (ok && got < buffer.size()) {
      ok = ReadFile(pipe, buffer.data() + got, static_cast<DWORD>(buffer.size() - got), &done,
                    nullptr) != 0 &&
           done > 0;
      got += done;
    }
    CloseHandle(pipe);
    return ok;
  }

 private:
  void Serve() {
    while (!stop_) {
      const HANDLE pipe = CreateNamedPipeW(
          kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
          PIPE_UNLIMITED_INSTANCES, 64 * 1024, 64 * 1024, 0, nullptr);
      if (pipe == INVALID_HANDLE_VALUE) return;
      if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
        CloseHandle(pipe);
        continue;
      }
      std::thread([this, pipe] {
        char buffer[256];
        DWORD done = 0;
        if (ReadFile(pipe, buffer, sizeof(buffer), &done, nullptr) ||
            GetLastError() == ERROR_MORE_DATA) {
          WriteFile(pipe, reply_.data(), static_cast<DWORD>(reply_.size()), &done, nullptr);
        }
        // The client reads the reply, then closes: wait for that.
        ReadFile(pipe, buffer, sizeof(buffer), &done, nullptr);
        CloseHandle(pipe);
      }).detach();
    }
  }

  const std::string reply_;
  std::atomic<bool> stop_{false};
  std::thread server_;
};

}  // namespace

std::unique_ptr<BareEcho> BareEcho::Start(std::string reply) {
  return std::make_unique<PipeEcho>(std::move(reply));
}
