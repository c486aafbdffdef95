// KaPath: the one path type of the system. A path is held as its full text
// and split lazily into root, dir, file name and extension, the first time a
// getter needs a component; replacing a component composes the path anew.
//
// Both "/" and "\" separate components when splitting. Linux paths ("/usr/lib/x.so")
// have an empty root; drive-letter ("C:\dir\f.txt"), UNC ("\\server\share") and URL
// forms keep their Windows shape, and a composed path keeps the separator style it
// came with (see docs/architecture.md, "Paths").
//
// The getters fill components on demand, so one KaPath must not be read from
// several threads at once without a lock; copies are independent.
#pragma once

#include "osal/ka_string.h"
#include "osal/osal_export.h"

namespace KaOSAL {

class KAOSAL_API KaPath {
 public:
  // Tested in the order UNC, URL, relative, local.
  enum EPathType : int {
    ePathTypeNone = 0,
    ePathTypeRelative = 1,
    ePathTypeLocal = 2,  // a drive letter, or a Linux path starting with a separator
    ePathTypeUNC = 3,
    ePathTypeURL = 4,
  };

  // 0 to 25 for the drives A to Z.
  enum EDriveNumber : int {
    eDriveNone = -1,
    eDriveA = 0,
    eDriveC = 2,
    eDriveZ = 25,
  };

  // The special folder kinds. Only the three below resolve; every other kind
  // up to eSpecialFolderCount leaves the path empty.
  enum ESpecialFolders : int {
    eSpecialFolderTemp = 7,             // $TMPDIR, else /tmp (trailing separator)
    eSpecialFolderExecutableDir = 42,   // folder of the running executable (trailing separator)
    eSpecialFolderExecutablePath = 43,  // the running executable itself
    eSpecialFolderCount = 47,
  };

  static constexpr const char16_t* kPathSeparator = u"/";
  static constexpr const char16_t* kUrlPathSeparators = u"/\\";
  static constexpr const char16_t* kPathSeparators = u"\\/";
  static constexpr const char16_t* kRootColon = u":";
  static constexpr const char16_t* kIgnorePattern = u"/./";
  static constexpr const char16_t* kLeadingPattern = u"./";
  static constexpr const char16_t* kParentPattern = u"/../";
  static constexpr const char16_t* kUPnPScheme = u"upnp://";

  // Construction goes through the assignment slots below.
  KaPath();
  KaPath(const KaPath& other);
  KaPath(const KaString& path);         // NOLINT: implicit, paths are built from text everywhere
  KaPath(const char16_t* path);         // NOLINT: as above
  explicit KaPath(EDriveNumber drive);  // root "X:" only; nothing for an invalid number
  // The folder of |kind|, with |sub_dir| appended when given; empty when the
  // kind cannot be resolved.
  explicit KaPath(ESpecialFolders kind, const char16_t* sub_dir = nullptr);

  // The assignment slots, in this order; a subclass may override them.
  virtual ~KaPath();
  virtual KaPath& operator=(const KaPath& other);
  // Stores the text as the full path; "X:" becomes "X:\".
  virtual KaPath& operator=(const KaString& path);
  virtual KaPath& operator=(const char16_t* path);

  bool operator==(const KaPath& other) const;
  bool operator==(const KaString& other) const;
  bool operator==(const char16_t* other) const;
  bool operator!=(const KaPath& other) const { return !(*this == other); }
  bool operator!=(const KaString& other) const { return !(*this == other); }
  bool operator!=(const char16_t* other) const { return !(*this == other); }

  operator const char16_t*() const { return m_strFullPath.c_str(); }  // NOLINT: as a string
  const KaString& ToString() const { return m_strFullPath; }

  // Components, split on first use.
  const KaString& GetRoot() const { return GetComponent(kRoot); }
  const KaString& GetDir() const { return GetComponent(kDir); }
  const KaString& GetFileName() const { return GetComponent(kFileName); }
  const KaString& GetExt() const { return GetComponent(kExt); }
  KaString GetFileNameAndExt() const;
  KaString GetRootAndDir() const;
  KaString GetPathWithoutExtension() const;
  KaString GetPathWithoutRoot() const;
  KaString GetDirLastComponent() const;  // "b" for "/a/b/x.txt"; empty without a folder
  bool SplitPath(KaString& root, KaString& dir, KaString& file_name, KaString& ext) const;

