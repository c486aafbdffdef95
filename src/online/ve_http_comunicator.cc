// Mapping onto libcurl (platform/http_session.h): the session is one curl
// handle; opening the connection and the request cannot fail on their own
// there, since curl connects when the request is sent, so every failure
// before the answer's status line is a send failure (kind 3) and every
// failure after it a read failure (kind set to the WinINet number). The end
// of the transfer stands for the ten empty reads that end the read loop.
#include "online/ve_http_comunicator.h"

#include <algorithm>

#include "config/install_config.h"
#include "online/http_settings.h"
#include "osal/ka_path.h"
#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/connectivity.h"
#include "platform/file_system.h"
#include "platform/internet_errors.h"
#include "platform/os_version.h"
#include "platform/product_version.h"
#include "platform/seh_guard.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using KaOSAL::KaString;

constexpr uint16_t kHttpsPort = 443;

std::string Utf8(const KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

KaString Wide(const std::string& text) { return KaString(text.c_str(), KaOSAL::KA_CP_UTF8); }

// |url| made absolute on |base_host| when it names no scheme, and made
// https. A relative target without a leading "/" gets one.
KaString CompleteUrl(const KaString& url, const KaString& base_host) {
  KaString complete = url;
  if (complete.Find(u"https://") < 0 && complete.Find(u"http://") < 0 && !base_host.IsEmpty()) {
    const bool rooted = complete.StartsWith(u"/") || complete.StartsWith(u"?");
    complete = u"https://" + base_host + (rooted ? u"" : u"/") + complete;
  }
  if (complete.Find(u"https://") < 0) complete.Replace(u"http://", u"https://");
  return complete;
}

// The object name: the address without its scheme, leading ":" and "//"
// and the host.
KaString ObjectName(const KaString& url, const KaString& host) {
  KaString object = url;
  if (object.StartsWith(u"https://")) {
    object = object.Mid(8);
  } else if (object.StartsWith(u"http://")) {
    object = object.Mid(7);
  }
  object.TrimLeft(u':');
  while (object.StartsWith(u"//")) object = object.Mid(2);
  if (object.StartsWith(host)) object = object.Mid(host.GetLength());
  return object;
}

// True when |text| is a URL scheme: a letter, then letters, digits, "+",
// "-" or ".".
bool IsScheme(const KaString& text) {
  for (int i = 0; i < text.GetLength(); ++i) {
    const char16_t ch = text[i];
    const bool letter = (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z');
    const bool other = (ch >= u'0' && ch <= u'9') || ch == u'+' || ch == u'-' || ch == u'.';
    if (!letter && (i == 0 || !other)) return false;
  }
  return !text.IsEmpty();
}

// The redirect |target| as an absolute address, resolved against |url| on
// |host| as a browser resolves a link: a scheme counts only at the start, in
// any case; "//" starts another host, "/" a path on this host, "?" a query
// on this path, anything else a path beside this one. Plain HTTP becomes
// HTTPS, so a request never leaves it; empty for any other scheme.
KaString ResolveRedirect(KaString target, const KaString& url, const KaString& host) {
  target.Trim();
  const int delimiter = target.FindOneOf(u":/?#");
  if (delimiter > 0 && target[delimiter] == u':' && IsScheme(target.Left(delimiter))) {
    const KaString scheme = target.Left(delimiter);
    if (scheme.CompareNoCase(u"https") != 0 && scheme.CompareNoCase(u"http") != 0) return {};
    return u"https" + target.Mid(delimiter);
  }
  if (target.StartsWith(u"//")) return u"https:" + target;
  const KaString origin = u"https://" + host;
  if (target.StartsWith(u"/")) return origin + target;
  KaString path = url.Mid(url.Find(u"://") + 3 + host.GetLength());
  if (const int query = path.FindOneOf(u"?#"); query >= 0) path = path.Left(query);
  if (path.IsEmpty()) path = u"/";
  if (target.StartsWith(u"?")) return origin + path + target;
  return origin + path.Left(path.ReverseFind(u'/') + 1) + target;
}

// Splits "name:port" (also "[v6]:port"); a port in the address wins over
// |port|, which is 443 when 0.
void SplitHost(const KaString& host, uint16_t port, std::string* name, uint16_t* chosen) {
  *name = Utf8(host);
  *chosen = port == 0 ? kHttpsPort : port;
  const size_t colon = name->rfind(':');
  const size_t bracket = name->rfind(']');
  if (colon == std::string::npos || (bracket != std::string::npos && bracket > colon)) return;
  const std::string digits = name->substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return;
  }
  const unsigned long value = std::stoul(digits);
  if (value == 0 || value > 65535) return;
  *chosen = static_cast<uint16_t>(value);
  name->resize(colon);
}

}  // namespace

