// The receiving side on named pipes: a pipe in message mode per channel,
// reachable by this user alone, held with a named mutex, and one thread that
// takes every pipe instance's completions from one completion port: the
// connections of waiting instances and the reads of requests.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iterator>
#include <list>
#include <system_error>
#include <thread>
#include <vector>

#include "ipc_channel.h"
#include "ipc_pipe_win.h"
#include "ipc_receiver.h"
#include "ipc_server.h"
#include "ipc_workers.h"
#include "wardex/crashlog.h"

namespace wardex::ipc {
namespace {

// Instances kept waiting for clients, so that a burst of clients finds them
// without waiting for the receiving thread to make one each.
constexpr int kWaitingInstances = 16;
constexpr DWORD kPipeBufferSize = 64 * 1024;
// The pause after an instance could not be made (no handles, no memory).
constexpr auto kCreateRetry = std::chrono::milliseconds(100);
// How long the stop waits for the system to confirm cancelled operations.
constexpr DWORD kCancelWaitMs = 5000;

// Milliseconds from now until |when|, rounded up.
DWORD MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
  return static_cast<DWORD>(std::clamp<decltype(left)>(left, 0, INFINITE - 1));
}

// A security descriptor that admits this user alone: the owner, and the only
// entry of its access list.
class UserOnlySecurity {
 public:
  UserOnlySecurity() = default;
  UserOnlySecurity(const UserOnlySecurity&) = delete;
  UserOnlySecurity& operator=(const UserOnlySecurity&) = delete;

  bool Init() {
    sid_ = CurrentUserSid();
    if (sid_.empty()) return false;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + sid_.size());
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    return InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
           AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid_.data()) &&
           InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorOwner(&descriptor_, sid_.data(), FALSE) &&
           SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
  }

  SECURITY_ATTRIBUTES* attributes() {
    attributes_ = {sizeof(attributes_), &descriptor_, FALSE};
    return &attributes_;
  }

 private:
  std::vector<uint8_t> sid_;
  std::vector<uint8_t> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

// Whether the client of |pipe|, whose request has arrived, runs as this user.
// Its identity is there once it has written: a named-pipe server may take it
// on only after reading.
bool ClientIsCurrentUser(HANDLE pipe) {
  if (!ImpersonateNamedPipeClient(pipe)) return false;
  HANDLE token = nullptr;
  const bool opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
  // Going on under the client's identity is never safe.
  if (!RevertToSelf()) std::abort();
  const bool same = opened && TokenOfCurrentUser(token);
  if (opened) CloseHandle(token);
  return same;
}

// One pipe instance: waiting for a client, or reading its request.
struct Instance {
  OVERLAPPED overlapped{};
  ScopedHandle pipe;
  bool reading = false;  // a client is connected
  bool pending = false;  // an operation is under way; its completion is still to come
  bool expired = false;  // cancelled at its deadline
  Clock::time_point deadline;
  RequestReader reader;
};

class PipeReceiver final : public Receiver {
 public:
  PipeReceiver(IpcMessageCallback callback, uintptr_t context)
      : workers_(callback, context, [this] { Wake(); }) {}

  ~PipeReceiver() override {
    if (thread_.joinable()) {
      stopping_ = true;
      Wake();
      thread_.join();
    }
    workers_.Stop();
  }

  int32_t Listen(const char16_t* channel);

 private:
  void Wake() { PostQueuedCompletionStatus(port_.get(), 0, 0, nullptr); }
  void ReceiveLoop();
  // Keeps kWaitingInstances waiting while connection slots are free.
  void AddWaitingInstances(Clock::time_point now);
  // Makes an instance and lets it wait for a client; false with the last
  // error set when it could not be made.
  bool AddInstance();
  void Completed(Instance& instance, DWORD bytes, DWORD error);
  void StartReading(Instance& instance);
  void ReadMore(Instance& instance);
  // Cancels what is under way and waits until the system is done with it.
  void CancelAll();

  Workers workers_;
  UserOnlySecurity security_;
  std::wstring pipe_name_;
  ScopedHandle lock_;
  ScopedHandle port_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  // Receiving thread only, once it runs. Instances never move: the system
  // writes into their OVERLAPPED.
  std::list<Instance> instances_;
  bool first_instance_ = true;
  Clock::time_point create_paused_until_;
  bool create_failing_ = false;  // logged once per run of failures
};

