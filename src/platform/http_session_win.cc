// The HTTPS session on WinINet: one InternetOpenW handle per session, whose
// connection pool serves the later requests to the same server. Every
// request is secure, hands redirects back (INTERNET_FLAG_NO_AUTO_REDIRECT)
// and bypasses the cache, cookies and any dialog; the certificate is checked
// against the system's store. Proxies are the system's (the user's Internet
// settings).
//
// A synchronous WinINet call cannot be cut short from outside (under Wine not
// even by closing its handle), and under Wine a peer that never completes the
// TLS handshake holds it past every time-out. So each exchange runs on a
// thread of its own that the caller waits for while it polls the stop check
// and watches the exchange's progress: a stop gives 12017 at once, and no
// progress for the connect and stall time-outs together gives 12002. The
// abandoned thread ends by itself at the next piece or at WinINet's time-out,
// holding what it uses (the session handle and copies of the request).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/http_session.h"
#include "platform/internet_errors.h"
#include "platform/seh_guard.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kUploadPiece = 64000;
constexpr DWORD kReceivePiece = 8192;
constexpr auto kStopPoll = std::chrono::milliseconds(100);
// A request whose reused connection the server had closed is sent again once.
constexpr int kSendAttempts = 2;
constexpr DWORD kRequestFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_RELOAD |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

struct InternetHandleCloser {
  void operator()(void* handle) const { InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

std::wstring Wide(const std::string& utf8) {
  const std::u16string utf16 = KaOSAL::FromUtf8(utf8);
  return std::wstring(utf16.begin(), utf16.end());
}

// Sets the time-outs on |handle|: WinINet honours them on the connect and
// request handles only.
void SetTimeouts(HINTERNET handle, const HttpSessionSettings& settings) {
  DWORD connect = settings.connect_timeout_ms;
  DWORD stall = settings.stall_timeout_ms;
  InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect));
  InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &stall, sizeof(stall));
  InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall, sizeof(stall));
}

// One exchange, shared by the caller and the thread that runs it.
class Exchange {
 public:
  Exchange(std::shared_ptr<void> session, const HttpRequest& request,
           const HttpSessionSettings& settings)
      : session_(std::move(session)), request_(request), settings_(settings) {
    request_.stop_requested = nullptr;
    if (request.body != nullptr) body_.assign(request.body, request.body_length);
  }

  void Run() {
    HttpResponse response;
    const bool ran = RunGuarded(
        [&] { Perform(response); },
        [](WardexExceptionPointers*) { return static_cast<int>(kExceptionExecuteHandler); });
    if (!ran) response.error = kInternetInternalError;
    std::lock_guard<std::mutex> lock(mutex_);
    response_ = std::move(response);
    done_ = true;
    done_cv_.notify_all();
  }

  // Waits for the end, polling |stop_requested| and the progress.
  HttpResponse Wait(const std::function<bool()>& stop_requested) {
    const auto quiet_limit = std::chrono::milliseconds(settings_.connect_timeout_ms) +
                             std::chrono::milliseconds(settings_.stall_timeout_ms);
    std::unique_lock<std::mutex> lock(mutex_);
    progress_ = Clock::now();
    while (!done_cv_.wait_for(lock, kStopPoll, [this] { return done_; })) {
      uint32_t error = 0;
      if (stop_requested && stop_requested()) {
        error = kInternetOperationCancelled;
      } else if (Clock::now() - progress_ >= quiet_limit) {
        error = kInternetTimeout;
      } else {
        continue;
      }
      abandoned_ = true;
      HttpResponse response;
      response.error = error;
      response.answered = answered_;
      return response;
    }
    return std::move(response_);
  }

 private:
  // Notes progress; false when the caller has gone.
  bool Progress(bool answered = false) {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_ = Clock::now();
    answered_ = answered_ || answered;
    return !abandoned_;
  }

