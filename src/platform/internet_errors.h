// The WinINet error numbers that the HTTP client reports, so that its log
// lines and error kinds mean what they mean on Windows.
#pragma once

#include <cstdint>

namespace wardex::platform {

inline constexpr uint32_t kErrorNotEnoughMemory = 8;  // the answer is larger than the bound
inline constexpr uint32_t kInternetTimeout = 12002;
inline constexpr uint32_t kInternetInternalError = 12004;
inline constexpr uint32_t kInternetInvalidUrl = 12005;
inline constexpr uint32_t kInternetUnrecognizedScheme = 12006;
inline constexpr uint32_t kInternetNameNotResolved = 12007;
inline constexpr uint32_t kInternetOperationCancelled = 12017;
inline constexpr uint32_t kInternetCannotConnect = 12029;
inline constexpr uint32_t kInternetConnectionAborted = 12030;
inline constexpr uint32_t kInternetConnectionReset = 12031;
inline constexpr uint32_t kInternetCertDateInvalid = 12037;
inline constexpr uint32_t kInternetCertNameInvalid = 12038;
inline constexpr uint32_t kInternetInvalidCa = 12045;
inline constexpr uint32_t kInternetCertRevocationFailed = 12057;
inline constexpr uint32_t kInternetInvalidServerResponse = 12152;
inline constexpr uint32_t kInternetRedirectFailed = 12156;
inline constexpr uint32_t kInternetSecurityChannelError = 12157;
inline constexpr uint32_t kInternetDisconnected = 12163;
inline constexpr uint32_t kInternetSecureFailure = 12175;

}  // namespace wardex::platform