int32_t PipeReceiver::Listen(const char16_t* channel) {
  ChannelPathError path_error = ChannelPathError::kNone;
  const std::string name = ChannelEndpoint(channel, &path_error);
  if (name.empty()) {
    LogW(kLogError, u"IPC: channel \"%s\": %S", channel, ChannelPathErrorText(path_error));
    return kIpcInvalidArgument;
  }
  pipe_name_.assign(name.begin(), name.end());
  if (!security_.Init()) {
    LogW(kLogSysFail, u"IPC: cannot describe the channel's security (error %u)", ::GetLastError());
    return kIpcIoError;
  }
  // One server per channel: the mutex lives while its server's process does.
  const std::wstring lock_name = L"Global\\" + pipe_name_.substr(pipe_name_.rfind(L'\\') + 1);
  SetLastError(ERROR_SUCCESS);
  lock_.reset(CreateMutexW(security_.attributes(), FALSE, lock_name.c_str()));
  const DWORD lock_error = ::GetLastError();
  if (!lock_.valid() || lock_error == ERROR_ALREADY_EXISTS) {
    lock_.reset();
    if (lock_error == ERROR_ALREADY_EXISTS || lock_error == ERROR_ACCESS_DENIED) {
      LogW(kLogError, u"IPC: channel \"%s\" is in use by another server", channel);
      return kIpcChannelInUse;
    }
    LogW(kLogSysFail, u"IPC: cannot take the channel \"%s\" (error %u)", channel, lock_error);
    return kIpcIoError;
  }
  port_.reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  // The first instance exists before this returns, so that a client sent
  // off right after finds the channel.
  if (!port_.valid() || !AddInstance()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
      // Someone else made the pipe first.
      LogW(kLogError, u"IPC: channel \"%s\" is in use by another server", channel);
      return kIpcChannelInUse;
    }
    LogW(kLogSysFail, u"IPC: cannot listen at %s (error %u)",
         reinterpret_cast<const char16_t*>(pipe_name_.c_str()), error);
    return kIpcIoError;
  }
  try {
    thread_ = std::thread(&PipeReceiver::ReceiveLoop, this);
  } catch (const std::system_error& error) {
    LogW(kLogSysFail, u"IPC: cannot start the server's thread (%S)", error.what());
    CancelAll();
    return kIpcIoError;
  }
  return kIpcOk;
}

bool PipeReceiver::AddInstance() {
  DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
  // Fails when any instance of the name exists: one made by someone else
  // before the server started.
  if (first_instance_) open_mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  ScopedHandle pipe(CreateNamedPipeW(
      pipe_name_.c_str(), open_mode,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
      kMaxConnections, kPipeBufferSize, kPipeBufferSize, 0, security_.attributes()));
  if (!pipe.valid() || CreateIoCompletionPort(pipe.get(), port_.get(), 0, 0) == nullptr) {
    return false;
  }
  first_instance_ = false;
  Instance& instance = instances_.emplace_back();
  instance.pipe = std::move(pipe);
  if (ConnectNamedPipe(instance.pipe.get(), &instance.overlapped)) {
    instance.pending = true;
    return true;
  }
  switch (::GetLastError()) {
    case ERROR_IO_PENDING:
      instance.pending = true;
      break;
    case ERROR_PIPE_CONNECTED:
      // A client came between the instance's making and the wait: no
      // completion follows.
      StartReading(instance);
      break;
    default:
      // A client that came and went.
      instance.pipe.reset();
      break;
  }
  return true;
}

void PipeReceiver::AddWaitingInstances(Clock::time_point now) {
  if (now < create_paused_until_) return;
  int waiting = 0;
  int connected = workers_.held();
  for (const Instance& instance : instances_) {
    if (instance.pipe.valid()) ++(instance.reading ? connected : waiting);
  }
  for (; waiting < kWaitingInstances && waiting + connected < kMaxConnections; ++waiting) {
    if (!AddInstance()) {
      if (!create_failing_) {
        LogW(kLogSysFail, u"IPC: cannot make a pipe instance (error %u)", ::GetLastError());
      }
      create_failing_ = true;
      create_paused_until_ = now + kCreateRetry;
      return;
    }
    create_failing_ = false;
  }
}

