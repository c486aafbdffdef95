// wardex-ipc: helps the suite's developers with the agent's pipe messages.
// "decode" shows how the agent reads a message and what it would answer.
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "modules/json_value.h"
#include "modules/module_message.h"
#include "osal/wide_format.h"

namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitParseError = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "Usage:\n"
    "  wardex-ipc decode [MESSAGE]\n"
    "  wardex-ipc --help\n"
    "\n"
    "decode  Reads a pipe message (JSON text, UTF-8) from MESSAGE or, without it or\n"
    "        when it is \"-\", from standard input, the way the agent reads it (tabs,\n"
    "        line breaks and single quotes allowed). Prints the fields of the decoded\n"
    "        record and the reply that the agent writes for it when the handling\n"
    "        changes nothing.\n"
    "\n"
    "Exit status: 0 decoded; 1 the text does not parse (the error is printed with\n"
    "its line and column; the agent would answer it as a kind-0 message); 2 wrong usage.\n";

int UsageError(const std::string& message) {
  std::cerr << "wardex-ipc: " << message << "\nTry 'wardex-ipc --help'.\n";
  return kExitUsage;
}

std::string Utf8(const KaOSAL::KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

// Prints each line of |text| indented under |title|.
void PrintSection(const char* title, const std::string& text) {
  std::cout << title << ":\n";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::cout << "  " << text.substr(start, end - start) << '\n';
    start = end + 1;
  }
}

int Decode(const std::string& utf8) {
  const std::u16string wide = KaOSAL::FromUtf8(utf8);
  const KaOSAL::KaString text(wide.data(), static_cast<int>(wide.size()));

  wardex::CJsonValue root;
  wardex::CJsonParseError error;
  if (!root.Parse(text, wardex::kModuleMessageReadFlags, &error)) {
    std::cerr << "wardex-ipc: line " << error.line << ", column " << error.column << ": "
              << Utf8(error.message) << '\n';
    return kExitParseError;
  }
  if (!root.IsObject() || root.Size() == 0) {
    std::cerr << "wardex-ipc: note: the text is not an object with members; the agent reads "
                 "it as kind 0 with default fields\n";
  }
  const wardex::ModuleMessage message = wardex::ReadModuleMessage(text);
  PrintSection("record", Utf8(wardex::DescribeModuleMessage(message)));
  PrintSection("reply", Utf8(wardex::WriteModuleReply(message)));
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return kExitOk;
    }
  }
  if (args.empty()) return UsageError("missing subcommand");
  if (args[0] != "decode") return UsageError("unknown subcommand '" + args[0] + "'");
  if (args.size() > 2) return UsageError("decode takes at most one message");

  if (args.size() == 2 && args[1] != "-") return Decode(args[1]);
  const std::string input{std::istreambuf_iterator<char>(std::cin),
                          std::istreambuf_iterator<char>()};
  return Decode(input);
}
