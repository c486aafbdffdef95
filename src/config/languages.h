// Languages and localised texts: the language variant of a file, the text
// table of the language's Texts.ini, and the operating system's language.
#pragma once

#include <map>
#include <vector>

#include "osal/ka_path.h"
#include "osal/ka_string.h"

namespace wardex {

// Replaces |path| by its variant for the configured language when one exists
// (name_de_DE.ext, then name_de.ext, then the file itself, then the same in a
// "language" subfolder). Returns whether an existing file was found; |path|
// is unchanged otherwise.
bool LocalizePath(KaOSAL::KaPath& path);

// Fills the process-wide text table from the language's Texts.ini once; later
// calls, and callers that arrive while it is being filled, wait and return.
void LoadTexts();

// The text of |stringId| in |section|, or empty; placeholders expanded when
// |expand|.
KaOSAL::KaString LookupText(const KaOSAL::KaString& stringId, const KaOSAL::KaString& section,
                            bool expand);

// The text of |stringId| from the section of |moduleName| (empty: the module
// that holds the calling code), else the executable's section, else "general".
// An empty result is logged.
KaOSAL::KaString LoadLocalizedString(const KaOSAL::KaString& stringId, bool expand,
                                     const KaOSAL::KaString& moduleName);

// Writes the operating system's language into install.cfg when OSLang is "1"
// or |force|, and copies the products' English local text files for it.
// Returns true when it wrote the language.
bool ApplyOperatingSystemLanguage(bool force);

// product.cfg beside the executable in the user's language, else install.cfg
// beside it; computed once per process.
KaOSAL::KaPath GetLocalizedProductConfigPath();

// The language that the neutral Texts.ini stands for.
inline constexpr char16_t kNeutralLanguage[] = u"en_II";

struct LanguageFile {
  KaOSAL::KaString code;
  KaOSAL::KaString name;  // as a person reads it
};
// The languages of the text files in the language folder beside the
// executable: Texts.ini is the neutral one, first, Texts_<code>.ini the
// others by code. Each is named as its own file names itself
// ([ConsoleModule] CONSOLE_LANGUAGE_NAME), else by its code.
std::vector<LanguageFile> LanguagesPresent();

namespace languages_internal {

using TextSection = std::map<KaOSAL::KaString, KaOSAL::KaString>;  // lower-case key -> text
using TextTable = std::map<KaOSAL::KaString, TextSection>;         // lower-case section -> keys

// The text table of the text file |file|, read as LoadTexts reads it; open
// to the benchmark.
TextTable ReadTextTable(const KaOSAL::KaString& file);

}  // namespace languages_internal
}  // namespace wardex
