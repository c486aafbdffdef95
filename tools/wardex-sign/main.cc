// wardex-sign: signs a library file with a key and certificate chain (the
// signature is appended, replacing an old one), or verifies one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

#include "modules/module_library.h"
#include "osal/wide_format.h"
#include "platform/appended_signature.h"
#include "platform/code_signature.h"
#include "platform/library_loader.h"

namespace {

namespace fs = std::filesystem;
using wardex::platform::SignatureVerdict;

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitNotTrusted = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 3;

constexpr char kUsage[] =
    "Usage:\n"
    "  wardex-sign --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] [--output OUT] FILE\n"
    "  wardex-sign --verify [--trust-dir DIR] FILE\n"
    "\n"
    "Signs FILE: appends a detached CMS signature (DER) over its content and a\n"
    "32-byte trailer (4-byte big-endian signature length, \"~Wardex signature appended~\\n\").\n"
    "An existing signature is replaced. FILE is rewritten in place unless --output is given.\n"
    "\n"
    "  --key KEY.pem      the signer's private key (PEM)\n"
    "  --cert CERT.pem    the signer's certificate (PEM)\n"
    "  --chain CHAIN.pem  intermediate certificates to include (PEM), not the anchor\n"
    "  --output OUT       write the signed file to OUT\n"
    "  --verify           check FILE as the agent does (signature, anchors and\n"
    "                     publisher) and print its signer and the verdict\n"
    "  --trust-dir DIR    trust anchors (*.pem) for --verify; default\n"
    "                     $WARDEX_ROOT/etc/wardex/trust (WARDEX_ROOT defaults to /)\n"
    "  --help             show this text\n"
    "\n"
    "Exit status: 0 signed, or verified and trusted; 1 not trusted; 2 wrong usage;\n"
    "3 a file could not be read or written, or signing failed.\n";

struct Options {
  bool verify = false;
  std::string key, cert, chain, output, trust_dir, file;
};

int UsageError(const std::string& message) {
  std::cerr << "wardex-sign: " << message << "\nTry 'wardex-sign --help'.\n";
  return kExitUsage;
}

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  out = buffer.str();
  return !in.bad();
}

// Writes |content| to |path| through a temporary file in the same folder, so
// that a reader never sees half a file; keeps the permissions of |like|. The
// temporary file is created exclusively under an unpredictable name, so that a
// link planted in the folder is never written through.
bool WriteFileAtomically(const std::string& path, const std::string& content,
                         const std::string& like, std::string& error) {
  const fs::path folder = fs::path(path).parent_path();
  std::string temporary =
      ((folder.empty() ? fs::path(".") : folder) / ".wardex-sign.XXXXXX").string();
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a temporary file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t written = 0;
  while (written < content.size()) {
    const ssize_t got = write(fd, content.data() + written, content.size() - written);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    written += static_cast<size_t>(got);
  }
  struct stat info {};
  const bool done = written == content.size() && stat(like.c_str(), &info) == 0 &&
                    fchmod(fd, info.st_mode & 07777) == 0 && fsync(fd) == 0;
  if (close(fd) != 0 || !done || rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

// Parses the command line; returns an exit code when the program should end.
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
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
      if (!value(into)) return UsageError(arg + " needs a value");
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
  if (!options.verify && (options.key.empty() || options.cert.empty())) {
    return UsageError("signing needs --key and --cert");
  }
  return std::nullopt;
}

// The agent's own verdict: the file opened as the loader opens it, then the
// signature and the publisher rule.
int Verify(const Options& options) {
  const std::u16string wide = KaOSAL::FromUtf8(options.file);
  wardex::platform::LibraryFile file;
  const auto anchors = options.trust_dir.empty()
                           ? wardex::platform::TrustAnchors::ForMachine()
                           : wardex::platform::TrustAnchors::FromFolder(options.trust_dir);
  const SignatureVerdict verdict =
      file.Open(KaOSAL::KaString(wide.c_str(), static_cast<int>(wide.size())))
          ? wardex::CheckTrust(file, anchors)
          : SignatureVerdict{wardex::platform::SignatureStatus::kReadError, {}, {}};
  if (verdict.status == wardex::platform::SignatureStatus::kReadError) {
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

int Sign(const Options& options) {
  wardex::platform::SignerCredentials signer;
  std::string file;
  for (const auto& [path, into] :
       {std::pair<const std::string&, std::string&>{options.key, signer.key_pem},
        {options.cert, signer.certificate_pem},
        {options.file, file}}) {
    if (!ReadFile(path, into)) {
      std::cerr << "wardex-sign: cannot read " << path << "\n";
      return kExitFailed;
    }
  }
  if (!options.chain.empty() && !ReadFile(options.chain, signer.chain_pem)) {
    std::cerr << "wardex-sign: cannot read " << options.chain << "\n";
    return kExitFailed;
  }
  std::string signed_file, error;
  if (!wardex::platform::SignImage(file, signer, signed_file, error)) {
    std::cerr << "wardex-sign: " << options.file << ": " << error << "\n";
    return kExitFailed;
  }
  const std::string& target = options.output.empty() ? options.file : options.output;
  if (!WriteFileAtomically(target, signed_file, options.file, error)) {
    std::cerr << "wardex-sign: " << error << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::optional<int> done = ParseArguments(argc, argv, options)) return *done;
  return options.verify ? Verify(options) : Sign(options);
}
