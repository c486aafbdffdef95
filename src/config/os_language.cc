#include "config/os_language.h"

#include <algorithm>
#include <iterator>

#include "platform/system_paths.h"

namespace wardex {

namespace {

struct LangIdCode {
  uint16_t langid;
  const char16_t* code;
};

// Windows language identifiers and the codes the suite names their languages
// by: ISO 639 language, underscore, ISO 3166 country, with the suite's own
// exceptions (0x0809 "en_UK", the African French locales "fr_FR", ...).
// Sorted by identifier.
constexpr LangIdCode kLanguageCodes[] = {
    {0x0401, u"ar_SA"},  {0x0402, u"bg_BG"},  {0x0403, u"ca_ES"},  {0x0404, u"zh_TW"},
    {0x0405, u"cs_CZ"},  {0x0406, u"da_DK"},  {0x0407, u"de_DE"},  {0x0408, u"el_GR"},
    {0x0409, u"en_US"},  {0x040A, u"es_ES"},  {0x040B, u"fi_FI"},  {0x040C, u"fr_FR"},
    {0x040D, u"he_IL"},  {0x040E, u"hu_HU"},  {0x040F, u"is_IS"},  {0x0410, u"it_IT"},
    {0x0411, u"ja_JP"},  {0x0412, u"ko_KR"},  {0x0413, u"nl_NL"},  {0x0414, u"no_NO"},
    {0x0415, u"pl_PL"},  {0x0416, u"pt_BR"},  {0x0417, u"rm_CH"},  {0x0418, u"ro_RO"},
    {0x0419, u"ru_RU"},  {0x041A, u"hr_HR"},  {0x041B, u"sk_SK"},  {0x041C, u"sq_AL"},
    {0x041D, u"sv_SE"},  {0x041E, u"th_TH"},  {0x041F, u"tr_TR"},  {0x0420, u"ur_PK"},
    {0x0421, u"id_ID"},  {0x0422, u"uk_UA"},  {0x0423, u"be_BY"},  {0x0424, u"sl_SI"},
    {0x0425, u"et_EE"},  {0x0426, u"lv_LV"},  {0x0427, u"lt_LT"},  {0x0428, u"tg_TJ"},
    {0x0429, u"fa_IR"},  {0x042A, u"vi_VN"},  {0x042B, u"hy_AM"},  {0x042C, u"az_AZ"},
    {0x042D, u"eu_ES"},  {0x042E, u"hsb_DE"}, {0x042F, u"mk_MK"},  {0x0430, u"st_ZA"},
    {0x0431, u"ts_TS"},  {0x0432, u"tn_ZA"},  {0x0434, u"xh_ZA"},  {0x0435, u"zu_ZA"},
    {0x0436, u"af_ZA"},  {0x0437, u"ka_GE"},  {0x0438, u"fo_FO"},  {0x0439, u"hi_IN"},
    {0x043A, u"mt_MT"},  {0x043B, u"se_FI"},  {0x043C, u"gd"},     {0x043D, u"yi"},
    {0x043E, u"ms_MY"},  {0x043F, u"kk_KZ"},  {0x0440, u"ky_KG"},  {0x0441, u"sw_KE"},
    {0x0442, u"tk_TM"},  {0x0443, u"uz_UZ"},  {0x0444, u"tt_RU"},  {0x0445, u"bn_IN"},
    {0x0446, u"pa_IN"},  {0x0447, u"gu_IN"},  {0x0448, u"or_IN"},  {0x0449, u"ta_IN"},
    {0x044A, u"te_IN"},  {0x044B, u"kn_IN"},  {0x044C, u"ml_IN"},  {0x044D, u"as_IN"},
    {0x044E, u"mr_IN"},  {0x044F, u"sa_IN"},  {0x0450, u"mn_MN"},  {0x0451, u"bo_CN"},
    {0x0452, u"cy_GB"},  {0x0453, u"kh_KH"},  {0x0454, u"lo_LA"},  {0x0456, u"gl_ES"},
    {0x0457, u"kok_IN"}, {0x045A, u"syr_SY"}, {0x045B, u"si_LK"},  {0x045E, u"am_ET"},
    {0x0460, u"ks_IN"},  {0x0461, u"ne_NP"},  {0x0462, u"fy_NL"},  {0x0464, u"fil_PH"},
    {0x0465, u"dv_MV"},  {0x0470, u"ig_NG"},  {0x0481, u"mi_NZ"},  {0x0801, u"ar_IQ"},
    {0x0804, u"zh_CN"},  {0x0807, u"de_CH"},  {0x0809, u"en_UK"},  {0x080A, u"es_MX"},
    {0x080C, u"fr_BE"},  {0x0810, u"it_CH"},  {0x0813, u"nl_BE"},  {0x0814, u"no_NO"},
    {0x0816, u"pt_PT"},  {0x0818, u"ro_MO"},  {0x0819, u"ru_MO"},  {0x081A, u"sr_SP"},
    {0x081D, u"sv_FI"},  {0x0820, u"ur_IN"},  {0x082C, u"az_AZ"},  {0x082E, u"dsb_DE"},
    {0x083B, u"se_SE"},  {0x083C, u"ga_IE"},  {0x083E, u"ms_BN"},  {0x0843, u"uz_UZ"},
    {0x0845, u"bn_BN"},  {0x0850, u"mn_MN"},  {0x0C01, u"ar_EG"},  {0x0C04, u"zh_HK"},
    {0x0C07, u"de_AT"},  {0x0C09, u"en_AU"},  {0x0C0A, u"es_ES"},  {0x0C0C, u"fr_CA"},
    {0x0C1A, u"sr_SP"},  {0x0C3B, u"se_FI"},  {0x1001, u"ar_LY"},  {0x1004, u"zh_SG"},
    {0x1007, u"de_LU"},  {0x1009, u"en_CA"},  {0x100A, u"es_GT"},  {0x100C, u"fr_CH"},
    {0x101A, u"hr_BA"},  {0x103B, u"smj_NO"}, {0x1401, u"ar_DZ"},  {0x1404, u"zh_MO"},
    {0x1407, u"de_LI"},  {0x1409, u"en_NZ"},  {0x140A, u"es_CR"},  {0x140C, u"fr_LU"},
    {0x141A, u"bs_BA"},  {0x143B, u"smj_SE"}, {0x1801, u"ar_MA"},  {0x1809, u"en_IE"},
    {0x180A, u"es_PA"},  {0x180C, u"fr_MC"},  {0x183B, u"sma_NO"}, {0x1C01, u"ar_TN"},
    {0x1C09, u"en_ZA"},  {0x1C0A, u"es_DO"},  {0x1C0C, u"fr_FR"},  {0x1C3B, u"sma_SE"},
    {0x2001, u"ar_OM"},  {0x2009, u"en_JM"},  {0x200A, u"es_VE"},  {0x203B, u"sms_FI"},
    {0x2401, u"ar_YE"},  {0x2409, u"en_CB"},  {0x240A, u"es_CO"},  {0x240C, u"fr_FR"},
    {0x243B, u"smn_FI"}, {0x2801, u"ar_SY"},  {0x2809, u"en_BZ"},  {0x280A, u"es_PE"},
    {0x280C, u"fr_SN"},  {0x2C01, u"ar_JO"},  {0x2C09, u"en_TT"},  {0x2C0A, u"es_AR"},
    {0x2C0C, u"fr_FR"},  {0x3001, u"ar_LB"},  {0x3009, u"en_ZW"},  {0x300A, u"es_EC"},
    {0x300C, u"fr_FR"},  {0x3401, u"ar_KW"},  {0x3409, u"en_PH"},  {0x340A, u"es_CL"},
    {0x340C, u"fr_FR"},  {0x3801, u"ar_AE"},  {0x380A, u"es_UY"},  {0x380C, u"fr_MA"},
    {0x3C01, u"ar_BH"},  {0x3C0A, u"es_PY"},  {0x4001, u"ar_QA"},  {0x400A, u"es_BO"},
    {0x440A, u"es_SV"},  {0x480A, u"es_HN"},  {0x4C0A, u"es_NI"},  {0x500A, u"es_PR"},
    {0x540A, u"es_US"},
};

static_assert(std::size(kLanguageCodes) == 189);

}  // namespace

KaOSAL::KaString LanguageCodeFromLangId(uint16_t langid) {
  auto end = std::end(kLanguageCodes);
  auto it =
      std::lower_bound(std::begin(kLanguageCodes), end, langid,
                       [](const LangIdCode& entry, uint16_t id) { return entry.langid < id; });
  if (it != end && it->langid == langid) return it->code;
  KaOSAL::KaString unknown;
  unknown.Format(u"[%X]", static_cast<unsigned>(langid));
  return unknown;
}

KaOSAL::KaString GetOperatingSystemLanguageCode() {
  return LanguageCodeFromLangId(platform::GetUserDefaultLangID());
}

}  // namespace wardex
