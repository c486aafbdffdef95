#include "platform/system_paths_linux.h"
#include "platform/system_paths.h"

#include <link.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "osal/ka_path.h"
#include "osal/last_error.h"

namespace wardex::platform {
namespace {

using KaOSAL::KaString;

constexpr uint16_t kLangEnglishUs = 0x0409;

KaString FromNative(const std::string& text) { return KaString(text.c_str(), KaOSAL::KA_CP_UTF8); }

// The value of |name| when it is set and absolute, else empty.
std::string AbsoluteVariable(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// $HOME when absolute, else the password database's entry of the user, else "/".
std::string HomeFolder() {
  const std::string home = AbsoluteVariable("HOME");
  if (!home.empty()) return home;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr &&
      found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return "/";
}

// The XDG folder |variable|, else |fallback| below $HOME.
KaString XdgFolder(const char* variable, const char* fallback) {
  std::string folder = AbsoluteVariable(variable);
  if (folder.empty()) {
    folder = HomeFolder();
    if (folder.back() != '/') folder += '/';
    folder += fallback;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return FromNative(folder);
}

// A POSIX locale name and the language identifier Windows gives it. Names are
// "language_COUNTRY" with the modifier where it selects the script.
struct LocaleLangId {
  const char* name;
  uint16_t langid;
};

constexpr LocaleLangId kLocaleLangIds[] = {
    {"af_ZA", 0x0436},       {"am_ET", 0x045E},  {"ar_AE", 0x3801},  {"ar_BH", 0x3C01},
    {"ar_DZ", 0x1401},       {"ar_EG", 0x0C01},  {"ar_IQ", 0x0801},  {"ar_JO", 0x2C01},
    {"ar_KW", 0x3401},       {"ar_LB", 0x3001},  {"ar_LY", 0x1001},  {"ar_MA", 0x1801},
    {"ar_OM", 0x2001},       {"ar_QA", 0x4001},  {"ar_SA", 0x0401},  {"ar_SY", 0x2801},
    {"ar_TN", 0x1C01},       {"ar_YE", 0x2401},  {"as_IN", 0x044D},  {"az_AZ", 0x042C},
    {"be_BY", 0x0423},       {"bg_BG", 0x0402},  {"bn_BD", 0x0845},  {"bn_IN", 0x0445},
    {"bo_CN", 0x0451},       {"bs_BA", 0x141A},  {"ca_ES", 0x0403},  {"cs_CZ", 0x0405},
    {"cy_GB", 0x0452},       {"da_DK", 0x0406},  {"de_AT", 0x0C07},  {"de_CH", 0x0807},
    {"de_DE", 0x0407},       {"de_LI", 0x1407},  {"de_LU", 0x1007},  {"dsb_DE", 0x082E},
    {"dv_MV", 0x0465},       {"el_GR", 0x0408},  {"en_AU", 0x0C09},  {"en_BZ", 0x2809},
    {"en_CA", 0x1009},       {"en_GB", 0x0809},  {"en_IE", 0x1809},  {"en_JM", 0x2009},
    {"en_NZ", 0x1409},       {"en_PH", 0x3409},  {"en_TT", 0x2C09},  {"en_US", 0x0409},
    {"en_ZA", 0x1C09},       {"en_ZW", 0x3009},  {"es_AR", 0x2C0A},  {"es_BO", 0x400A},
    {"es_CL", 0x340A},       {"es_CO", 0x240A},  {"es_CR", 0x140A},  {"es_DO", 0x1C0A},
    {"es_EC", 0x300A},       {"es_ES", 0x040A},  {"es_GT", 0x100A},  {"es_HN", 0x480A},
    {"es_MX", 0x080A},       {"es_NI", 0x4C0A},  {"es_PA", 0x180A},  {"es_PE", 0x280A},
    {"es_PR", 0x500A},       {"es_PY", 0x3C0A},  {"es_SV", 0x440A},  {"es_US", 0x540A},
    {"es_UY", 0x380A},       {"es_VE", 0x200A},  {"et_EE", 0x0425},  {"eu_ES", 0x042D},
    {"fa_IR", 0x0429},       {"fi_FI", 0x040B},  {"fil_PH", 0x0464}, {"fo_FO", 0x0438},
    {"fr_BE", 0x080C},       {"fr_CA", 0x0C0C},  {"fr_CD", 0x240C},  {"fr_CH", 0x100C},
    {"fr_CI", 0x300C},       {"fr_CM", 0x2C0C},  {"fr_FR", 0x040C},  {"fr_LU", 0x140C},
    {"fr_MA", 0x380C},       {"fr_MC", 0x180C},  {"fr_ML", 0x340C},  {"fr_SN", 0x280C},
    {"fy_NL", 0x0462},       {"ga_IE", 0x083C},  {"gd_GB", 0x043C},  {"gl_ES", 0x0456},
    {"gu_IN", 0x0447},       {"he_IL", 0x040D},  {"hi_IN", 0x0439},  {"hr_BA", 0x101A},
    {"hr_HR", 0x041A},       {"hsb_DE", 0x042E}, {"hu_HU", 0x040E},  {"hy_AM", 0x042B},
    {"id_ID", 0x0421},       {"ig_NG", 0x0470},  {"is_IS", 0x040F},  {"it_CH", 0x0810},
    {"it_IT", 0x0410},       {"ja_JP", 0x0411},  {"ka_GE", 0x0437},  {"kk_KZ", 0x043F},
    {"km_KH", 0x0453},       {"kn_IN", 0x044B},  {"ko_KR", 0x0412},  {"kok_IN", 0x0457},
    {"ks_IN", 0x0460},       {"ky_KG", 0x0440},  {"lo_LA", 0x0454},  {"lt_LT", 0x0427},
    {"lv_LV", 0x0426},       {"mi_NZ", 0x0481},  {"mk_MK", 0x042F},  {"ml_IN", 0x044C},
    {"mn_MN", 0x0450},       {"mr_IN", 0x044E},  {"ms_BN", 0x083E},  {"ms_MY", 0x043E},
    {"mt_MT", 0x043A},       {"nb_NO", 0x0414},  {"ne_NP", 0x0461},  {"nl_BE", 0x0813},
    {"nl_NL", 0x0413},       {"nn_NO", 0x0814},  {"no_NO", 0x0414},  {"or_IN", 0x0448},
    {"pa_IN", 0x0446},       {"pl_PL", 0x0415},  {"pt_BR", 0x0416},  {"pt_PT", 0x0816},
    {"rm_CH", 0x0417},       {"ro_MD", 0x0818},  {"ro_RO", 0x0418},  {"ru_MD", 0x0819},
    {"ru_RU", 0x0419},       {"sa_IN", 0x044F},  {"se_FI", 0x0C3B},  {"se_NO", 0x043B},
    {"se_SE", 0x083B},       {"si_LK", 0x045B},  {"sk_SK", 0x041B},  {"sl_SI", 0x0424},
    {"sma_NO", 0x183B},      {"sma_SE", 0x1C3B}, {"smj_NO", 0x103B}, {"smj_SE", 0x143B},
    {"smn_FI", 0x243B},      {"sms_FI", 0x203B}, {"sq_AL", 0x041C},  {"sr_RS", 0x0C1A},
    {"sr_RS@latin", 0x081A}, {"st_ZA", 0x0430},  {"sv_FI", 0x081D},  {"sv_SE", 0x041D},
    {"sw_KE", 0x0441},       {"syr_SY", 0x045A}, {"ta_IN", 0x0449},  {"te_IN", 0x044A},
    {"tg_TJ", 0x0428},       {"th_TH", 0x041E},  {"tk_TM", 0x0442},  {"tn_ZA", 0x0432},
    {"tr_TR", 0x041F},       {"ts_ZA", 0x0431},  {"tt_RU", 0x0444},  {"uk_UA", 0x0422},
    {"ur_IN", 0x0820},       {"ur_PK", 0x0420},  {"uz_UZ", 0x0443},  {"uz_UZ@cyrillic", 0x0843},
    {"vi_VN", 0x042A},       {"xh_ZA", 0x0434},  {"yi_US", 0x043D},  {"zh_CN", 0x0804},
    {"zh_HK", 0x0C04},       {"zh_MO", 0x1404},  {"zh_SG", 0x1004},  {"zh_TW", 0x0404},
    {"zu_ZA", 0x0435},
};

// Reads the locale name: "de_AT.UTF-8@euro" gives "de_AT" and "@euro".
void SplitLocale(std::string_view locale, std::string* base, std::string* modifier) {
  size_t at = locale.find('@');
  *modifier = at == std::string_view::npos ? std::string() : std::string(locale.substr(at));
  std::string_view head = locale.substr(0, at);
  *base = std::string(head.substr(0, head.find('.')));
}

// The table entry named |name|, or null.
const LocaleLangId* FindLocale(const std::string& name) {
  auto end = std::end(kLocaleLangIds);
  auto it = std::lower_bound(std::begin(kLocaleLangIds), end, name,
                             [](const LocaleLangId& entry, const std::string& key) {
                               return std::strcmp(entry.name, key.c_str()) < 0;
                             });
  return it != end && name == it->name ? it : nullptr;
}

// The entry of the language's main country: the lowest sub-language.
const LocaleLangId* FindLanguage(const std::string& language) {
  const LocaleLangId* best = nullptr;
  for (const LocaleLangId& entry : kLocaleLangIds) {
    std::string_view name(entry.name);
    if (name.substr(0, name.find('_')) != language) continue;
    if (best == nullptr || (entry.langid >> 10) < (best->langid >> 10)) best = &entry;
  }
  return best;
}

// The module of the program that holds an address, found in the list of
// loaded objects; the main program has an empty name there.
struct ModuleSearch {
  uintptr_t address = 0;
  bool found = false;
  std::string name;
};

int MatchModule(struct dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<ModuleSearch*>(data);
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    uintptr_t start = info->dlpi_addr + segment.p_vaddr;
    if (search->address >= start && search->address < start + segment.p_memsz) {
      search->found = true;
      search->name = info->dlpi_name != nullptr ? info->dlpi_name : "";
      return 1;
    }
  }
  return 0;
}

}  // namespace

KaString GetMachineRoot() {
  // A relative root would let the working directory decide which anchors are
  // trusted and which hive is read.
  const char* root = getenv("WARDEX_ROOT");
  return FromNative(root != nullptr && root[0] == '/' ? root : "/");
}

KaString GetIgnoredMachineRoot() {
  const char* root = getenv("WARDEX_ROOT");
  return FromNative(root != nullptr && root[0] != '\0' && root[0] != '/' ? root : "");
}

KaString GetMachinePath(const char16_t* relative) {
  KaString path = GetMachineRoot();
  if (!path.EndsWith(u"/")) path += u'/';
  return path + relative;
}

KaString GetUserDataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }
KaString GetUserConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }
KaString GetUserHomeFolder() { return FromNative(HomeFolder()); }
KaString GetUserStateFolder() { return XdgFolder("XDG_STATE_HOME", ".local/state"); }
KaString GetUserCacheFolder() { return XdgFolder("XDG_CACHE_HOME", ".cache"); }
KaString GetUserRuntimeFolder() { return FromNative(AbsoluteVariable("XDG_RUNTIME_DIR")); }

