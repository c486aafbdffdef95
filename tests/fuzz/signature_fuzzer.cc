// Signature trailers and CMS signatures from arbitrary bytes: the first byte
// chooses whether the input is a whole signed file (trailer parsing first) or
// the signature itself, appended to fixed content with a matching trailer so
// that every run reaches the CMS parser and the signer lookup.
#include "fuzz_input.h"
#include "platform/appended_signature.h"

namespace {

// An anchor-less store: nothing verifies, but every step up to the chain runs.
const wardex::platform::TrustAnchors& Anchors() {
  static const wardex::platform::TrustAnchors anchors;
  return anchors;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool whole_file = (data[0] & 1) != 0;
  ++data;
  --size;
  if (whole_file) {
    if (size >= wardex::platform::kSignatureTrailerSize) {
      (void)wardex::platform::ParseSignatureTrailer(
          data + size - wardex::platform::kSignatureTrailerSize,
          wardex::platform::kSignatureTrailerSize, size);
    }
    const auto verdict = wardex::platform::VerifySignedImage(data, size, Anchors());
    if (verdict.trusted()) __builtin_trap();  // without anchors nothing may pass
    return 0;
  }
  std::string image = "content that the signature claims to cover";
  image.append(reinterpret_cast<const char*>(data), size);
  image += wardex::platform::MakeSignatureTrailer(static_cast<uint32_t>(size));
  const auto verdict = wardex::platform::VerifySignedImage(
      reinterpret_cast<const uint8_t*>(image.data()), image.size(), Anchors());
  if (verdict.trusted()) __builtin_trap();
  return 0;
}
