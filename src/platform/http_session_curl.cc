// The HTTPS session on libcurl: one easy handle per session, so that its
// connection cache (and TLS session cache) serves every later request.
// curl_easy_reset before each request clears the options of the last one
// but keeps the live connections.
#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "osal/last_error.h"
#include "platform/http_session.h"
#include "platform/internet_errors.h"

namespace wardex::platform {
namespace {

constexpr size_t kUploadPiece = 64000;
constexpr long kReceivePiece = 8192;  // also the spare room the answer buffer keeps
constexpr char kLoopbackAddress[] = "127.0.0.1";

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlListPtr = std::unique_ptr<curl_slist, CurlListDeleter>;

// What the callbacks of one exchange share.
struct Exchange {
  const HttpRequest* request = nullptr;
  const HttpSessionSettings* settings = nullptr;
  CURL* handle = nullptr;
  HttpResponse* response = nullptr;
  uint64_t uploaded = 0;
  bool too_large = false;
  bool stopped = false;
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const HttpRequest& request = *exchange->request;
  const size_t piece =
      std::min<uint64_t>({size * count, kUploadPiece, request.body_length - exchange->uploaded});
  std::memcpy(buffer, request.body + exchange->uploaded, piece);
  exchange->uploaded += piece;
  return piece;
}

// A request sent again on a new connection (the reused one was closed by
// the server) starts its body again.
int SeekBody(void* user, curl_off_t offset, int origin) {
  auto* exchange = static_cast<Exchange*>(user);
  if (origin != SEEK_SET || offset < 0 ||
      static_cast<uint64_t>(offset) > exchange->request->body_length) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  exchange->uploaded = static_cast<uint64_t>(offset);
  return CURL_SEEKFUNC_OK;
}

size_t ReceiveHeader(char* /*buffer*/, size_t size, size_t count, void* user) {
  static_cast<Exchange*>(user)->response->answered = true;
  return size * count;
}

// Keeps the answer in one buffer with at least one piece of spare room:
// the announced length plus a piece at first, doubled when it runs short
// (growing by one piece at a time would copy the answer once per piece).
size_t ReceiveBody(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  std::string& body = exchange->response->body;
  const size_t piece = size * count;
  if (body.size() + piece > exchange->settings->max_answer_bytes) {
    exchange->too_large = true;
    return CURL_WRITEFUNC_ERROR;
  }
  if (body.capacity() == 0 || body.capacity() - body.size() < piece) {
    curl_off_t announced = -1;
    curl_easy_getinfo(exchange->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    size_t wanted = body.size() + piece + kReceivePiece;
    if (body.capacity() == 0 && announced > 0) {
      wanted = std::max(wanted, static_cast<size_t>(announced) + kReceivePiece);
    }
    body.reserve(std::max(wanted, 2 * body.capacity()));
  }
  body.append(data, piece);
  return piece;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* exchange = static_cast<Exchange*>(user);
  if (exchange->request->stop_requested && exchange->request->stop_requested()) {
    exchange->stopped = true;
    return 1;
  }
  return 0;
}

// The WinINet number of a certificate that failed verification.
uint32_t CertificateError(CURL* handle) {
  long result = X509_V_OK;
  curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &result);
  switch (result) {
    // The chain was good and curl's own host name check failed: curl then
    // leaves the result unspecified.
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return kInternetCertNameInvalid;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return kInternetCertDateInvalid;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return kInternetInvalidCa;
    case X509_V_ERR_CERT_REVOKED:
    case X509_V_ERR_UNABLE_TO_GET_CRL:
      return kInternetCertRevocationFailed;
    default:
      return kInternetSecureFailure;
  }
}

// The WinINet number for a curl result.
uint32_t InternetError(CURLcode code, const Exchange& exchange) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_OPERATION_TIMEDOUT:
      return kInternetTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kInternetNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kInternetCannotConnect;
    case CURLE_PEER_FAILED_VERIFICATION:
      return CertificateError(exchange.handle);
    case CURLE_SSL_CACERT_BADFILE:
      return kInternetInvalidCa;
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
      return kInternetCertRevocationFailed;
    case CURLE_SSL_CONNECT_ERROR:
      return kInternetSecurityChannelError;
    case CURLE_URL_MALFORMAT:
      return kInternetInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kInternetUnrecognizedScheme;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
      return kInternetInvalidServerResponse;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      return kInternetConnectionAborted;
    case CURLE_ABORTED_BY_CALLBACK:
      return exchange.stopped ? kInternetOperationCancelled : kInternetInternalError;
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_OUT_OF_MEMORY:
      return exchange.too_large || code != CURLE_WRITE_ERROR ? kErrorNotEnoughMemory
                                                             : kInternetInternalError;
    default:
      return kInternetInternalError;
  }
}

