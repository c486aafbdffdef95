// wardex-reg: reads and repairs the registry store in the manner of the
// Windows "reg" command, so that support staff can look at an agent's
// counters and time stamps without writing SQL.
//
//   wardex-reg query  KEY [/v NAME | /ve] [/s] [/reg:32 | /reg:64]
//   wardex-reg set    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f] [/reg:32 | /reg:64]
//   wardex-reg delete KEY [/v NAME | /ve] [/f] [/reg:32 | /reg:64]
//   wardex-reg export KEY FILE [/y] [/reg:32 | /reg:64]
//
// Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "osal/ka_string.h"
#include "osal/wide_format.h"
#include "platform/registry_store.h"

namespace {

using KaOSAL::KaString;
namespace reg = wardex::platform;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "Usage:\n"
    "  wardex-reg query  KEY [/v NAME | /ve] [/s] [/reg:32 | /reg:64]\n"
    "  wardex-reg set    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f] [/reg:32 | /reg:64]\n"
    "  wardex-reg delete KEY [/v NAME | /ve] [/f] [/reg:32 | /reg:64]\n"
    "  wardex-reg export KEY FILE [/y] [/reg:32 | /reg:64]\n"
    "\n"
    "KEY     ROOT\\Path\\Below, ROOT one of HKLM, HKCU, HKCR, HKU (or their\n"
    "        HKEY_... names), e.g. HKLM\\SOFTWARE\\Corvane\\Brisko\n"
    "/v      the value's name; /ve the key's default (unnamed) value\n"
    "/s      query: also every sub-key, recursively\n"
    "/t      set: REG_SZ (default), REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY\n"
    "/d      set: the data. REG_DWORD and REG_QWORD take decimal or 0x-hex numbers,\n"
    "        REG_BINARY hex bytes (\"00f1536500000000\") or @SECONDS, which stores a\n"
    "        time stamp as the agent does: 8 bytes, little-endian\n"
    "/f, /y  accepted as with \"reg\"; wardex-reg never asks before it writes\n"
    "/reg:32 the 32-bit view, the agent's own (default); /reg:64 the 64-bit view\n"
    "delete  without /v or /ve deletes the key with all its sub-keys; the root keys,\n"
    "        HKLM\\SOFTWARE and Software\\Classes (HKCR) cannot be deleted\n"
    "export  writes the key and its sub-keys as a .reg file; FILE - is stdout\n"
    "--help, -h, /?  print this text\n"
    "\n"
    "The machine hive is $WARDEX_ROOT/var/lib/wardex/registry/machine.db (WARDEX_ROOT\n"
    "defaults to /); the user's hive $XDG_DATA_HOME/wardex/registry/user.db.\n"
    "A hive whose writer was interrupted cannot be read by other users until a user\n"
    "who may write it opens it: \"wardex-reg query HKLM\" as root repairs the machine hive.\n";

struct RootName {
  const char* short_name;
  const char* long_name;
  reg::HKEY root;
};

constexpr RootName kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", reg::HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", reg::HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", reg::HKEY_CLASSES_ROOT},
    {"HKU", "HKEY_USERS", reg::HKEY_USERS},
};

struct TypeName {
  const char* name;
  uint32_t type;
};

constexpr TypeName kTypes[] = {
    {"REG_SZ", reg::REG_SZ},         {"REG_EXPAND_SZ", reg::REG_EXPAND_SZ},
    {"REG_DWORD", reg::REG_DWORD},   {"REG_QWORD", reg::REG_QWORD},
    {"REG_BINARY", reg::REG_BINARY}, {"REG_NONE", reg::REG_NONE},
};

KaString Wide(const std::string& text) { return KaString(text.c_str(), KaOSAL::KA_CP_UTF8); }
std::string Narrow(const KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}
// Command-line words compare without regard to case, as with "reg".
bool SameText(const std::string& a, const char* b) {
  const size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

struct Options {
  std::string command;
  const RootName* root = nullptr;
  std::string path;                  // below the root, without leading or trailing "\"
  std::optional<std::string> value;  // "" for the default value
  std::string type = "REG_SZ";
  std::optional<std::string> data;
  std::string file;
  bool recursive = false;
  uint32_t view = reg::KEY_WOW64_32KEY;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "ERROR: %s\nType \"wardex-reg --help\" for usage.\n", message.c_str());
  return kExitUsage;
}