  // Replacing components; each composes the path anew with MakePath.
  bool SetRoot(const KaString& root);
  bool SetDir(const KaString& dir);
  bool SetDirLastComponent(const KaString& name);  // false without a folder or for a bad name
  bool SetFileName(const KaString& file_name);     // an empty name also drops the extension
  bool SetExt(const KaString& ext);
  bool SetFileNameAndExt(const KaString& text);
  bool SetRootAndDir(const KaString& root_and_dir);
  bool MakePath(const KaString& root, const KaString& dir, const KaString& file_name,
                const KaString& ext);
  bool MakePath(EDriveNumber drive, const KaString& dir, const KaString& file_name,
                const KaString& ext);
  // Appends a relative folder (no file name, no extension) to the dir.
  bool AppendDir(const KaPath& other);
  bool AppendDir(const KaString& dir);
  bool AppendDir(const char16_t* dir);
  bool GotoParent();
  bool Canonicalize();
  bool MakePretty();

  // Queries. Folder-ness is a matter of the text: a path names a folder when
  // it ends with a separator (or is a root).
  bool IsEmpty() const { return m_strFullPath.IsEmpty(); }
  bool IsFile() const;
  bool IsDirectory() const;
  bool IsFullPath() const;
  bool IsRelative() const;
  bool IsRoot() const;
  bool IsUNC() const;
  bool IsUNCServer() const;
  bool IsUNCServerShare() const;
  bool IsURL() const;
  bool IsNetwork() const;  // UNC or URL
  bool IsSameRoot(const KaPath& other) const;
  // True when this path lies below the folder of |parent| (its root and dir).
  bool IsSubPath(const KaPath& parent) const;
  // True when this path's folder is a folder directly inside the folder of |parent|.
  bool IsDirectSubDir(const KaPath& parent) const;
  bool IsCanonicalized() const;
  // True when this path names the resolved folder of |kind|.
  bool IsSpecialFolder(ESpecialFolders kind) const;
  bool HasRoot() const { return !GetRoot().IsEmpty(); }
  bool HasDirectory() const { return !GetDir().IsEmpty(); }
  bool HasFilename() const { return !GetFileName().IsEmpty(); }
  bool HasExtension() const { return !GetExt().IsEmpty(); }
  EPathType GetPathType() const;
  EDriveNumber GetDriveNumber() const { return GetDriveNumberFromRoot(GetRoot()); }

  // Joins an absolute and a relative path (in either order; two relative
  // paths join in the order given). Two absolute paths fail with |out| empty.
  static bool CombinePath(const KaPath& a, const KaPath& b, KaPath& out);
  // The deepest folder that both paths lie in; empty when the roots differ.
  static KaPath GetCommonPath(const KaPath& a, const KaPath& b);
  // The relative path from the folder of |from| to |to| ("./x", "../y/x");
  // fails with |out| empty unless both are absolute with the same root.
  static bool RelativePathTo(const KaPath& from, const KaPath& to, KaPath& out);
  // Replace the characters that a file name cannot hold with "_"; true when
  // something was replaced. The path form keeps its root and separators.
  static bool CorrectPathForFileSystem(KaString& path);
  static bool CorrectPathComponentForFileSystem(KaString& component);
  // Collapses every run of separators to one; true when it changed the text.
  static bool CheckAndRepairLocalPath(KaString& path);
  static EDriveNumber GetDriveNumberFromRoot(const KaString& root);
  static KaString GetRootFromDriveNumber(int drive);
  // Removes trailing separators, keeping a root's own ("/", "C:\").
  static void RemoveTrailingPathSeparator(KaString& path);
  static void VerifyTrailingPathSeparator(KaString& path);
  static void VerifyLeadingPathSeparator(KaString& path);
  static void VerifyLeadingPeriod(KaString& ext);

  // Empties the four components and clears the five flags.
  void Reset();
  // Clears the five flags only.
  void ResetFlags();

 private:
  enum Component : int { kRoot = 0, kDir = 1, kFileName = 2, kExt = 3, kComponentCount = 4 };

  const KaString& GetComponent(Component which) const;
  void SplitAllComponents() const;
  void RebuildFullPathFromComponents();

  KaString m_strFullPath;
  mutable KaString m_strComponents[kComponentCount];
  bool m_bComponentsAuthoritative = false;  // set by GotoParent
  mutable bool m_bSplit[kComponentCount] = {false, false, false, false};
};

}  // namespace KaOSAL
