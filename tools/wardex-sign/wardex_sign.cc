// wardex-sign's command line and its verification, which is the agent's own
// verdict on the file.
#include "wardex_sign.h"

#include <iostream>
#include <optional>

#include "modules/trust_check.h"
#include "osal/wide_format.h"
#include "platform/code_signature.h"
#include "platform/library_loader.h"

namespace wardex::sign_tool {

namespace {

using platform::SignatureVerdict;

// Parses the command line; returns an exit code when the program should end.
std::optional<int> ParseArguments(const std::vector<std::string>& arguments, Options& options) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return kExitOk;
    } else if (arg == "--verify") {
      options.verify = true;
    } else if (arg == "--key" || arg == "--cert" || arg == "--chain" || arg == "--output" ||
               arg == "--trust-dir") {
      std::string& into = arg == "--key"      ? options.key
                          : arg == "--cert"   ? options.cert
                          : arg == "--chain"  ? options.chain
                          : arg == "--output" ? options.output
                                              : options.trust_dir;
      if (i + 1 >= arguments.size()) return UsageError(arg + " needs a value");
      into = arguments[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else if (options.file.empty()) {
      options.file = arg;
    } else {
      return UsageError("only one FILE may be given");
    }
  }
  if (options.file.empty()) return UsageError("no FILE given");
  if (options.verify &&
      (!options.key.empty() || !options.cert.empty() || !options.output.empty())) {
    return UsageError("--verify does not take --key, --cert or --output");
  }
  return std::nullopt;
}

// The agent's own verdict: the file opened as the loader opens it, then the
// signature and the publisher rule.
int Verify(const Options& options) {
  const std::u16string wide = KaOSAL::FromUtf8(options.file);
  platform::LibraryFile file;
  const auto anchors = options.trust_dir.empty()
                           ? platform::TrustAnchors::ForMachine()
                           : platform::TrustAnchors::FromFolder(options.trust_dir);
  const SignatureVerdict verdict =
      file.Open(KaOSAL::KaString(wide.c_str(), static_cast<int>(wide.size())))
          ? CheckTrust(file, anchors)
          : SignatureVerdict{platform::SignatureStatus::kReadError, {}, {}};
  if (verdict.status == platform::SignatureStatus::kReadError) {
    std::cerr << "wardex-sign: cannot read " << options.file << "\n";
    return kExitFailed;
  }
  const std::string signer =
      KaOSAL::ToUtf8(verdict.signer_name.c_str(), verdict.signer_name.GetLength());
  std::cout << "file: " << options.file << "\n"
            << "signer: " << (signer.empty() ? "(none)" : signer) << "\n";
  if (verdict.trusted()) {
    std::cout << "verdict: trusted\n";
    return kExitOk;
  }
  std::cout << "verdict: NOT TRUSTED - " << SignatureStatusText(verdict.status);
  if (!verdict.detail.empty() && verdict.detail != SignatureStatusText(verdict.status)) {
    std::cout << " (" << verdict.detail << ")";
  }
  std::cout << "\n";
  return kExitNotTrusted;
}

}  // namespace

int UsageError(const std::string& message) {
  std::cerr << "wardex-sign: " << message << "\nTry 'wardex-sign --help'.\n";
  return kExitUsage;
}

int Run(const std::vector<std::string>& arguments) {
  Options options;
  if (const std::optional<int> done = ParseArguments(arguments, options)) return *done;
  return options.verify ? Verify(options) : Sign(options);
}

}  // namespace wardex::sign_tool