  void Perform(HttpResponse& response) {
    const InternetHandle connect(InternetConnectW(session_.get(), Wide(request_.host).c_str(),
                                                  request_.port, nullptr, nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, 0));
    if (!connect) {
      response.error = ::GetLastError();
      return;
    }
    SetTimeouts(connect.get(), settings_);
    const std::wstring object =
        Wide(request_.object.empty() || (request_.object[0] != '/') ? "/" + request_.object
                                                                    : request_.object);
    const std::wstring referrer = Wide(request_.referrer);
    const InternetHandle handle(
        HttpOpenRequestW(connect.get(), Wide(request_.verb).c_str(), object.c_str(), L"HTTP/1.1",
                         referrer.empty() ? nullptr : referrer.c_str(), nullptr, kRequestFlags, 0));
    if (!handle) {
      response.error = ::GetLastError();
      return;
    }
    SetTimeouts(handle.get(), settings_);
    for (const std::string& header : request_.headers) {
      HttpAddRequestHeadersW(handle.get(), Wide(header).c_str(), static_cast<DWORD>(-1),
                             HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    }
    if (!Send(handle.get(), response)) return;
    response.answered = true;
    Progress(true);
    DWORD status = 0;
    DWORD size = sizeof(status);
    HttpQueryInfoW(handle.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                   nullptr);
    response.status = status;
    // The header's bytes as sent, as on the wire.
    char location[2048];
    size = sizeof(location);
    if (HttpQueryInfoA(handle.get(), HTTP_QUERY_LOCATION, location, &size, nullptr)) {
      response.location.assign(location, size);
    }
    Receive(handle.get(), response);
  }

  // Sends the request with its body in pieces; false with the error set when
  // no answer came.
  bool Send(HINTERNET handle, HttpResponse& response) {
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
      const Clock::time_point start = Clock::now();
      bool sent = false;
      if (request_.verb != "POST") {
        sent = HttpSendRequestW(handle, nullptr, 0, nullptr, 0);
      } else {
        INTERNET_BUFFERSW buffers{};
        buffers.dwStructSize = sizeof(buffers);
        buffers.dwBufferTotal = static_cast<DWORD>(body_.size());
        sent = HttpSendRequestExW(handle, &buffers, nullptr, 0, 0);
        for (size_t done = 0; sent && done < body_.size();) {
          DWORD written = 0;
          const DWORD piece =
              static_cast<DWORD>(std::min<size_t>(kUploadPiece, body_.size() - done));
          sent = InternetWriteFile(handle, body_.data() + done, piece, &written) && written > 0 &&
                 Progress();
          done += written;
        }
        sent = sent && HttpEndRequestW(handle, nullptr, 0, 0);
      }
      if (sent) return true;
      response.error = ErrorOf(start);
      if (response.error != ERROR_INTERNET_FORCE_RETRY) return false;
    }
    return false;
  }

  // Reads the answer up to the bound as it arrives; an announced length
  // above the bound is refused before anything is read, an answer that ends
  // short of it is a broken connection.
  void Receive(HINTERNET handle, HttpResponse& response) {
    // As text: Wine answers no 64-bit number.
    char length[32];
    DWORD size = sizeof(length);
    const bool known = HttpQueryInfoA(handle, HTTP_QUERY_CONTENT_LENGTH, length, &size, nullptr);
    const uint64_t announced = known ? std::strtoull(length, nullptr, 10) : 0;
    if (known && announced > settings_.max_answer_bytes) {
      response.error = kErrorNotEnoughMemory;
      return;
    }
    if (known) response.body.reserve(announced);
    char piece[kReceivePiece];
    for (;;) {
      const Clock::time_point start = Clock::now();
      DWORD available = 0;
      DWORD got = 0;
      // What has arrived, so that a read does not wait to fill its buffer.
      if (!InternetQueryDataAvailable(handle, &available, 0, 0) ||
          !InternetReadFile(handle, piece, std::clamp<DWORD>(available, 1, sizeof(piece)), &got)) {
        response.error = ErrorOf(start);
        return;
      }
      if (!Progress()) {
        response.error = kInternetOperationCancelled;
        return;
      }
      if (got == 0) {
        if (known && response.body.size() < announced) response.error = kInternetConnectionAborted;
        return;
      }
      if (response.body.size() + got > settings_.max_answer_bytes) {
        response.error = kErrorNotEnoughMemory;
        return;
      }
      response.body.append(piece, got);
    }
  }

  // The error of a call that began at |start|. A call that failed as aborted
  // after waiting the whole stall time-out ran into it: Wine reports that so,
  // Windows as 12002.
  uint32_t ErrorOf(Clock::time_point start) const {
    const uint32_t error = ::GetLastError();
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    if (error == kInternetConnectionAborted &&
        waited.count() >= static_cast<int64_t>(settings_.stall_timeout_ms)) {
      return kInternetTimeout;
    }
    return error;
  }

  const std::shared_ptr<void> session_;
  HttpRequest request_;
  const HttpSessionSettings settings_;
  std::string body_;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  bool abandoned_ = false;
  bool answered_ = false;
  Clock::time_point progress_;
  HttpResponse response_;
};

class WinInetSession final : public HttpSession {
 public:
  explicit WinInetSession(HINTERNET session) : session_(session, InternetHandleCloser()) {}

  HttpResponse Perform(const HttpRequest& request, const HttpSessionSettings& settings) override {
    if (request.stop_requested && request.stop_requested()) {
      HttpResponse response;
      response.error = kInternetOperationCancelled;
      return response;
    }
    auto exchange = std::make_shared<Exchange>(session_, request, settings);
    std::thread([exchange] { exchange->Run(); }).detach();
    return exchange->Wait(request.stop_requested);
  }

 private:
  std::shared_ptr<void> session_;
};

}  // namespace

std::unique_ptr<HttpSession> HttpSession::Create() {
  HINTERNET session = InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) {
    KaOSAL::SetLastError(::GetLastError());
    return nullptr;
  }
  return std::make_unique<WinInetSession>(session);
}

}  // namespace wardex::platform