void PipeReceiver::ReceiveLoop() {
  while (!stopping_) {
    const auto now = Clock::now();
    // Requests not complete in time are cancelled; their completions drop them.
    auto wake_at = Clock::time_point::max();
    for (Instance& instance : instances_) {
      if (!instance.reading || instance.expired || !instance.pending) continue;
      if (instance.deadline <= now) {
        instance.expired = true;
        CancelIoEx(instance.pipe.get(), &instance.overlapped);
      } else {
        wake_at = std::min(wake_at, instance.deadline);
      }
    }
    AddWaitingInstances(now);
    if (create_failing_) wake_at = std::min(wake_at, create_paused_until_);

    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    const BOOL done = GetQueuedCompletionStatus(
        port_.get(), &bytes, &key, &overlapped,
        wake_at == Clock::time_point::max() ? INFINITE : MillisecondsUntil(wake_at));
    const DWORD error = done ? 0 : ::GetLastError();
    // A wake-up, or the next deadline.
    if (overlapped == nullptr) continue;
    Instance& instance = *CONTAINING_RECORD(overlapped, Instance, overlapped);
    instance.pending = false;
    Completed(instance, bytes, error);
    instances_.remove_if([](const Instance& each) { return !each.pipe.valid() && !each.pending; });
  }
  CancelAll();
}

void PipeReceiver::Completed(Instance& instance, DWORD bytes, DWORD error) {
  if (!instance.reading) {
    // The wait for a client ended: a client, or an instance cancelled.
    if (error == 0 || error == ERROR_PIPE_CONNECTED) {
      StartReading(instance);
    } else {
      instance.pipe.reset();
    }
    return;
  }
  RequestReader& reader = instance.reader;
  if (instance.expired || (error != 0 && error != ERROR_MORE_DATA)) {
    reader.LogIncomplete();
    instance.pipe.reset();
    return;
  }
  switch (reader.Took(bytes)) {
    case RequestReader::State::kReading:
      ReadMore(instance);
      return;
    case RequestReader::State::kRefused:
      instance.pipe.reset();
      return;
    case RequestReader::State::kComplete:
      break;
  }
  if (!ClientIsCurrentUser(instance.pipe.get())) {
    LogW(kLogError, u"IPC: refused a peer of another user");
    instance.pipe.reset();
    return;
  }
  workers_.Dispatch(
      {PipeConnection(std::move(instance.pipe)), reader.length(), reader.TakeMessage()});
}

void PipeReceiver::StartReading(Instance& instance) {
  instance.reading = true;
  instance.deadline = Clock::now() + kRequestTimeout;
  ReadMore(instance);
}

void PipeReceiver::ReadMore(Instance& instance) {
  RequestReader& reader = instance.reader;
  instance.overlapped = OVERLAPPED{};
  // Done at once or not, the completion comes through the port; a message
  // longer than what is asked for (ERROR_MORE_DATA) has its part.
  if (ReadFile(instance.pipe.get(), reader.next(), static_cast<DWORD>(reader.wanted()), nullptr,
               &instance.overlapped) ||
      ::GetLastError() == ERROR_IO_PENDING || ::GetLastError() == ERROR_MORE_DATA) {
    instance.pending = true;
    return;
  }
  reader.LogIncomplete();
  instance.pipe.reset();
}

void PipeReceiver::CancelAll() {
  for (Instance& instance : instances_) {
    if (instance.pending) CancelIoEx(instance.pipe.get(), &instance.overlapped);
  }
  const auto give_up = Clock::now() + std::chrono::milliseconds(kCancelWaitMs);
  auto pending = [this] {
    return std::any_of(instances_.begin(), instances_.end(),
                       [](const Instance& instance) { return instance.pending; });
  };
  while (pending()) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    GetQueuedCompletionStatus(port_.get(), &bytes, &key, &overlapped, MillisecondsUntil(give_up));
    if (overlapped != nullptr) {
      CONTAINING_RECORD(overlapped, Instance, overlapped)->pending = false;
    } else if (Clock::now() >= give_up) {
      // Memory the system may still write into is never freed.
      LogW(kLogSysFail, u"IPC: pipe operations were not cancelled in time");
      auto* abandoned = new std::list<Instance>;
      for (auto it = instances_.begin(); it != instances_.end();) {
        const auto next = std::next(it);
        if (it->pending) abandoned->splice(abandoned->end(), instances_, it);
        it = next;
      }
      break;
    }
  }
  instances_.clear();
}

}  // namespace

std::unique_ptr<Receiver> Receiver::Start(const char16_t* channel, IpcMessageCallback callback,
                                          uintptr_t context, int32_t& result) {
  auto receiver = std::make_unique<PipeReceiver>(callback, context);
  result = receiver->Listen(channel);
  if (result != kIpcOk) return nullptr;
  return receiver;
}

// The heap hands large blocks back by itself; this returns what smaller
// freed ones keep.
void ReleaseFreedMemory() { _heapmin(); }

}  // namespace wardex::ipc
