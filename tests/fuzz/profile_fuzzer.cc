// Profile files as the installer or a user may leave them: any bytes must
// parse, list and read without fault, and a written value must read back.
#include <unistd.h>

#include <fstream>
#include <vector>

#include "fuzz_input.h"
#include "osal/wide_format.h"
#include "platform/profile.h"

namespace {

const std::u16string& FuzzFile() {
  static const std::u16string file = [] {
    char folder[] = "/tmp/wardex-profile-fuzz-XXXXXX";
    return KaOSAL::FromUtf8(std::string(mkdtemp(folder)) + "/fuzz.ini");
  }();
  return file;
}

// The names of a double-zero-terminated list.
std::vector<std::u16string> Names(const std::vector<char16_t>& list) {
  std::vector<std::u16string> names;
  for (size_t i = 0; i < list.size() && list[i] != 0;) {
    names.emplace_back(&list[i]);
    i += names.back().size() + 1;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using wardex::platform::GetPrivateProfileString;
  const std::u16string& file = FuzzFile();
  std::ofstream(KaOSAL::ToUtf8(file), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::vector<char16_t> sections(4096), keys(4096), value(64);
  GetPrivateProfileString(nullptr, nullptr, u"", sections.data(), 4096, file.c_str());
  for (const std::u16string& section : Names(sections)) {
    GetPrivateProfileString(section.c_str(), nullptr, u"", keys.data(), 4096, file.c_str());
    for (const std::u16string& key : Names(keys)) {
      uint32_t length = GetPrivateProfileString(section.c_str(), key.c_str(), u"", value.data(), 64,
                                                file.c_str());
      wardex::fuzz::Require(length <= 63 && value[length] == 0);
    }
  }
  wardex::fuzz::Require(
      wardex::platform::WritePrivateProfileString(u"fuzz", u"key", u"written", file.c_str()) == 1);
  uint32_t length = GetPrivateProfileString(u"FUZZ", u"KEY", u"", value.data(), 64, file.c_str());
  wardex::fuzz::Require(std::u16string(value.data(), length) == u"written");
  return 0;
}