int Failure(uint32_t error) {
  switch (error) {
    case 2:
      std::fprintf(stderr,
                   "ERROR: The system was unable to find the specified registry key or value.\n");
      break;
    case 5:
      std::fprintf(stderr, "ERROR: Access is denied.\n");
      break;
    case 87:
      std::fprintf(stderr, "ERROR: Invalid key name.\n");
      break;
    case reg::kErrorHiveBusy:
      std::fprintf(stderr,
                   "ERROR: Another process holds the registry hive's lock; try again later.\n");
      break;
    case reg::kErrorHiveCorrupt:
      std::fprintf(stderr, "ERROR: The registry hive is damaged (error %u).\n", error);
      break;
    case reg::kErrorHiveIo:
      std::fprintf(stderr,
                   "ERROR: The registry hive cannot be read (error %u). If a writer was "
                   "interrupted, run \"wardex-reg query HKLM\" as a user who may write the "
                   "hive to roll its journal back.\n",
                   error);
      break;
    default:
      std::fprintf(stderr, "ERROR: The registry store failed with error %u.\n", error);
      break;
  }
  return kExitFailed;
}

// Splits "HKLM\SOFTWARE\x" into its root and path.
bool ParseKey(const std::string& key, Options& options) {
  std::string root = key.substr(0, key.find('\\'));
  for (const RootName& name : kRoots) {
    if (SameText(root, name.short_name) || SameText(root, name.long_name)) options.root = &name;
  }
  if (options.root == nullptr) return false;
  options.path = root.size() < key.size() ? key.substr(root.size() + 1) : "";
  while (!options.path.empty() && options.path.back() == '\\') options.path.pop_back();
  return true;
}

// Returns an error message, or empty when the command line is complete.
std::string ParseArguments(int argc, char** argv, Options& options) {
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (SameText(arg, "/v")) {
      options.value = next();
      if (!options.value) return "/v needs a value name.";
    } else if (SameText(arg, "/ve")) {
      options.value = "";
    } else if (SameText(arg, "/t")) {
      auto type = next();
      if (!type) return "/t needs a type.";
      options.type = *type;
    } else if (SameText(arg, "/d")) {
      options.data = next();
      if (!options.data) return "/d needs data.";
    } else if (SameText(arg, "/s")) {
      options.recursive = true;
    } else if (SameText(arg, "/f") || SameText(arg, "/y")) {
      // "reg" asks before it overwrites or deletes unless told not to; we never ask.
    } else if (SameText(arg, "/reg:32")) {
      options.view = reg::KEY_WOW64_32KEY;
    } else if (SameText(arg, "/reg:64")) {
      options.view = reg::KEY_WOW64_64KEY;
    } else if (arg.size() > 1 && arg[0] == '/' && arg.find_first_of("/.", 1) == std::string::npos) {
      return "Invalid option: " + arg;
    } else {
      positional.push_back(arg);
    }
  }
  const bool is_export = options.command == "export";
  if (positional.empty()) return "A key is needed.";
  if (positional.size() != (is_export ? 2u : 1u)) return "Too many or too few arguments.";
  if (!ParseKey(positional[0], options)) return "Invalid key name: " + positional[0];
  if (is_export) options.file = positional[1];
  return {};
}

std::string Hex(const std::vector<uint8_t>& data, const char* separator) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(byte, sizeof(byte), "%02X", data[i]);
    if (i > 0) text += separator;
    text += byte;
  }
  return text;
}

uint64_t LittleEndian(const std::vector<uint8_t>& data) {
  uint64_t value = 0;
  for (size_t i = data.size(); i-- > 0;) value = (value << 8) | data[i];
  return value;
}

std::string StringData(const std::vector<uint8_t>& data) {
  std::u16string text(data.size() / 2, u'\0');
  std::memcpy(text.data(), data.data(), text.size() * 2);
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  return KaOSAL::ToUtf8(text);
}

const char* TypeText(uint32_t type) {
  for (const TypeName& name : kTypes) {
    if (name.type == type) return name.name;
  }
  return "REG_UNKNOWN";
}

// The data as "reg query" shows it; an 8-byte binary value is also shown as
// the time stamp it usually is.
std::string ShowData(uint32_t type, const std::vector<uint8_t>& data) {
  char text[96];
  if (type == reg::REG_SZ || type == reg::REG_EXPAND_SZ) return StringData(data);
  if ((type == reg::REG_DWORD && data.size() == 4) ||
      (type == reg::REG_QWORD && data.size() == 8)) {
    std::snprintf(text, sizeof(text), "0x%" PRIx64, LittleEndian(data));
    return text;
  }
  std::string shown = Hex(data, "");
  if (type == reg::REG_BINARY && data.size() == 8) {
    const auto seconds = static_cast<int64_t>(LittleEndian(data));
    const time_t when = static_cast<time_t>(seconds);
    tm utc{};
    if (gmtime_r(&when, &utc) != nullptr) {
      char date[40];
      std::strftime(date, sizeof(date), "%Y-%m-%d %H:%M:%S UTC", &utc);
      std::snprintf(text, sizeof(text), "    (@%" PRId64 " = %s)", seconds, date);
      shown += text;
    }
  }
  return shown;
}

