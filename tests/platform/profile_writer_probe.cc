// A second writer of a profile file for the profile tests:
//   profile_writer_probe FILE WRITER COUNT
// writes COUNT keys "<WRITER>_<i>" into section "s" of FILE. Exit code 0
// when every write succeeded.
#include <string>

#include "osal/wide_format.h"
#include "platform/profile.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::u16string file = KaOSAL::FromUtf8(argv[1]);
  const int count = std::stoi(argv[3]);
  for (int i = 0; i < count; ++i) {
    const std::u16string key = KaOSAL::FromUtf8(std::string(argv[2]) + "_" + std::to_string(i));
    if (wardex::platform::WritePrivateProfileString(u"s", key.c_str(), u"1", file.c_str()) != 1) {
      return 1;
    }
  }
  return 0;
}
