#include "platform/profile.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "osal/ka_string.h"
#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/profile_file_internal.h"

namespace wardex::platform {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeBom[] = "\xFF\xFE";
constexpr char16_t kBlanks[] = u" \t";

enum class Encoding { kUtf8, kUtf8Bom, kUtf16Le };

// One line of the file as written, with what it means.
struct Line {
  enum Kind { kOther, kSection, kEntry };
  // The line's bytes as read, with its line ending; empty for a line that a
  // write made or changed. Lines a write does not change are written back
  // byte for byte, so that bytes which are not text in the file's encoding
  // (an ANSI line in a UTF-8 file) survive.
  std::string bytes;
  bool ended = true;    // whether |bytes| end with a line ending (all but a last line do)
  std::u16string text;  // without the line ending
  Kind kind = kOther;
  std::u16string name;   // section or key name, blanks removed
  std::u16string value;  // entry value, blanks and one pair of quotes removed
};

struct ProfileText {
  Encoding encoding = Encoding::kUtf8;
  std::string byte_order_mark;  // as read
  bool crlf = false;            // line endings of new lines ("\r\n" or "\n")
  bool final_newline = true;    // whether the last line ends with a line ending
  std::vector<Line> lines;
};

// Returns |text| without the blanks at both ends.
std::u16string TrimBlanks(const std::u16string& text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::u16string::npos) return {};
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// Returns |value| without one matching pair of double or single quotes.
std::u16string Unquote(const std::u16string& value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Returns the name folded for comparisons without regard to case.
std::u16string Fold(const std::u16string& name) {
  KaOSAL::KaString folded(name.c_str(), static_cast<int>(name.size()));
  folded.MakeUpper();
  return std::u16string(folded.c_str(), static_cast<size_t>(folded.GetLength()));
}

Line ClassifyLine(std::u16string text) {
  Line line;
  std::u16string trimmed = TrimBlanks(text);
  line.text = std::move(text);
  if (trimmed.empty() || trimmed.front() == u';') return line;
  if (trimmed.front() == u'[') {
    size_t close = trimmed.find(u']');
    line.kind = Line::kSection;
    line.name = TrimBlanks(trimmed.substr(1, close == std::u16string::npos ? close : close - 1));
    return line;
  }
  size_t equals = trimmed.find(u'=');
  if (equals == std::u16string::npos) return line;
  line.kind = Line::kEntry;
  line.name = TrimBlanks(trimmed.substr(0, equals));
  line.value = Unquote(TrimBlanks(trimmed.substr(equals + 1)));
  return line;
}

Encoding EncodingOf(const std::string& bytes) {
  if (bytes.compare(0, 2, kUtf16LeBom) == 0) return Encoding::kUtf16Le;
  if (bytes.compare(0, 3, kUtf8Bom) == 0) return Encoding::kUtf8Bom;
  return Encoding::kUtf8;
}

std::u16string Decode(const char* bytes, size_t size, Encoding encoding) {
  if (encoding != Encoding::kUtf16Le) return KaOSAL::FromUtf8(bytes, size);
  std::u16string text;
  text.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                         (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  return text;
}

std::string Encode(const std::u16string& text, Encoding encoding) {
  if (encoding != Encoding::kUtf16Le) return KaOSAL::ToUtf8(text);
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t ch : text) {
    bytes.push_back(static_cast<char>(ch & 0xFF));
    bytes.push_back(static_cast<char>(ch >> 8));
  }
  return bytes;
}

ProfileText Parse(const std::string& bytes) {
  ProfileText profile;
  profile.encoding = EncodingOf(bytes);
  const size_t unit = profile.encoding == Encoding::kUtf16Le ? 2 : 1;
  const size_t mark_size = profile.encoding == Encoding::kUtf16Le   ? 2
                           : profile.encoding == Encoding::kUtf8Bom ? 3
                                                                    : 0;
  profile.byte_order_mark = bytes.substr(0, mark_size);
  // A line ends after a line feed unit: "\n", or "\n\0" in UTF-16LE.
  auto is_line_feed = [&](size_t at) {
    return bytes[at] == '\n' && (unit == 1 || bytes[at + 1] == 0);
  };
  auto is_return = [&](size_t at) {
    return bytes[at] == '\r' && (unit == 1 || bytes[at + 1] == 0);
  };
  size_t start = profile.byte_order_mark.size();
  // A UTF-16LE file of odd length ends in half a character: it is no text and
  // is dropped, so that a write keeps every following unit aligned.
  const size_t usable = bytes.size() - (bytes.size() - start) % unit;
  while (start + unit <= usable) {
    size_t end = start;
    while (end + unit <= usable && !is_line_feed(end)) end += unit;
    size_t stop = end;
    if (end + unit <= usable) {
      if (stop > start && is_return(stop - unit)) {
        stop -= unit;
        profile.crlf = true;
      }
      end += unit;
    } else {
      end = usable;
      profile.final_newline = false;
    }
    Line line = ClassifyLine(Decode(bytes.data() + start, stop - start, profile.encoding));
    line.bytes = bytes.substr(start, end - start);
    line.ended = profile.final_newline;
    profile.lines.push_back(std::move(line));
    start = end;
  }
  return profile;
}

std::string Serialize(const ProfileText& profile) {
  const std::string newline = Encode(profile.crlf ? u"\r\n" : u"\n", profile.encoding);
  std::string bytes = profile.byte_order_mark;
  for (size_t i = 0; i < profile.lines.size(); ++i) {
    const Line& line = profile.lines[i];
    const bool last = i + 1 == profile.lines.size();
    if (!line.bytes.empty()) {
      bytes += line.bytes;
      if (!line.ended && !last) bytes += newline;  // the old last line, now followed
    } else {
      bytes += Encode(line.text, profile.encoding);
      if (!last || profile.final_newline) bytes += newline;
    }
  }
  return bytes;
}

// The read side reads the file at every call but keeps the last files it
// parsed, with an index by folded name, and parses again only when the bytes
// differ (time stamps are too coarse to tell two quick edits apart).
struct SectionIndex {
  std::u16string name;                                        // as first written
  std::vector<std::u16string> key_names;                      // first spelling, file order
  std::unordered_map<std::u16string, std::u16string> values;  // folded key -> value
};

}  // namespace

struct ParsedProfile {
  std::string bytes;                                           // the file as read
  std::vector<SectionIndex> sections;                          // file order, merged by name
  std::unordered_map<std::u16string, size_t> section_by_name;  // folded name -> index
};

namespace {

using ParsedFile = ParsedProfile;

ParsedFile IndexProfile(const ProfileText& profile) {
  ParsedFile parsed;
  SectionIndex* current = nullptr;
  for (const Line& line : profile.lines) {
    if (line.kind == Line::kSection) {
      auto [it, added] = parsed.section_by_name.emplace(Fold(line.name), parsed.sections.size());
      if (added) parsed.sections.push_back(SectionIndex{line.name, {}, {}});
      current = &parsed.sections[it->second];
    } else if (line.kind == Line::kEntry && current != nullptr) {
      if (current->values.emplace(Fold(line.name), line.value).second) {
        current->key_names.push_back(line.name);
      }
    }
  }
  return parsed;
}

constexpr size_t kCachedFiles = 16;
std::mutex g_cache_mutex;
std::unordered_map<std::string, std::shared_ptr<const ParsedFile>> g_cache;

// Returns the parsed file, or null with the last error set when it cannot be
// read. |shared_max_bytes| as ReadProfileFile takes it.
std::shared_ptr<const ParsedFile> LoadParsed(const std::string& path, size_t shared_max_bytes = 0) {
  std::string bytes;
  if (!ReadProfileFile(path, &bytes, shared_max_bytes)) return nullptr;
  {
    std::lock_guard<std::mutex> lock(g_cache_mutex);
    auto it = g_cache.find(path);
    if (it != g_cache.end() && it->second->bytes == bytes) return it->second;
  }
  auto parsed = std::make_shared<ParsedFile>(IndexProfile(Parse(bytes)));
  parsed->bytes = std::move(bytes);
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  if (g_cache.size() >= kCachedFiles) g_cache.clear();
  g_cache[path] = parsed;
  return parsed;
}

// Copies a value by the value rule: cut to |size| - 1 characters.
uint32_t CopyValue(const std::u16string& value, char16_t* buffer, uint32_t size) {
  if (size == 0) return 0;
  size_t count = std::min<size_t>(value.size(), size - 1);
  value.copy(buffer, count);
  buffer[count] = 0;
  return static_cast<uint32_t>(count);
}

// Copies a name list by the list rule: each name ends with a zero, the list
// with a second zero; a list that does not fit is cut and ends in two zeros.
uint32_t CopyList(const std::vector<std::u16string>& names, char16_t* buffer, uint32_t size) {
  std::u16string list;
  for (const std::u16string& name : names) {
    list += name;
    list.push_back(0);
  }
  if (list.size() + 1 <= size) {
    list.copy(buffer, list.size());
    buffer[list.size()] = 0;
    // An empty list is still terminated twice.
    if (list.empty() && size >= 2) buffer[1] = 0;
    return static_cast<uint32_t>(list.size());
  }
  if (size < 2) {
    if (size == 1) buffer[0] = 0;
    return 0;
  }
  list.copy(buffer, size - 2);
  buffer[size - 2] = 0;
  buffer[size - 1] = 0;
  return size - 2;
}

std::u16string DefaultText(const char16_t* default_value) {
  std::u16string text = default_value ? default_value : u"";
  size_t last = text.find_last_not_of(kBlanks);
  text.erase(last == std::u16string::npos ? 0 : last + 1);
  return text;
}

// The index of the first section line named |section|, or lines.size().
size_t FindSection(const ProfileText& profile, const std::u16string& folded_section) {
  for (size_t i = 0; i < profile.lines.size(); ++i) {
    if (profile.lines[i].kind == Line::kSection && Fold(profile.lines[i].name) == folded_section) {
      return i;
    }
  }
  return profile.lines.size();
}

// The end of the section that starts at |header|: the next section line.
size_t SectionEnd(const ProfileText& profile, size_t header) {
  size_t end = header + 1;
  while (end < profile.lines.size() && profile.lines[end].kind != Line::kSection) ++end;
  return end;
}

bool HasLineBreak(const std::u16string& text) {
  return text.find_first_of(u"\r\n") != std::u16string::npos;
}

// Whether the write can be read back as written: a name or value that would
// make another line, or a key that would read as another key, a comment or a
// section, is refused rather than written as something else.
bool IsReadableWrite(const char16_t* section, const char16_t* key, const char16_t* value) {
  if (HasLineBreak(section) || std::u16string(section).find(u']') != std::u16string::npos) {
    return false;
  }
  if (value != nullptr && HasLineBreak(value)) return false;
  if (key == nullptr) return true;
  std::u16string name = TrimBlanks(key);
  return !name.empty() && name.front() != u';' && name.front() != u'[' && !HasLineBreak(name) &&
         name.find(u'=') == std::u16string::npos;
}

// Applies the write to the lines; returns whether anything changed.
bool ApplyWrite(ProfileText& profile, const char16_t* section, const char16_t* key,
                const char16_t* value) {
  std::u16string folded_section = Fold(section);
  size_t header = FindSection(profile, folded_section);
  std::vector<Line>& lines = profile.lines;
  if (key == nullptr) {
    bool changed = false;
    while (header < lines.size()) {
      lines.erase(lines.begin() + static_cast<long>(header),
                  lines.begin() + static_cast<long>(SectionEnd(profile, header)));
      changed = true;
      header = FindSection(profile, folded_section);
    }
    return changed;
  }
  // Blanks around the key are not part of its name, as when it is read.
  const std::u16string key_name = TrimBlanks(key);
  std::u16string entry_text = key_name + u"=" + (value ? value : u"");
  if (header == lines.size()) {
    if (value == nullptr) return false;
    lines.push_back(ClassifyLine(u"[" + std::u16string(section) + u"]"));
    lines.push_back(ClassifyLine(entry_text));
    return true;
  }
  std::u16string folded_key = Fold(key_name);
  size_t end = SectionEnd(profile, header);
  size_t last_entry = header;
  for (size_t i = header + 1; i < end; ++i) {
    if (lines[i].kind != Line::kEntry) continue;
    if (Fold(lines[i].name) == folded_key) {
      if (value != nullptr && lines[i].value == value) return false;
      if (value == nullptr) {
        lines.erase(lines.begin() + static_cast<long>(i));
      } else {
        lines[i] = ClassifyLine(lines[i].name + u"=" + value);
      }
      return true;
    }
    last_entry = i;
  }
  if (value == nullptr) return false;
  // After the section's last entry, so blank lines before the next section stay there.
  lines.insert(lines.begin() + static_cast<long>(last_entry + 1), ClassifyLine(entry_text));
  return true;
}

}  // namespace

ProfileSnapshot::ProfileSnapshot(const char16_t* file)
    : parsed_(file != nullptr ? LoadParsed(KaOSAL::ToUtf8(std::u16string(file))) : nullptr) {}

ProfileSnapshot::ProfileSnapshot(const char16_t* file, size_t max_bytes) {
  if (file != nullptr) parsed_ = LoadParsed(KaOSAL::ToUtf8(std::u16string(file)), max_bytes);
}

ProfileSnapshot::~ProfileSnapshot() = default;

uint32_t ProfileSnapshot::GetString(const char16_t* section, const char16_t* key,
                                    const char16_t* default_value, char16_t* buffer,
                                    uint32_t size) const {
  if (buffer == nullptr) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return 0;
  }
  KaOSAL::SetLastError(parsed_ ? KaOSAL::kErrorSuccess : KaOSAL::kErrorFileNotFound);
  const SectionIndex* found = nullptr;
  if (parsed_ && section != nullptr) {
    auto it = parsed_->section_by_name.find(Fold(section));
    if (it != parsed_->section_by_name.end()) found = &parsed_->sections[it->second];
  }
  if (section == nullptr) {
    std::vector<std::u16string> names;
    if (parsed_) {
      for (const SectionIndex& index : parsed_->sections) names.push_back(index.name);
    }
    return CopyList(names, buffer, size);
  }
  if (key == nullptr) {
    if (found == nullptr) KaOSAL::SetLastError(KaOSAL::kErrorFileNotFound);
    return CopyList(found ? found->key_names : std::vector<std::u16string>{}, buffer, size);
  }
  if (found != nullptr) {
    auto value = found->values.find(Fold(key));
    if (value != found->values.end()) return CopyValue(value->second, buffer, size);
  }
  KaOSAL::SetLastError(KaOSAL::kErrorFileNotFound);
  return CopyValue(DefaultText(default_value), buffer, size);
}

