#include "platform/command_line.h"

#include <string>

namespace wardex::platform {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// Reads the program name from |text| at |pos|, which is moved past it.
std::u16string ReadProgramName(const std::u16string& text, size_t& pos) {
  std::u16string name;
  if (pos < text.size() && text[pos] == u'"') {
    const size_t close = text.find(u'"', pos + 1);
    const size_t end = close == std::u16string::npos ? text.size() : close;
    name = text.substr(pos + 1, end - pos - 1);
    pos = close == std::u16string::npos ? end : close + 1;
    return name;
  }
  while (pos < text.size() && !IsBlank(text[pos])) name += text[pos++];
  return name;
}

// Reads one argument from |text| at |pos|, which is moved past it.
std::u16string ReadArgument(const std::u16string& text, size_t& pos) {
  std::u16string arg;
  bool quoted = false;
  while (pos < text.size() && (quoted || !IsBlank(text[pos]))) {
    size_t backslashes = 0;
    while (pos < text.size() && text[pos] == u'\\') {
      ++backslashes;
      ++pos;
    }
    if (pos < text.size() && text[pos] == u'"') {
      arg.append(backslashes / 2, u'\\');
      if (backslashes % 2 == 1) {
        arg += u'"';
      } else if (quoted && pos + 1 < text.size() && text[pos + 1] == u'"') {
        arg += u'"';
        ++pos;
      } else {
        quoted = !quoted;
      }
      ++pos;
    } else {
      arg.append(backslashes, u'\\');
      if (pos < text.size() && (quoted || !IsBlank(text[pos]))) arg += text[pos++];
    }
  }
  return arg;
}

}  // namespace

std::vector<KaOSAL::KaString> SplitCommandLine(const KaOSAL::KaString& command_line) {
  const std::u16string text(command_line.c_str(), static_cast<size_t>(command_line.GetLength()));
  std::vector<KaOSAL::KaString> args;
  size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  if (pos == text.size()) return args;
  const std::u16string program = ReadProgramName(text, pos);
  args.emplace_back(program.c_str(), static_cast<int>(program.size()));
  for (;;) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos == text.size()) return args;
    const std::u16string arg = ReadArgument(text, pos);
    args.emplace_back(arg.c_str(), static_cast<int>(arg.size()));
  }
}

KaOSAL::KaString QuoteArgument(const KaOSAL::KaString& argument) {
  const std::u16string text = argument.c_str();
  if (!text.empty() && text.find_first_of(u" \t\"") == std::u16string::npos) return argument;
  std::u16string quoted = u"\"";
  size_t backslashes = 0;
  for (char16_t c : text) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, u'\\');  // before the closing quote
  return KaOSAL::KaString((quoted + u"\"").c_str());
}

}  // namespace wardex::platform
