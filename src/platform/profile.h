// Profile (INI) files with the Windows semantics that the agent relies on:
// case-insensitive section and key names, the returned-length rules of the
// read buffers, double-zero-terminated name lists, and writes that keep the
// rest of the file (comments, order, other sections) intact.
//
// Files are read as UTF-8 (with or without a byte-order mark) or UTF-16LE
// with its mark; new files are UTF-8 without a mark. A write changes only the
// lines it must, in the file's encoding: every other line keeps its bytes,
// also bytes that are not text in that encoding. A write replaces the file
// atomically (temporary file, fsync, rename), so a crash never leaves half a
// file; through a symbolic link it replaces the link's target. File names are
// UTF-16 paths with "/" separators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace wardex::platform {

// Reads from |file| into |buffer| of |size| characters and returns the number
// of characters stored, not counting the terminating zero:
// - section and key given: the value, or |default_value| (null counts as
//   empty) when the file, section or key is missing. Blanks around the value
//   and one matching pair of double or single quotes around it are removed.
//   A value that does not fit is cut and the result is |size| - 1.
// - section given, key null: the key names of that section; section null: all
//   section names. Each name ends with a zero and the list with a second zero.
//   A list that does not fit is cut, ends in two zeros, and the result is
//   |size| - 2.
// Sets the last error to 2 when the file, section or key is missing.
uint32_t GetPrivateProfileString(const char16_t* section, const char16_t* key,
                                 const char16_t* default_value, char16_t* buffer, uint32_t size,
                                 const char16_t* file);

struct ParsedProfile;

// |file| read once: GetString answers as GetPrivateProfileString does (last
// error included) from what was read at construction, so that a reader of
// many values (the language's text table) does not read the file per value.
class ProfileSnapshot {
 public:
  explicit ProfileSnapshot(const char16_t* file);
  // |file| as one that other users can place in a folder they share: opened
  // without following a link and without blocking, and read only when it is
  // a regular file of at most |max_bytes| owned by root or by this user.
  // Anything else counts as missing.
  ProfileSnapshot(const char16_t* file, size_t max_bytes);
  ~ProfileSnapshot();
  ProfileSnapshot(const ProfileSnapshot&) = delete;
  ProfileSnapshot& operator=(const ProfileSnapshot&) = delete;

  uint32_t GetString(const char16_t* section, const char16_t* key, const char16_t* default_value,
                     char16_t* buffer, uint32_t size) const;

 private:
  std::shared_ptr<const ParsedProfile> parsed_;  // null when the file could not be read
};

// Writes |value| as |key| of |section| in |file|, creating the file and the
// section when missing. A null |value| deletes the key, a null |key| the whole
// section. Returns 1 on success, 0 on failure with the last error set (5 when
// the file or its folder cannot be written; 32 when another process held the
// folder's write lock for about 2 s; 87 for a write that could not be
// read back as written: a line break in a name or value, "]" in the section,
// or a key that contains "=" or starts with ";" or "[").
[[nodiscard]] int WritePrivateProfileString(const char16_t* section, const char16_t* key,
                                            const char16_t* value, const char16_t* file);

}  // namespace wardex::platform