std::string FullKey(const Options& options, const std::string& path) {
  return std::string(options.root->long_name) + (path.empty() ? "" : "\\" + path);
}

std::string Join(const std::string& path, const KaString& child) {
  return path.empty() ? Narrow(child) : path + "\\" + Narrow(child);
}

uint32_t QueryKey(const Options& options, const std::string& path) {
  const KaString key = Wide(path);
  std::vector<reg::RegValueEntry> values;
  std::vector<KaString> children;
  uint32_t error =
      reg::RegEnumValues(options.root->root, key, reg::KEY_READ | options.view, &values);
  if (error == 0)
    error = reg::RegEnumKeys(options.root->root, key, reg::KEY_READ | options.view, &children);
  if (error != 0) return error;
  std::printf("\n%s\n", FullKey(options, path).c_str());
  for (const reg::RegValueEntry& value : values) {
    const std::string name = value.name.IsEmpty() ? "(Default)" : Narrow(value.name);
    std::printf("    %s    %s    %s\n", name.c_str(), TypeText(value.type),
                ShowData(value.type, value.data).c_str());
  }
  for (const KaString& child : children) {
    if (options.recursive) {
      error = QueryKey(options, Join(path, child));
      if (error != 0) return error;
    } else {
      std::printf("%s\n", FullKey(options, Join(path, child)).c_str());
    }
  }
  return 0;
}

int Query(const Options& options) {
  if (!options.value) {
    const uint32_t error = QueryKey(options, options.path);
    return error == 0 ? kExitOk : Failure(error);
  }
  uint32_t type = 0, size = 0;
  const KaString key = Wide(options.path), name = Wide(*options.value);
  const uint32_t access = reg::KEY_READ | options.view;
  uint32_t error = reg::RegQueryValue(options.root->root, key, name, access, &type, nullptr, &size);
  std::vector<uint8_t> data(size);
  if (error == 0) {
    error = reg::RegQueryValue(options.root->root, key, name, access, &type, data.data(), &size);
  }
  if (error != 0) return Failure(error);
  data.resize(size);
  std::printf("\n%s\n    %s    %s    %s\n", FullKey(options, options.path).c_str(),
              options.value->empty() ? "(Default)" : options.value->c_str(), TypeText(type),
              ShowData(type, data).c_str());
  return kExitOk;
}

// Parses a decimal or 0x-hex number that fits |bits|. Leading zeros are
// decimal, as with "reg": 010 is ten, 09 is nine.
std::optional<uint64_t> ParseNumber(const std::string& text, int bits) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
                            std::string::npos) {
    return std::nullopt;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  if (bits < 64 && value >> bits != 0) return std::nullopt;
  return value;
}

