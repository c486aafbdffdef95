#include <atomic>
#include <string>
#include <thread>

#include "ipc_bare_echo.h"
#include "platform/windows_api.h"

namespace {

constexpr wchar_t kPipe[] = L"\\\\.\\pipe\\wardex-ipc-bench-bare";

// A message-mode pipe of one instance, whose thread serves each client in
// turn.
class PipeEcho final : public BareEcho {
 public:
  explicit PipeEcho(std::string reply)
      : reply_(std::move(reply)),
        pipe_(CreateNamedPipeW(kPipe, PIPE_ACCESS_DUPLEX,
                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 64 * 1024,
                               64 * 1024, 0, nullptr)) {
    server_ = std::thread([this] { Serve(); });
  }

  ~PipeEcho() override {
    stop_ = true;
    Exchange("stop");  // ends the wait for a client
    server_.join();
    CloseHandle(pipe_);
  }

  const char* name() const override { return "bare named-pipe echo"; }

  bool Exchange(std::string_view request) override {
    HANDLE pipe;
    while ((pipe = CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr)) == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_PIPE_BUSY) return false;
      WaitNamedPipeW(kPipe, 1000);
    }
    DWORD done = 0;
    bool ok =
        WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &done, nullptr) != 0;
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
      if (ConnectNamedPipe(pipe_, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
        char buffer[256];
        DWORD done = 0;
        if (ReadFile(pipe_, buffer, sizeof(buffer), &done, nullptr) ||
            GetLastError() == ERROR_MORE_DATA) {
          WriteFile(pipe_, reply_.data(), static_cast<DWORD>(reply_.size()), &done, nullptr);
        }
        // The client reads the reply, then closes: wait for that.
        ReadFile(pipe_, buffer, sizeof(buffer), &done, nullptr);
      }
      DisconnectNamedPipe(pipe_);
    }
  }

  const std::string reply_;
  const HANDLE pipe_;
  std::atomic<bool> stop_{false};
  std::thread server_;
};

}  // namespace

std::unique_ptr<BareEcho> BareEcho::Start(std::string reply) {
  return std::make_unique<PipeEcho>(std::move(reply));
}
