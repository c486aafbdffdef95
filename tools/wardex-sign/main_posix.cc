// wardex-sign on Linux: signs a library file with a key and certificate chain
// (the signature is appended, replacing an old one), or verifies one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/appended_signature.h"
#include "wardex_sign.h"

namespace wardex::sign_tool {

namespace {

namespace fs = std::filesystem;

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

}  // namespace

const char kUsage[] =
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

int Sign(const Options& options) {
  if (options.key.empty() || options.cert.empty()) {
    return UsageError("signing needs --key and --cert");
  }
  platform::SignerCredentials signer;
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
  if (!platform::SignImage(file, signer, signed_file, error)) {
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

}  // namespace wardex::sign_tool

int main(int argc, char** argv) {
  return wardex::sign_tool::Run(std::vector<std::string>(argv + 1, argv + argc));
}
