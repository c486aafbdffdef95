// Arbitrary bytes from a peer to a live IPC server whose callback is the
// agent's own (decode, handle nothing, write the reply): no crash, no hang,
// no unbounded allocation, and the server keeps serving.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "fuzz_input.h"
#include "modules/pipe_callback.h"
#include "wardex/ipc.h"

WARDEX_EXPORT wardex::IIpcServer* CreateServerInstance();

namespace {

class NoOpHandler : public wardex::PipeMessageHandler {
 public:
  void HandlePipeMessage(wardex::ModuleMessage&) override {}
};

std::string StartServer() {
  static NoOpHandler handler;
  static wardex::PipeDispatch dispatch(handler);
  char folder[] = "/tmp/wardex-ipc-fuzz-XXXXXX";
  setenv("XDG_RUNTIME_DIR", mkdtemp(folder), 1);
  // Serves for the whole run; held by a static, so it is never taken for a leak.
  static wardex::IIpcServer* const server = CreateServerInstance();
  wardex::fuzz::Require(server->StartListening(u"fuzz", wardex::PipeMessageCallback,
                                               dispatch.context()) == wardex::kIpcOk);
  return std::string(folder) + "/wardex/ipc/fuzz";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = StartServer();
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  wardex::fuzz::Require(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0);
  (void)!send(fd, data, size, MSG_NOSIGNAL);
  // End of input: a short frame is dropped at once instead of at its time-out.
  shutdown(fd, SHUT_WR);
  char buffer[4096];
  while (read(fd, buffer, sizeof(buffer)) > 0) {
  }
  close(fd);
  return 0;
}