// The request's address; the host name resolves by the test setting alone
// when it names it.
std::string RequestUrl(const HttpRequest& request) {
  std::string url = "https://" + request.host + ":" + std::to_string(request.port);
  if (request.object.empty() || (request.object[0] != '/' && request.object[0] != '?')) {
    url += '/';
  }
  return url + request.object;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

class CurlSession final : public HttpSession {
 public:
  explicit CurlSession(CURL* handle) : handle_(handle) {}

  HttpResponse Perform(const HttpRequest& request, const HttpSessionSettings& settings) override {
    HttpResponse response;
    Exchange exchange{&request, &settings, handle_.get(), &response};
    CURL* h = handle_.get();
    curl_easy_reset(h);

    CurlListPtr headers;
    for (const std::string& header : request.headers) {
      headers.reset(curl_slist_append(headers.release(), header.c_str()));
    }
    // No "Expect: 100-continue" round trip before a body.
    headers.reset(curl_slist_append(headers.release(), "Expect:"));
    CurlListPtr resolve;
    if (!settings.test_loopback_name.empty() &&
        SameNameIgnoringCase(settings.test_loopback_name, request.host)) {
      const std::string entry =
          request.host + ":" + std::to_string(request.port) + ":" + kLoopbackAddress;
      resolve.reset(curl_slist_append(nullptr, entry.c_str()));
    }
    const std::string url = RequestUrl(request);
    const long stall_seconds = std::max<long>(1, (settings.stall_timeout_ms + 999) / 1000);

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    if (!settings.test_ca_file.empty()) {
      curl_easy_setopt(h, CURLOPT_CAINFO, settings.test_ca_file.c_str());
      curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    }
    if (resolve) curl_easy_setopt(h, CURLOPT_RESOLVE, resolve.get());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connect_timeout_ms));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, stall_seconds);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(settings.max_answer_bytes));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceivePiece);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_REFERER, request.referrer.c_str());
    // A proxy's answer to CONNECT is not the server's answer.
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, ReceiveHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, ReceiveBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &exchange);
    if (request.verb == "POST") {
      curl_easy_setopt(h, CURLOPT_POST, 1L);
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body_length));
      curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadBody);
      curl_easy_setopt(h, CURLOPT_READDATA, &exchange);
      curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, SeekBody);
      curl_easy_setopt(h, CURLOPT_SEEKDATA, &exchange);
    } else if (request.verb != "GET") {
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
    }

    const CURLcode code = request.stop_requested && request.stop_requested()
                              ? CURLE_ABORTED_BY_CALLBACK
                              : curl_easy_perform(h);
    exchange.stopped = exchange.stopped || code == CURLE_ABORTED_BY_CALLBACK;
    response.error = InternetError(code, exchange);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<uint32_t>(status);
    curl_header* location = nullptr;
    if (curl_easy_header(h, "Location", 0, CURLH_HEADER, -1, &location) == CURLHE_OK) {
      response.location = location->value;
    }
    return response;
  }

 private:
  std::unique_ptr<CURL, CurlEasyDeleter> handle_;
};

}  // namespace

std::unique_ptr<HttpSession> HttpSession::Create() {
  // Thread-safe in the libcurl this builds with, and done once.
  static const CURLcode global = curl_global_init(CURL_GLOBAL_DEFAULT);
  CURL* handle = global == CURLE_OK ? curl_easy_init() : nullptr;
  if (handle == nullptr) {
    KaOSAL::SetLastError(kInternetInternalError);
    return nullptr;
  }
  return std::make_unique<CurlSession>(handle);
}

}  // namespace wardex::platform