uint32_t GetPrivateProfileString(const char16_t* section, const char16_t* key,
                                 const char16_t* default_value, char16_t* buffer, uint32_t size,
                                 const char16_t* file) {
  if (buffer == nullptr || file == nullptr) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return 0;
  }
  return ProfileSnapshot(file).GetString(section, key, default_value, buffer, size);
}

int WritePrivateProfileString(const char16_t* section, const char16_t* key, const char16_t* value,
                              const char16_t* file) {
  if (section == nullptr || file == nullptr || !IsReadableWrite(section, key, value)) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return 0;
  }
  const std::string path = ProfileWriteTarget(KaOSAL::ToUtf8(std::u16string(file)));
  ProfileWriteLock lock(path);
  if (lock.refused()) {
    KaOSAL::SetLastError(KaOSAL::kErrorSharingViolation);
    return 0;
  }
  std::string bytes;
  const bool existed = ReadProfileFile(path, &bytes);
  if (!existed && KaOSAL::GetLastError() != KaOSAL::kErrorFileNotFound) return 0;
  ProfileText profile = existed ? Parse(bytes) : ProfileText{};
  if (!ApplyWrite(profile, section, key, value)) {
    KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
    return 1;
  }
  if (!ReplaceProfileFile(path, Serialize(profile))) return 0;
  KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
  return 1;
}

}  // namespace wardex::platform