CVeHTTPComunicator::CVeHTTPComunicator() = default;

CVeHTTPComunicator::~CVeHTTPComunicator() = default;

void CVeHTTPComunicator::SetContentTypes(const KaString& content_type, const KaString& accept) {
  if (!content_type.IsEmpty()) content_type_ = content_type;
  if (!accept.IsEmpty()) accept_ = accept;
}

void CVeHTTPComunicator::SetStopCheck(std::function<bool()> stop_requested) {
  stop_requested_ = std::move(stop_requested);
}

platform::HttpSessionSettings CVeHTTPComunicator::SessionSettings() const {
  return ReadHttpSessionSettings();
}

bool CVeHTTPComunicator::CheckConnection() {
  platform::InternetState state = platform::InternetState::kUnavailable;
  const bool ran = platform::RunGuarded(
      [&] { state = platform::GetInternetState(); },
      [](WardexExceptionPointers*) { return static_cast<int>(kExceptionExecuteHandler); });
  if (!ran) {
    system_error_ = 1;
    LogW(kLogError, u"HTTPCOM: ERROR CheckConnection EXCEPTION");
    return false;
  }
  switch (state) {
    case platform::InternetState::kConnected:
      return true;
    case platform::InternetState::kNotConnected:
      LogW(kLogError,
           u"CVeHTTPComunicator::CheckConnection() # get_IsConnectedToInternet returned false. "
           u"No Internet.");
      return false;
    case platform::InternetState::kUnavailable:
      LogW(kLogSysFail,
           u"CVeHTTPComunicator::CheckConnection() # ERROR # CoCreateInstance of "
           u"IID_INetworkListManager failed.");
      LogW(kLogSysFail,
           u"CVeHTTPComunicator::CheckConnection() # ERROR # Call to get_IsConnectedToInternet "
           u"failed.");
      return false;
  }
  return false;
}

std::string CVeHTTPComunicator::HttpPost(const KaString& url, const std::string& body,
                                         int64_t length, uint16_t port) {
  const int64_t whole = static_cast<int64_t>(body.size());
  std::string answer;
  SendRequest(answer, url, body.data(), length < 0 || length > whole ? whole : length, port);
  return answer;
}

bool CVeHTTPComunicator::DownloadFile(const KaString& url, KaString& path) {
  std::string answer;
  SendRequest(answer, url, nullptr, 0, 0);
  if (answer.empty()) return false;
  if (path.IsEmpty()) {
    const KaOSAL::KaPath temp(KaOSAL::KaPath::eSpecialFolderTemp);
    path = temp.ToString() + url.Mid(url.ReverseFind(u'/') + 1);
  }
  if (!platform::ReplaceFileContent(path, answer)) {
    LogW(kLogError, u"HTTPCOM: Error writing %s (%lu)", path.c_str(), KaOSAL::GetLastError());
    return false;
  }
  return true;
}

void CVeHTTPComunicator::SendRequest(std::string& answer, const KaString& url, const char* body,
                                     int64_t length, uint16_t port) {
  answer.clear();
  const bool ran = platform::RunGuarded(
      [&] { Request(answer, url, body, length, port, KaString(), 0); },
      [](WardexExceptionPointers*) { return static_cast<int>(kExceptionExecuteHandler); });
  if (!ran) {
    LogW(kLogError, u"HTTPCOM: Exception SendRequest");
    error_kind_ = kErrorException;
    system_error_ = KaOSAL::GetLastError();
    answer.clear();
  }
}

bool CVeHTTPComunicator::EnsureSession() {
  if (session_) return true;
  if (platform::GetInternetState() != platform::InternetState::kConnected) {
    const uint32_t error = KaOSAL::GetLastError();
    LogW(kLogError, u"HTTPCOM: Error GetConnectedState %d", error);
    error_kind_ = kErrorNotConnected;
    system_error_ = error;
    return false;
  }
  session_ = platform::HttpSession::Create();
  if (!session_) {
    // The platform could not make a session at all: an internal error.
    system_error_ = KaOSAL::GetLastError();
    LogW(kLogError, u"HTTPCOM: Exception %d", system_error_);
    error_kind_ = kErrorInternet;
    return false;
  }
  return true;
}

