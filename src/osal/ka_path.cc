#include "osal/ka_path.h"

#include <string>
#include <string_view>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/special_folders.h"

namespace KaOSAL {

namespace {

using View = std::u16string_view;

// PATH_MAX: the longest path the kernel accepts, terminator included.
constexpr size_t kMaxPathLength = 4096;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool IsWhiteSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

View ViewOf(const KaString& text) {
  return View(text.c_str(), static_cast<size_t>(text.GetLength()));
}

KaString ToKaString(View text) {
  if (text.empty()) return KaString();
  return KaString(text.data(), static_cast<int>(text.size()));
}

// True for "X:" at the start of the text, X an ASCII letter.
bool HasDrivePrefix(View text) {
  return text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == u':';
}

// A Linux absolute path: its root is empty, but it is no relative path.
bool IsLinuxAbsolute(const KaString& text) { return text.GetAt(0) == u'/'; }

bool IsUncText(View text) { return text.size() >= 2 && text[0] == u'\\' && text[1] == u'\\'; }

// A URL starts with "scheme://", the scheme a letter followed by letters,
// digits, "+", "-" or "."; one letter alone is a drive, not a scheme.
bool IsUrlText(View text) {
  const size_t scheme_end = text.find(u"://");
  if (scheme_end == View::npos || scheme_end < 2 || !IsAsciiLetter(text[0])) return false;
  for (size_t i = 1; i < scheme_end; ++i) {
    const char16_t c = text[i];
    if (!IsAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') {
      return false;
    }
  }
  return true;
}

size_t FindSeparator(View text, size_t from = 0) { return text.find_first_of(u"/\\", from); }

// The separator a composed path uses: the first one its dir or root already
// has; else "\" for a Windows-shaped root (drive, UNC), "/" otherwise.
char16_t SeparatorStyle(View root, View dir) {
  if (const size_t pos = FindSeparator(dir); pos != View::npos) return dir[pos];
  if (const size_t pos = FindSeparator(root); pos != View::npos) return root[pos];
  return root.empty() ? u'/' : u'\\';
}

// The separator style of a whole path text.
char16_t TextSeparatorStyle(View text) {
  if (const size_t pos = FindSeparator(text); pos != View::npos) return text[pos];
  return HasDrivePrefix(text) ? u'\\' : u'/';
}

bool IsSingleSeparator(View text) { return text.size() == 1 && IsSeparator(text[0]); }

// Every run of separators collapsed to its first character.
std::u16string CollapseSeparatorRuns(View text) {
  std::u16string out;
  out.reserve(text.size());
  for (const char16_t c : text) {
    if (IsSeparator(c) && !out.empty() && IsSeparator(out.back())) continue;
    out.push_back(c);
  }
  return out;
}

// Comparison form of a path: one separator kind; case folded for the
// Windows-shaped forms, whose file systems ignore case.
std::u16string ComparableText(const KaString& text) {
  KaString copy = text;
  copy.Replace(u'\\', u'/');
  if (HasDrivePrefix(ViewOf(text)) || IsUncText(ViewOf(text))) copy.MakeLower();
  return std::u16string(ViewOf(copy));
}

struct Parts {
  View root, dir, file_name, ext;
};

// Splits the last component into name and extension at its last period.
void SplitNameAndExt(View last, Parts& parts) {
  const size_t dot = last.rfind(u'.');
  parts.file_name = last.substr(0, dot);
  parts.ext = dot == View::npos ? View() : last.substr(dot);
}

// The C runtime's splitter: drive, dir up to the last separator, name, ext.
void SplitLocalText(View text, Parts& parts) {
  if (HasDrivePrefix(text)) {
    parts.root = text.substr(0, 2);
    text.remove_prefix(2);
  }
  const size_t last_sep = text.find_last_of(u"/\\");
  const size_t name_start = last_sep == View::npos ? 0 : last_sep + 1;
  parts.dir = text.substr(0, name_start);
  SplitNameAndExt(text.substr(name_start), parts);
  if (!parts.root.empty() && parts.dir.empty()) parts.dir = u"\\";
}

// "\\server", "\\server\share" or "\\server\share\dir\file.ext"; |storage|
// keeps the repaired remainder alive while |parts| views it.
void SplitUncText(View text, Parts& parts, std::u16string& storage) {
  const size_t server_end = FindSeparator(text, 2);
  if (server_end == View::npos) {
    parts.root = text;
    return;
  }
  const size_t share_end = FindSeparator(text, server_end + 1);
  if (share_end == View::npos) {
    parts.root = text;
    // "\\server\" has no share: it is a server alone.
    if (server_end + 1 < text.size()) parts.dir = u"\\";
    return;
  }
  parts.root = text.substr(0, share_end);
  storage = CollapseSeparatorRuns(text.substr(share_end));
  Parts rest;
  SplitLocalText(storage, rest);
  parts.dir = rest.dir;
  parts.file_name = rest.file_name;
  parts.ext = rest.ext;
}

void SplitUrlText(View text, Parts& parts) {
  const size_t first_sep = FindSeparator(text, text.find(u"://") + 3);
  if (first_sep == View::npos) {
    parts.root = text;
    return;
  }
  const size_t last_sep = text.find_last_of(u"/\\");
  parts.root = text.substr(0, first_sep);
  parts.dir = text.substr(first_sep, last_sep - first_sep + 1);
  SplitNameAndExt(text.substr(last_sep + 1), parts);
}

struct SplitResult {
  KaString components[4];
};

SplitResult SplitFullPathIntoComponents(const KaString& full_path) {
  const View text = ViewOf(full_path);
  Parts parts;
  std::u16string storage;
  if (IsUncText(text)) {
    SplitUncText(text, parts, storage);
  } else if (IsUrlText(text)) {
    SplitUrlText(text, parts);
  } else {
    storage = CollapseSeparatorRuns(text);
    SplitLocalText(storage, parts);
  }
  return {{ToKaString(parts.root), ToKaString(parts.dir), ToKaString(parts.file_name),
           ToKaString(parts.ext)}};
}

std::vector<View> SplitComponents(View text) {
  std::vector<View> components;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = FindSeparator(text, start);
    if (end == View::npos) end = text.size();
    if (end > start) components.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

// True when the dir holds no "." and no ".." that could be resolved; a
// relative dir may start with ".." steps.
bool IsCanonicalDir(View dir) {
  const bool absolute = !dir.empty() && IsSeparator(dir[0]);
  bool seen_name = false;
  for (const View component : SplitComponents(dir)) {
    if (component == u".") return false;
    if (component == u"..") {
      if (absolute || seen_name) return false;
    } else {
      seen_name = true;
    }
  }
  return true;
}

// Resolves "." and ".." in a dir text without asking the file system. An
// absolute dir cannot climb above its first separator; a relative one keeps
// the ".." steps it cannot resolve. Fails when input or result would not
// fit a path.
bool CanonicalizeDirText(View dir, std::u16string& out) {
  if (dir.size() >= kMaxPathLength) return false;
  const char16_t sep = TextSeparatorStyle(dir);
  const bool absolute = !dir.empty() && IsSeparator(dir[0]);
  const std::vector<View> components = SplitComponents(dir);
  const bool ends_as_folder =
      (!dir.empty() && IsSeparator(dir.back())) ||
      (!components.empty() && (components.back() == u"." || components.back() == u".."));
  std::vector<View> kept;
  for (const View component : components) {
    if (component == u".") continue;
    if (component == u"..") {
      if (!kept.empty() && kept.back() != u"..") {
        kept.pop_back();
      } else if (!absolute) {
        kept.push_back(component);
      }
      continue;
    }
    kept.push_back(component);
  }
  out.clear();
  if (absolute) out.push_back(sep);
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out.push_back(sep);
    out.append(kept[i]);
  }
  if (!kept.empty() && ends_as_folder) out.push_back(sep);
  return out.size() < kMaxPathLength;
}

// The text of a special folder; empty when the kind does not resolve.
KaString ResolveSpecialFolder(KaPath::ESpecialFolders kind) {
  switch (kind) {
    case KaPath::eSpecialFolderTemp: {
      KaString folder = ToKaString(wardex::platform::TemporaryFolderPath());
      KaPath::VerifyTrailingPathSeparator(folder);
      return folder;
    }
    case KaPath::eSpecialFolderExecutableDir: {
      KaPath folder(ToKaString(wardex::platform::ExecutableFilePath()));
      if (folder.IsEmpty()) return KaString();
      KaString text = folder.GetRootAndDir();
      KaPath::VerifyTrailingPathSeparator(text);
      return text;
    }
    case KaPath::eSpecialFolderExecutablePath:
      return ToKaString(wardex::platform::ExecutableFilePath());
    default:
      SetLastError(kErrorInvalidParameter);
      return KaString();
  }
}

bool IsInvalidComponentChar(char16_t c) {
  constexpr View kInvalid = u"/\\<>:\"|?*";
  return c < 32 || kInvalid.find(c) != View::npos;
}

// Replaces in place; true when something was replaced.
bool CorrectComponent(char16_t* text, size_t length) {
  bool changed = false;
  const View view(text, length);
  if (view == u"." || view == u"..") {
    for (size_t i = 0; i < length; ++i) text[i] = u'_';
    return true;
  }
  for (size_t i = 0; i < length; ++i) {
    if (IsInvalidComponentChar(text[i])) {
      text[i] = u'_';
      changed = true;
    }
  }
  return changed;
}

// Text of the folder of a path (root and dir) in comparison form.
std::u16string ComparableFolder(const KaPath& path) { return ComparableText(path.GetRootAndDir()); }

// Length of the common leading folders of two comparison texts.
size_t CommonFolderLength(View a, View b) {
  size_t common = 0;
  for (size_t i = 0; i < a.size() && i < b.size() && a[i] == b[i]; ++i) {
    if (a[i] == u'/') common = i + 1;
  }
  return common;
}

}  // namespace

KaPath::KaPath() = default;

KaPath::KaPath(const KaPath& other) { *this = other; }

KaPath::KaPath(const KaString& path) { *this = path; }

KaPath::KaPath(const char16_t* path) { *this = path; }

KaPath::KaPath(EDriveNumber drive) {
  if (drive >= eDriveA && drive <= eDriveZ) MakePath(drive, KaString(), KaString(), KaString());
}

KaPath::KaPath(ESpecialFolders kind, const char16_t* sub_dir) {
  const KaString folder = ResolveSpecialFolder(kind);
  if (folder.IsEmpty()) return;
  *this = folder;
  if (sub_dir != nullptr && *sub_dir != u'\0') (void)AppendDir(sub_dir);
}

KaPath::~KaPath() = default;

KaPath& KaPath::operator=(const KaPath& other) {
  if (this == &other) return *this;
  m_strFullPath = other.m_strFullPath;
  m_bComponentsAuthoritative = other.m_bComponentsAuthoritative;
  for (int i = 0; i < kComponentCount; ++i) {
    m_strComponents[i] = other.m_strComponents[i];
    m_bSplit[i] = other.m_bSplit[i];
  }
  return *this;
}

KaPath& KaPath::operator=(const KaString& path) {
  // |path| may be one of this path's own components, which Reset empties:
  // hold the text first (a shared copy, no characters are copied).
  const KaString text = path;
  Reset();
  m_strFullPath = text;
  // A bare drive means its root folder.
  if (text.GetLength() == 2 && HasDrivePrefix(ViewOf(text))) m_strFullPath += u'\\';
  return *this;
}

KaPath& KaPath::operator=(const char16_t* path) { return *this = KaString(path); }

bool KaPath::operator==(const KaPath& other) const { return *this == other.m_strFullPath; }

bool KaPath::operator==(const KaString& other) const {
  return ComparableText(m_strFullPath) == ComparableText(other);
}

bool KaPath::operator==(const char16_t* other) const { return *this == KaString(other); }

void KaPath::Reset() {
  for (KaString& component : m_strComponents) component.Empty();
  ResetFlags();
}

void KaPath::ResetFlags() {
  m_bComponentsAuthoritative = false;
  for (bool& split : m_bSplit) split = false;
}

const KaString& KaPath::GetComponent(Component which) const {
  if (!m_bComponentsAuthoritative && !m_bSplit[which]) {
    m_strComponents[which] = SplitFullPathIntoComponents(m_strFullPath).components[which];
    m_bSplit[which] = true;
  }
  return m_strComponents[which];
}

void KaPath::SplitAllComponents() const {
  if (m_bComponentsAuthoritative) return;
  if (m_bSplit[kRoot] && m_bSplit[kDir] && m_bSplit[kFileName] && m_bSplit[kExt]) return;
  const SplitResult split = SplitFullPathIntoComponents(m_strFullPath);
  for (int i = 0; i < kComponentCount; ++i) {
    if (m_bSplit[i]) continue;
    m_strComponents[i] = split.components[i];
    m_bSplit[i] = true;
  }
}

void KaPath::RebuildFullPathFromComponents() {
  m_strFullPath = m_strComponents[kRoot] + m_strComponents[kDir] + m_strComponents[kFileName] +
                  m_strComponents[kExt];
}

KaString KaPath::GetFileNameAndExt() const { return GetFileName() + GetExt(); }

KaString KaPath::GetRootAndDir() const {
  const KaString& root = GetRoot();
  const KaString& dir = GetDir();
  if (!root.IsEmpty() && dir.IsEmpty()) return root + SeparatorStyle(ViewOf(root), View());
  return root + dir;
}

KaString KaPath::GetPathWithoutExtension() const {
  const int ext_length = GetExt().GetLength();
  if (ext_length == 0 || !m_strFullPath.EndsWith(GetExt())) return m_strFullPath;
  return m_strFullPath.Left(m_strFullPath.GetLength() - ext_length);
}

KaString KaPath::GetPathWithoutRoot() const { return GetDir() + GetFileName() + GetExt(); }

KaString KaPath::GetDirLastComponent() const {
  const std::vector<View> components = SplitComponents(ViewOf(GetDir()));
  return components.empty() ? KaString() : ToKaString(components.back());
}

bool KaPath::SplitPath(KaString& root, KaString& dir, KaString& file_name, KaString& ext) const {
  SplitAllComponents();
  root = m_strComponents[kRoot];
  dir = m_strComponents[kDir];
  file_name = m_strComponents[kFileName];
  ext = m_strComponents[kExt];
  return true;
}

bool KaPath::SetRoot(const KaString& root) {
  KaString old_root, dir, file_name, ext;
  SplitPath(old_root, dir, file_name, ext);
  return MakePath(root, dir, file_name, ext);
}

bool KaPath::SetDir(const KaString& dir) {
  KaString root, old_dir, file_name, ext;
  SplitPath(root, old_dir, file_name, ext);
  return MakePath(root, dir, file_name, ext);
}

bool KaPath::SetDirLastComponent(const KaString& name) {
  KaString root, dir, file_name, ext;
  SplitPath(root, dir, file_name, ext);
  const View dir_view = ViewOf(dir);
  const View name_view = ViewOf(name);
  if (name_view.empty() || FindSeparator(name_view) != View::npos) return false;
  const std::vector<View> components = SplitComponents(dir_view);
  if (components.empty()) return false;
  const View last = components.back();
  const size_t last_start = static_cast<size_t>(last.data() - dir_view.data());
  std::u16string new_dir(dir_view.substr(0, last_start));
  new_dir.append(name_view);
  new_dir.append(dir_view.substr(last_start + last.size()));
  return MakePath(root, ToKaString(new_dir), file_name, ext);
}

bool KaPath::SetFileName(const KaString& file_name) {
  KaString root, dir, old_name, ext;
  SplitPath(root, dir, old_name, ext);
  if (file_name.IsEmpty()) ext.Empty();
  return MakePath(root, dir, file_name, ext);
}

bool KaPath::SetExt(const KaString& ext) {
  KaString root, dir, file_name, old_ext;
  SplitPath(root, dir, file_name, old_ext);
  return MakePath(root, dir, file_name, ext);
}

bool KaPath::SetFileNameAndExt(const KaString& text) {
  KaString root, dir, file_name, ext;
  SplitPath(root, dir, file_name, ext);
  const int dot = text.ReverseFind(u'.');
  if (dot < 0) return MakePath(root, dir, text, KaString());
  return MakePath(root, dir, text.Left(dot), text.Mid(dot));
}

bool KaPath::SetRootAndDir(const KaString& root_and_dir) {
  KaString old_root, old_dir, file_name, ext;
  SplitPath(old_root, old_dir, file_name, ext);
  KaString folder_text = root_and_dir;
  if (!folder_text.IsEmpty()) VerifyTrailingPathSeparator(folder_text);
  const KaPath folder(folder_text);
  return MakePath(folder.GetRoot(), folder.GetDir(), file_name, ext);
}

bool KaPath::MakePath(const KaString& root, const KaString& dir, const KaString& file_name,
                      const KaString& ext) {
  const char16_t sep = SeparatorStyle(ViewOf(root), ViewOf(dir));

  // The dir ends with exactly the separator it had, without trailing spaces.
  std::u16string new_dir(ViewOf(dir));
  if (!new_dir.empty()) {
    if (IsSeparator(new_dir.back())) new_dir.pop_back();
    while (!new_dir.empty() && new_dir.back() == u' ') new_dir.pop_back();
    if (new_dir.empty() || !IsSeparator(new_dir.back())) new_dir.push_back(sep);
  }

  std::u16string new_root(ViewOf(root));
  if (!new_root.empty()) {
    if (new_dir.empty()) new_dir.push_back(sep);
    if (!IsSeparator(new_dir.front())) new_dir.insert(new_dir.begin(), sep);
    if (IsUncText(new_root)) {
      if (new_root.back() == u'\\') new_root.pop_back();
    } else if (!IsUrlText(new_root)) {
      while (!new_root.empty() && IsSeparator(new_root.back())) new_root.pop_back();
      const size_t colon = new_root.find(u':');
      const bool only_colon_is_last = colon != std::u16string::npos && colon == new_root.size() - 1;
      // A root that was only separators is a Linux root: it never gets a colon.
      if (!new_root.empty() && !only_colon_is_last) new_root.append(kRootColon);
    }
  }

  std::u16string new_name(ViewOf(file_name));
  std::u16string new_ext(ViewOf(ext));
  if (!new_ext.empty() && new_ext.front() != u'.') new_ext.insert(new_ext.begin(), u'.');
  std::u16string& trimmed = new_ext.empty() ? new_name : new_ext;
  while (!trimmed.empty() && IsWhiteSpace(trimmed.back())) trimmed.pop_back();

  *this = ToKaString(new_root + new_dir + new_name + new_ext);
  return true;
}

bool KaPath::MakePath(EDriveNumber drive, const KaString& dir, const KaString& file_name,
                      const KaString& ext) {
  return MakePath(GetRootFromDriveNumber(drive), dir, file_name, ext);
}

bool KaPath::AppendDir(const KaPath& other) {
  // Any folder without a root may be appended ("b/", "\b\", even the empty
  // path), except a Linux absolute path: its root is empty too, but it begins
  // with "/".
  const bool rootless = other.GetRoot().IsEmpty() && !IsLinuxAbsolute(other.ToString());
  if (!rootless || other.HasFilename() || other.HasExtension()) return false;
  KaString root, dir, file_name, ext;
  SplitPath(root, dir, file_name, ext);
  KaString other_dir = other.GetDir();
  VerifyLeadingPathSeparator(other_dir);
  // The period joins the two so that "/a/" and "/b/" become "/a/./b/".
  const KaString joined = dir + u"." + other_dir;
  std::u16string canonical;
  if (!CanonicalizeDirText(ViewOf(joined), canonical)) return false;
  return MakePath(root, ToKaString(canonical), file_name, ext);
}

bool KaPath::AppendDir(const KaString& dir) {
  KaPath other;
  other.MakePath(KaString(), dir, KaString(), KaString());
  return AppendDir(other);
}

bool KaPath::AppendDir(const char16_t* dir) { return AppendDir(KaString(dir)); }

bool KaPath::GotoParent() {
  SplitAllComponents();
  m_bComponentsAuthoritative = true;
  KaString& dir = m_strComponents[kDir];
  const View dir_view = ViewOf(dir);
  if (dir_view.empty() || IsSingleSeparator(dir_view)) return false;
  std::u16string parent(dir_view);
  if (!IsSeparator(parent.back())) parent.push_back(TextSeparatorStyle(dir_view));
  parent.append(u"..");
  std::u16string canonical;
  if (!CanonicalizeDirText(parent, canonical)) return false;
  dir = ToKaString(canonical);
  RebuildFullPathFromComponents();
  return true;
}

bool KaPath::Canonicalize() {
  SplitAllComponents();
  const View dir_view = ViewOf(m_strComponents[kDir]);
  if (dir_view.empty() || IsSingleSeparator(dir_view) || IsCanonicalDir(dir_view)) return false;
  std::u16string canonical;
  if (!CanonicalizeDirText(dir_view, canonical)) return false;
  m_strComponents[kDir] = ToKaString(canonical);
  m_bSplit[kDir] = true;
  RebuildFullPathFromComponents();
  return true;
}

bool KaPath::MakePretty() {
  Canonicalize();
  m_strFullPath.MakeLower();
  if (m_bComponentsAuthoritative) {
    // The components stand for the path: they follow the lowered text.
    for (KaString& component : m_strComponents) component.MakeLower();
  } else {
    for (bool& split : m_bSplit) split = false;
  }
  return true;
}

bool KaPath::IsFile() const { return HasFilename() || HasExtension(); }

bool KaPath::IsDirectory() const { return !IsEmpty() && !IsFile(); }

bool KaPath::IsRelative() const {
  const View text = ViewOf(m_strFullPath);
  if (text.empty() || IsSeparator(text[0]) || HasDrivePrefix(text)) return false;
  return !IsUrlText(text);
}

bool KaPath::IsFullPath() const { return GetPathType() >= ePathTypeLocal; }

bool KaPath::IsRoot() const {
  if (IsEmpty() || HasFilename() || HasExtension()) return false;
  const View dir = ViewOf(GetDir());
  return IsSingleSeparator(dir) || (dir.empty() && HasRoot());
}

bool KaPath::IsUNC() const { return IsUncText(ViewOf(m_strFullPath)); }

bool KaPath::IsUNCServer() const {
  const View text = ViewOf(m_strFullPath);
  if (!IsUncText(text)) return false;
  const size_t server_end = FindSeparator(text, 2);
  return server_end == View::npos || server_end == text.size() - 1;
}

bool KaPath::IsUNCServerShare() const {
  const View text = ViewOf(m_strFullPath);
  if (!IsUncText(text)) return false;
  const size_t server_end = FindSeparator(text, 2);
  return server_end != View::npos && server_end > 2 && server_end + 1 < text.size() &&
         FindSeparator(text, server_end + 1) == View::npos;
}

bool KaPath::IsURL() const { return IsUrlText(ViewOf(m_strFullPath)); }

bool KaPath::IsNetwork() const { return IsUNC() || IsURL(); }

bool KaPath::IsSameRoot(const KaPath& other) const {
  return ComparableText(GetRoot()) == ComparableText(other.GetRoot());
}

bool KaPath::IsSubPath(const KaPath& parent) const {
  const std::u16string folder = ComparableFolder(parent);
  const std::u16string mine = ComparableText(m_strFullPath);
  return !folder.empty() && mine.size() > folder.size() && mine.starts_with(folder);
}

bool KaPath::IsDirectSubDir(const KaPath& parent) const {
  const std::u16string folder = ComparableFolder(parent);
  const std::u16string mine = ComparableFolder(*this);
  if (folder.empty() || mine.size() <= folder.size() || !mine.starts_with(folder)) return false;
  // What is left is one name and its closing separator.
  const View rest = View(mine).substr(folder.size());
  return FindSeparator(rest) == rest.size() - 1 && rest.size() > 1;
}

bool KaPath::IsCanonicalized() const { return IsCanonicalDir(ViewOf(GetDir())); }

bool KaPath::IsSpecialFolder(ESpecialFolders kind) const {
  const KaPath folder(kind);
  if (folder.IsEmpty() || IsEmpty()) return false;
  KaString mine = m_strFullPath;
  KaString theirs = folder.m_strFullPath;
  RemoveTrailingPathSeparator(mine);
  RemoveTrailingPathSeparator(theirs);
  return KaPath(mine) == theirs;
}

KaPath::EPathType KaPath::GetPathType() const {
  if (IsUNC()) return ePathTypeUNC;
  if (IsURL()) return ePathTypeURL;
  if (IsRelative()) return ePathTypeRelative;
  // A drive letter, or a Linux absolute path. "\a" is neither: on Windows it
  // is relative to the current drive, on Linux a name.
  if (IsLinuxAbsolute(m_strFullPath) || GetDriveNumber() != eDriveNone) return ePathTypeLocal;
  return ePathTypeNone;
}

bool KaPath::CombinePath(const KaPath& a, const KaPath& b, KaPath& out) {
  const bool a_relative = a.IsRelative();
  const bool b_relative = b.IsRelative();
  if (!a_relative && !b_relative) {
    out = KaString();
    return false;
  }
  const KaPath& base = a_relative && !b_relative ? b : a;
  const KaPath& relative = &base == &a ? b : a;
  // The relative part takes the separators of the base, when it has any.
  KaString relative_dir = relative.GetDir();
  if (base.HasRoot() || base.HasDirectory()) {
    const char16_t sep = SeparatorStyle(ViewOf(base.GetRoot()), ViewOf(base.GetDir()));
    relative_dir.Replace(sep == u'/' ? u'\\' : u'/', sep);
  }
  const std::u16string dir = CollapseSeparatorRuns(ViewOf(base.GetDir() + relative_dir));
  return out.MakePath(base.GetRoot(), ToKaString(dir), relative.GetFileName(), relative.GetExt());
}

KaPath KaPath::GetCommonPath(const KaPath& a, const KaPath& b) {
  if (!a.IsSameRoot(b)) return KaPath();
  const KaString folder = a.GetRootAndDir();
  const size_t common = CommonFolderLength(ComparableFolder(a), ComparableFolder(b));
  return KaPath(folder.Left(static_cast<int>(common)));
}

bool KaPath::RelativePathTo(const KaPath& from, const KaPath& to, KaPath& out) {
  if (!from.IsFullPath() || !to.IsFullPath() || !from.IsSameRoot(to)) {
    out = KaString();
    return false;
  }
  const std::u16string from_folder = ComparableFolder(from);
  const std::u16string to_folder = ComparableFolder(to);
  const size_t common = CommonFolderLength(from_folder, to_folder);
  const char16_t sep = SeparatorStyle(ViewOf(from.GetRoot()), ViewOf(from.GetDir()));
  const size_t climbs = SplitComponents(View(from_folder).substr(common)).size();
  std::u16string text;
  if (climbs == 0) {
    text = u".";
    text.push_back(sep);
  }
  for (size_t i = 0; i < climbs; ++i) {
    text.append(u"..");
    text.push_back(sep);
  }
  // The rest of the target's folder in its original case.
  const KaString to_text = to.GetRootAndDir();
  std::u16string rest(ViewOf(to_text).substr(common));
  for (char16_t& c : rest) {
    if (IsSeparator(c)) c = sep;
  }
  text += rest;
  text.append(ViewOf(to.GetFileNameAndExt()));
  out = ToKaString(text);
  return true;
}

bool KaPath::CorrectPathComponentForFileSystem(KaString& component) {
  const int length = component.GetLength();
  if (length == 0) return false;
  char16_t* buffer = component.GetBuffer(length);
  const bool changed = CorrectComponent(buffer, static_cast<size_t>(length));
  component.ReleaseBuffer(length);
  return changed;
}

bool KaPath::CorrectPathForFileSystem(KaString& path) {
  const int length = path.GetLength();
  if (length == 0) return false;
  // The root (drive, UNC server and share, URL host) is left as it is.
  const int root_length = KaPath(path).GetRoot().GetLength();
  char16_t* buffer = path.GetBuffer(length);
  bool changed = false;
  size_t start = static_cast<size_t>(root_length);
  const size_t end = static_cast<size_t>(length);
  while (start < end) {
    size_t stop = start;
    while (stop < end && !IsSeparator(buffer[stop])) ++stop;
    const View component(buffer + start, stop - start);
    // "." and ".." are steps of the path, not names.
    if (component != u"." && component != u"..") {
      changed = CorrectComponent(buffer + start, stop - start) || changed;
    }
    start = stop + 1;
  }
  path.ReleaseBuffer(length);
  return changed;
}

bool KaPath::CheckAndRepairLocalPath(KaString& path) {
  const std::u16string repaired = CollapseSeparatorRuns(ViewOf(path));
  if (repaired.size() == static_cast<size_t>(path.GetLength())) return false;
  path = ToKaString(repaired);
  return true;
}

KaPath::EDriveNumber KaPath::GetDriveNumberFromRoot(const KaString& root) {
  const View text = ViewOf(root);
  if (text.empty() || text.size() > 2 || text.find(u"\\\\") != View::npos) return eDriveNone;
  char16_t letter = text[0];
  if (letter >= u'a' && letter <= u'z') letter = static_cast<char16_t>(letter - u'a' + u'A');
  if (letter < u'A' || letter > u'Z') return eDriveNone;
  return static_cast<EDriveNumber>(letter - u'A');
}

KaString KaPath::GetRootFromDriveNumber(int drive) {
  if (drive < eDriveA || drive > eDriveZ) return KaString();
  const char16_t root[] = {static_cast<char16_t>(u'A' + drive), u':', u'\0'};
  return KaString(root);
}

void KaPath::RemoveTrailingPathSeparator(KaString& path) {
  int length = path.GetLength();
  const View text = ViewOf(path);
  const int keep = HasDrivePrefix(text) ? 3 : 1;
  while (length > keep && IsSeparator(text[static_cast<size_t>(length) - 1])) --length;
  if (length != path.GetLength()) path = path.Left(length);
}

void KaPath::VerifyTrailingPathSeparator(KaString& path) {
  const View text = ViewOf(path);
  if (text.empty() || !IsSeparator(text.back())) path += TextSeparatorStyle(text);
}

void KaPath::VerifyLeadingPathSeparator(KaString& path) {
  const View text = ViewOf(path);
  if (text.empty() || !IsSeparator(text.front())) path.Insert(0, TextSeparatorStyle(text));
}

void KaPath::VerifyLeadingPeriod(KaString& ext) {
  if (!ext.IsEmpty() && ext.GetAt(0) != u'.') ext.Insert(0, u'.');
}

}  // namespace KaOSAL