// The bytes of |text| as |type|, or an error message in |error|.
std::vector<uint8_t> EncodeData(uint32_t type, const std::string& text, std::string& error) {
  std::vector<uint8_t> bytes;
  auto little_endian = [&bytes](uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  if (type == reg::REG_SZ || type == reg::REG_EXPAND_SZ) {
    const KaString wide = Wide(text);
    bytes.resize(static_cast<size_t>(wide.GetLength() + 1) * 2);
    std::memcpy(bytes.data(), wide.c_str(), bytes.size());
  } else if (type == reg::REG_DWORD || type == reg::REG_QWORD) {
    const int size = type == reg::REG_DWORD ? 4 : 8;
    auto number = ParseNumber(text, size * 8);
    if (!number) error = "Invalid number for " + std::string(TypeText(type)) + ": " + text;
    little_endian(number.value_or(0), size);
  } else if (type == reg::REG_BINARY && !text.empty() && text[0] == '@') {
    auto seconds = ParseNumber(text.substr(1), 63);
    if (!seconds) error = "Invalid time stamp: " + text;
    little_endian(seconds.value_or(0), 8);
  } else if (type == reg::REG_BINARY) {
    if (text.size() % 2 != 0 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      error = "Invalid hex data: " + text;
    }
    for (size_t i = 0; error.empty() && i < text.size(); i += 2) {
      bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
  } else if (!text.empty()) {
    error = "REG_NONE takes no data.";
  }
  return bytes;
}

int Set(const Options& options) {
  std::optional<uint32_t> type;
  for (const TypeName& name : kTypes) {
    if (SameText(options.type, name.name)) type = name.type;
  }
  if (!type) return UsageError("Invalid type: " + options.type);
  if (!options.value && options.data) return UsageError("/d needs /v or /ve.");
  std::string error_text;
  const std::vector<uint8_t> bytes = EncodeData(*type, options.data.value_or(""), error_text);
  if (!error_text.empty()) return UsageError(error_text);
  const KaString key = Wide(options.path);
  const uint32_t access = reg::KEY_WRITE | options.view;
  uint32_t error = reg::RegCreateKey(options.root->root, key, access);
  if (error == 0 && options.value) {
    error = reg::RegSetValue(options.root->root, key, Wide(*options.value), access, *type,
                             bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  if (error != 0) return Failure(error);
  std::printf("The operation completed successfully.\n");
  return kExitOk;
}

int Delete(const Options& options) {
  const KaString key = Wide(options.path);
  const uint32_t access = reg::KEY_WRITE | options.view;
  const uint32_t error =
      options.value ? reg::RegDeleteValue(options.root->root, key, Wide(*options.value), access)
                    : reg::RegDeleteTree(options.root->root, key, access);
  if (error != 0) return Failure(error);
  std::printf("The operation completed successfully.\n");
  return kExitOk;
}

std::string RegString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// Whether a REG_SZ value can be exported as a quoted string: one line, and
// nothing after its terminator that the quoted form would lose.
bool IsPlainString(const std::vector<uint8_t>& data) {
  if (data.size() % 2 != 0) return false;
  const size_t units = data.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    const unsigned unit = data[2 * i] | (data[2 * i + 1] << 8);
    if (unit == 0) return i + 1 == units;
    if (unit == '\r' || unit == '\n') return false;
  }
  return true;
}

std::string ExportData(uint32_t type, const std::vector<uint8_t>& data) {
  char text[32];
  // Other strings as their bytes, which regedit reads back exactly.
  if (type == reg::REG_SZ && IsPlainString(data)) return RegString(StringData(data));
  if (type == reg::REG_DWORD && data.size() == 4) {
    std::snprintf(text, sizeof(text), "dword:%08" PRIx64, LittleEndian(data));
    return text;
  }
  std::string hex = Hex(data, ",");
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (type == reg::REG_BINARY) return "hex:" + hex;
  std::snprintf(text, sizeof(text), "hex(%x):", type);
  return text + hex;
}

uint32_t ExportKey(const Options& options, const std::string& path, FILE* out) {
  const KaString key = Wide(path);
  const uint32_t access = reg::KEY_READ | options.view;
  std::vector<reg::RegValueEntry> values;
  std::vector<KaString> children;
  uint32_t error = reg::RegEnumValues(options.root->root, key, access, &values);
  if (error == 0) error = reg::RegEnumKeys(options.root->root, key, access, &children);
  if (error != 0) return error;
  std::fprintf(out, "[%s]\n", FullKey(options, path).c_str());
  for (const reg::RegValueEntry& value : values) {
    const std::string name = value.name.IsEmpty() ? "@" : RegString(Narrow(value.name));
    std::fprintf(out, "%s=%s\n", name.c_str(), ExportData(value.type, value.data).c_str());
  }
  std::fprintf(out, "\n");
  for (const KaString& child : children) {
    error = ExportKey(options, Join(path, child), out);
    if (error != 0) return error;
  }
  return 0;
}

int Export(const Options& options) {
  uint32_t error =
      reg::RegOpenKey(options.root->root, Wide(options.path), reg::KEY_READ | options.view);
  if (error != 0) return Failure(error);
  FILE* out = options.file == "-" ? stdout : std::fopen(options.file.c_str(), "w");
  if (out == nullptr) {
    std::fprintf(stderr, "ERROR: Cannot write %s: %s\n", options.file.c_str(),
                 std::strerror(errno));
    return kExitFailed;
  }
  std::fprintf(out, "Windows Registry Editor Version 5.00\n\n");
  error = ExportKey(options, options.path, out);
  const bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
  if (error != 0) return Failure(error);
  if (!closed) {
    std::fprintf(stderr, "ERROR: Cannot write %s\n", options.file.c_str());
    return kExitFailed;
  }
  if (out != stdout) std::printf("The operation completed successfully.\n");
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || SameText(argv[1], "--help") || SameText(argv[1], "-h") ||
      SameText(argv[1], "/?")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  Options options;
  options.command = argv[1];
  for (char& c : options.command)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (options.command != "query" && options.command != "set" && options.command != "delete" &&
      options.command != "export") {
    return UsageError("Unknown command: " + std::string(argv[1]));
  }
  if (const std::string error = ParseArguments(argc, argv, options); !error.empty()) {
    return UsageError(error);
  }
  if (options.command == "query") return Query(options);
  if (options.command == "set") return Set(options);
  if (options.command == "delete") return Delete(options);
  return Export(options);
}