KaString CVeHTTPComunicator::UserAgent() const {
  const platform::OsVersion os = platform::GetOsVersion();
  KaString system;
  system.Format(u"%S %S; %S", os.kernel_name.c_str(), os.release.c_str(), os.machine.c_str());
  KaString agent;
  agent.Format(u"%s/%s (%s)", ReadInstallConfig(u"install", u"ProductTrackingName", u"").c_str(),
               platform::kProductVersion, system.c_str());
  return agent;
}

void CVeHTTPComunicator::Request(std::string& answer, const KaString& requested, const char* body,
                                 int64_t length, uint16_t port, const KaString& base_host,
                                 int redirects) {
  error_kind_ = 0;
  system_error_ = 0;
  if (requested.IsEmpty()) {
    LogW(kLogError, u"HTTPCOM: empty URL");
    error_kind_ = kErrorBadUrl;
    return;
  }
  const bool is_delete = length == 6 && std::string(body, 6) == "DELETE";
  const char* verb = length > 0 && !is_delete ? "POST" : is_delete ? "DELETE" : "GET";

  const KaString url = CompleteUrl(requested, base_host);
  const int scheme_end = url.Find(u"://");
  if (scheme_end <= 0) {
    LogW(kLogError, u"HTTPCOM: inncorrect URL %s", url.c_str());
    error_kind_ = kErrorBadUrl;
    return;
  }
  const KaString after_scheme = url.Mid(scheme_end + 3);
  const int host_end = after_scheme.FindOneOf(u"/?");
  const KaString host = host_end < 0 ? after_scheme : after_scheme.Left(host_end);
  if (host.IsEmpty()) {
    error_kind_ = kErrorBadUrl;
    return;
  }
  if (!EnsureSession()) return;
  if (!CheckConnection()) {
    LogW(kLogError, u"HTTPCOM: ERROR CheckConnection");
    error_kind_ = kErrorConnect;
    system_error_ = KaOSAL::GetLastError();
    return;
  }

  const KaString object = ObjectName(url, host);
  platform::HttpRequest request;
  request.verb = verb;
  SplitHost(host, port, &request.host, &request.port);
  request.object = Utf8(object);
  request.referrer = Utf8(url);
  request.headers = {"Accept: " + Utf8(accept_), "Content-Type: " + Utf8(content_type_),
                     "User-Agent: " + Utf8(UserAgent())};
  if (request.verb == "POST") {
    request.body = body;
    request.body_length = static_cast<uint64_t>(length);
  }
  request.stop_requested = stop_requested_;
  platform::HttpSessionSettings settings = SessionSettings();
  settings.max_answer_bytes = std::min(settings.max_answer_bytes, max_answer_bytes_);
  platform::HttpResponse response = session_->Perform(request, settings);

  if (!response.answered) {
    LogW(kLogError, u"HTTPCOM: Error SendRequest");
    error_kind_ = kErrorConnect;
    system_error_ = response.error;
    return;
  }
  if (response.status == 301 || response.status == 302) {
    Redirect(answer, url, host, Wide(response.location), body, length, port, redirects);
    return;
  }
  if (response.status != 200) {
    LogW(kLogError, u"HTTPCOM: Error HTTP Status %d", response.status);
    error_kind_ = response.status;
    system_error_ = response.status;
  }
  answer = std::move(response.body);
  if (response.error != 0) {
    LogW(kLogError, u"HTTPCOM: Error read content %d", response.error);
    error_kind_ = response.error;
  }
}

void CVeHTTPComunicator::Redirect(std::string& answer, const KaString& url, const KaString& host,
                                  KaString target, const char* body, int64_t length, uint16_t port,
                                  int redirects) {
  // Without a Location the request's own address stands in, which is a loop.
  if (target.IsEmpty()) target = ObjectName(url, host);
  const KaString resolved = ResolveRedirect(target, url, host);
  if (resolved.IsEmpty()) {
    LogW(kLogError, u"HTTPCOM: redirect to %s refused: not HTTPS", target.c_str());
    error_kind_ = kErrorBadUrl;
    return;
  }
  // Compared once resolved, so that a relative target naming this very
  // address is caught here rather than by the redirect bound.
  if (resolved.CompareNoCase(url) == 0) {
    LogW(kLogError, u"HTTPCOM: Security Error Redir problem %s", url.c_str());
    error_kind_ = kErrorRedirectLoop;
    system_error_ = KaOSAL::GetLastError();
    return;
  }
  if (redirects >= kMaxRedirects) {
    LogW(kLogError, u"HTTPCOM: Exception %d", platform::kInternetRedirectFailed);
    error_kind_ = kErrorInternet;
    system_error_ = platform::kInternetRedirectFailed;
    return;
  }
  Request(answer, resolved, body, length, port, host, redirects + 1);
}

}  // namespace wardex
