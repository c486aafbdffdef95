// wardex-sign on Windows: verifies a library file as the agent does. Windows
// files carry Authenticode signatures, made by the system's signing tools.
#include <string>
#include <vector>

#include "osal/wide_format.h"
#include "wardex_sign.h"

namespace wardex::sign_tool {

const char kUsage[] =
    "Usage:\n"
    "  wardex-sign --verify [--trust-dir DIR] FILE\n"
    "\n"
    "Checks FILE as the agent does: its Authenticode signature, the chain to an\n"
    "anchor, valid now and for code signing, and the publisher; prints the signer\n"
    "and the verdict. Windows files are signed with an Authenticode signing tool\n"
    "(signtool, osslsigncode).\n"
    "\n"
    "  --verify           check FILE (the only mode on Windows)\n"
    "  --trust-dir DIR    trust anchors (*.pem) instead of the machine's trusted\n"
    "                     root authorities\n"
    "  --help             show this text\n"
    "\n"
    "Exit status: 0 trusted; 1 not trusted; 2 wrong usage; 3 FILE could not be read.\n";

int Sign(const Options&) {
  return UsageError("Windows files are signed with an Authenticode signing tool; use --verify");
}

}  // namespace wardex::sign_tool

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(KaOSAL::ToUtf8(reinterpret_cast<const char16_t*>(argv[i]),
                                       std::char_traits<wchar_t>::length(argv[i])));
  }
  return wardex::sign_tool::Run(arguments);
}
