// CVeHTTPComunicator: the agent's HTTP client. Each user makes its own
// instance on the thread that needs it; the instance's session (made by the
// first request) keeps the connection for its later requests. HTTPS only:
// every address becomes an "https://" address. Requests are synchronous;
// the error kind and system error describe the last one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "osal/ka_string.h"
#include "platform/http_session.h"

namespace wardex {

class CVeHTTPComunicator {
 public:
  // Error kinds besides 0 (success), an HTTP status and a WinINet number.
  static constexpr uint32_t kErrorNotConnected = 1;
  static constexpr uint32_t kErrorBadUrl = 2;
  static constexpr uint32_t kErrorConnect = 3;
  static constexpr uint32_t kErrorInternet = 4;
  static constexpr uint32_t kErrorException = 5;
  static constexpr uint32_t kErrorRedirectLoop = 6;
  // Redirects followed for one request; one more ends it with kind 4 (12156).
  static constexpr int kMaxRedirects = 10;

  CVeHTTPComunicator();
  virtual ~CVeHTTPComunicator();
  CVeHTTPComunicator(const CVeHTTPComunicator&) = delete;
  CVeHTTPComunicator& operator=(const CVeHTTPComunicator&) = delete;

  // Each argument that is not empty replaces its field.
  void SetContentTypes(const KaOSAL::KaString& content_type, const KaOSAL::KaString& accept);
  // True when the computer reports a connection to the Internet.
  bool CheckConnection();
  // POSTs the first |length| bytes of |body| (all of it when negative) and
  // returns the answer, also the part that arrived before a failure. An
  // empty body is a GET; a body of exactly "DELETE" a DELETE without body.
  // Port 0 is 443; a port in the address takes precedence.
  std::string HttpPost(const KaOSAL::KaString& url, const std::string& body, int64_t length = -1,
                       uint16_t port = 0);
  // GETs |url| into the file |path| (when empty: the temporary folder and
  // the address's last part, returned in |path|). True when a non-empty
  // answer was written.
  bool DownloadFile(const KaOSAL::KaString& url, KaOSAL::KaString& path);

  [[nodiscard]] uint32_t GetErrorKind() const { return error_kind_; }
  [[nodiscard]] uint32_t GetSystemError() const { return system_error_; }

  // Makes a running request, and every later one, end within about a
  // second (WinINet error 12017) once |stop_requested| returns true. It is
  // called on the requesting thread; it must be safe to call there while
  // another thread decides (an atomic flag, a worker's stop mark).
  void SetStopCheck(std::function<bool()> stop_requested);
  // Lowers the largest answer accepted (the session's bound stays the upper
  // limit), for callers that know how much they expect.
  void SetMaxAnswerBytes(uint64_t max_answer_bytes) { max_answer_bytes_ = max_answer_bytes; }

 protected:
  // The session settings for the next request (install.cfg, read anew).
  virtual platform::HttpSessionSettings SessionSettings() const;

 private:
  // Runs Request under a structured-exception guard.
  void SendRequest(std::string& answer, const KaOSAL::KaString& url, const char* body,
                   int64_t length, uint16_t port);
  // One request and the redirects it leads to.
  void Request(std::string& answer, const KaOSAL::KaString& url, const char* body, int64_t length,
               uint16_t port, const KaOSAL::KaString& base_host, int redirects);
  // Follows a 301/302 answer to |location| (or the request URI |object|).
  void Redirect(std::string& answer, const KaOSAL::KaString& url, const KaOSAL::KaString& host,
                KaOSAL::KaString target, const char* body, int64_t length, uint16_t port,
                int redirects);
  // Makes the session unless it exists; false (kind 1) when not connected.
  bool EnsureSession();
  KaOSAL::KaString UserAgent() const;

  uint32_t error_kind_ = 0;
  uint32_t system_error_ = 0;
  std::unique_ptr<platform::HttpSession> session_;
  KaOSAL::KaString content_type_ = u"text/plain; charset=utf-8";
  KaOSAL::KaString accept_ = u"*/*";
  std::function<bool()> stop_requested_;
  uint64_t max_answer_bytes_ = UINT64_MAX;
};

}  // namespace wardex
