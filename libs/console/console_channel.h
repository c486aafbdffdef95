// The module's side of the Console process. The first message starts
// wardex-console (console_process.h); one I/O thread writes a bounded queue
// of frames to it and routes what comes back. Callers never wait for the
// Console or the user. A Console that ends, hangs (no answer to a ping in
// time) or sends a malformed frame is ended; its open dialogs
// (dialog_ledger.h) are answered "no button" with their check boxes as
// given, and the next message starts a new Console.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "console_process.h"
#include "console_windows.h"
#include "dialog_ledger.h"
#include "osal/ka_string.h"
#include "platform/scoped_fd_posix.h"
#include "protocol/console_protocol.h"
#include "wardex/message_dialog.h"

namespace wardex::console {

class ConsoleChannel final : public ConsoleWindows {
 public:
  struct Options {
    std::string program;  // the wardex-console executable
    std::chrono::milliseconds ping_interval{5000};
    // A Console that has not answered a ping for this long is taken as hung.
    std::chrono::milliseconds ping_timeout{15000};
    // A dialog the Console has not answered this long after its show time is
    // answered "no button" here, whatever the Console does.
    std::chrono::milliseconds dialog_grace{5000};
    size_t max_queued_bytes = 8u << 20;
  };
  // |on_event| is called on the I/O thread.
  ConsoleChannel(Options options, EventHandler on_event);
  // Answers every open dialog "no button", closes the socket (the Console
  // then ends) and reaps the process.
  ~ConsoleChannel() override;
  ConsoleChannel(const ConsoleChannel&) = delete;
  ConsoleChannel& operator=(const ConsoleChannel&) = delete;

  // The answer comes from the I/O thread, or at once from this thread when
  // the dialog cannot be sent.
  void ShowDialog(MessageDialog dialog) override;
  bool Send(const ConsoleMessage& message) override;
  // |message| goes to a running Console now and first to every Console
  // started later.
  void SetStartMessage(const ConsoleMessage& message) override;
  uint32_t NextId() override;
  // How many Console processes were started so far.
  int starts() const;
  // True while a Console process is running.
  bool connected() const { return connected_.load(); }

 private:
  bool Enqueue(std::string frame);
  void Run();
  // One round of the I/O loop; false when the channel is stopping.
  bool Step();
  bool StartConsole();
  // Ends the Console and answers its open dialogs; |why| goes into the log.
  void Disconnect(const char* why);
  void ReadFromConsole();
  void WriteToConsole();
  void Handle(const ConsoleMessage& message);
  // Removes the open dialog |id| and answers it; false when it is not open.
  bool Answer(uint32_t id, int32_t button, const std::vector<uint8_t>* checked);
  // Drops the queue and answers every open dialog "no button".
  void AnswerAll(const char* why);
  // The poll time-out until the next ping or dialog deadline.
  int NextWakeMs() const;

  const Options options_;
  const EventHandler on_event_;

  mutable std::mutex lock_;  // guards what follows up to the I/O thread's own state
  std::string queue_;        // encoded frames not yet handed to the I/O thread
  DialogLedger dialogs_;
  std::string start_frame_;  // see SetStartMessage
  uint32_t next_id_ = 1;
  int starts_ = 0;
  bool stopping_ = false;

  // An eventfd: a caller queued something or the channel stops.
  platform::ScopedFd wake_fd_;
  // The I/O thread's own state.
  std::unique_ptr<ConsoleProcess> console_;
  FrameReader reader_;
  std::string outgoing_;  // bytes taken from queue_, not yet written
  uint32_t ping_serial_ = 0;
  std::optional<std::chrono::steady_clock::time_point> ping_sent_;
  std::chrono::steady_clock::time_point next_ping_;

  std::atomic<bool> connected_{false};
  std::thread thread_;
};

}  // namespace wardex::console