KaString GetCommonAppDataFolder() { return GetMachinePath(u"var/lib/wardex/common"); }

KaString GetExecutableFilePath() {
  return KaOSAL::KaPath(KaOSAL::KaPath::eSpecialFolderExecutablePath).ToString();
}

KaString GetModuleFilePathOf(const void* address) {
  ModuleSearch search;
  search.address = reinterpret_cast<uintptr_t>(address);
  dl_iterate_phdr(MatchModule, &search);
  if (!search.found) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return KaString();
  }
  if (search.name.empty()) return GetExecutableFilePath();
  char resolved[PATH_MAX];
  if (realpath(search.name.c_str(), resolved) == nullptr) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return KaString();
  }
  return FromNative(resolved);
}

uint16_t LangIdFromLocaleName(const char* locale) {
  std::string base, modifier;
  SplitLocale(locale != nullptr ? locale : "", &base, &modifier);
  if (base.empty() || base == "C" || base == "POSIX") return kLangEnglishUs;
  if (const LocaleLangId* entry = FindLocale(base + modifier)) return entry->langid;
  if (const LocaleLangId* entry = FindLocale(base)) return entry->langid;
  if (const LocaleLangId* entry = FindLanguage(base.substr(0, base.find('_')))) {
    return entry->langid;
  }
  return kLangEnglishUs;
}

uint16_t GetUserDefaultLangID() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getenv(variable);
    if (value != nullptr && value[0] != '\0') return LangIdFromLocaleName(value);
  }
  return kLangEnglishUs;
}

}  // namespace wardex::platform
