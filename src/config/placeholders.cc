#include "config/placeholders.h"

#include <array>

#include "config/install_config.h"
#include "config/languages.h"
#include "config/profile_string.h"

namespace wardex {

using KaOSAL::KaString;

namespace {

constexpr int kIdentityCount = 9;

// The identity values in replacement order; |key| is the product file's key
// (none for prosilver, which is chosen by the installed edition).
struct IdentityName {
  const char16_t* lower;
  const char16_t* capitalised;
  const char16_t* upper;
  const char16_t* key;
  const char16_t* defaultValue;
};

constexpr std::array<IdentityName, kIdentityCount> kIdentity = {{
    {u"%company%", u"%Company%", u"%COMPANY%", u"company", u"Corvane"},
    {u"%companyfull%", u"%Companyfull%", u"%COMPANYFULL%", u"companyfull", u"Corvane GmbH"},
    {u"%pro1%", u"%Pro1%", u"%PRO1%", u"pro1", u"Corvane Brisko"},
    {u"%pro2%", u"%Pro2%", u"%PRO2%", u"pro2", u"quenrapid"},
    {u"%pro3%", u"%Pro3%", u"%PRO3%", u"pro3", u"quenpure"},
    {u"%pro4%", u"%Pro4%", u"%PRO4%", u"pro4", u"quenguard"},
    {u"%prosilver%", u"%Prosilver%", u"%PROSILVER%", nullptr, nullptr},
    {u"%promobile%", u"%Promobile%", u"%PROMOBILE%", u"promobile", u"quenpure Mobile"},
    {u"%function_wardex%", u"%Function_wardex%", u"%FUNCTION_WARDEX%", u"function_wardex",
     u"Wardex"},
}};

enum Index : int { kPro1 = 2, kPro2 = 3, kPro3 = 4, kPro4 = 5, kProsilver = 6 };

struct ProductIdentity {
  std::array<KaString, kIdentityCount> values;
  std::array<KaString, kIdentityCount> upper;
};

// Which of pro1 to pro4 names the installed edition; first match wins.
int SelectEdition(const KaString& module, const KaString& quenproduct) {
  auto is = [](const KaString& value, const char16_t* text) {
    return value.CompareNoCase(text) == 0;
  };
  if (is(module, u"bk_bk")) return kPro1;
  if (is(quenproduct, u"fast") || is(module, u"fast_bk")) return kPro2;
  if (is(quenproduct, u"clean") || is(module, u"clean_bk")) return kPro3;
  if (is(quenproduct, u"safe") || is(module, u"safe_bk")) return kPro4;
  return kPro1;
}

ProductIdentity ReadIdentity() {
  ProductIdentity identity;
  const KaString productFile = GetLocalizedProductConfigPath().ToString();
  for (int i = 0; i < kIdentityCount; ++i) {
    if (kIdentity[i].key == nullptr) continue;
    identity.values[i] =
        ReadProfileString(u"install", kIdentity[i].key, kIdentity[i].defaultValue, productFile);
  }
  const KaString installConfig = GetInstallConfigPath().ToString();
  const KaString quenproduct = ReadProfileString(u"install", u"quenproduct", u"", installConfig);
  const KaString module = ReadProfileString(u"install", u"Module", u"", installConfig);
  identity.values[kProsilver] = identity.values[SelectEdition(module, quenproduct)];
  for (int i = 0; i < kIdentityCount; ++i) {
    identity.upper[i] = identity.values[i];
    identity.upper[i].MakeUpper();
  }
  return identity;
}

// Read once per process; concurrent first callers wait for the one reading.
const ProductIdentity& Identity() {
  static const ProductIdentity identity = ReadIdentity();
  return identity;
}

}  // namespace

void ExpandPlaceholders(KaString& text) {
  const ProductIdentity& identity = Identity();
  if (text.Find(u'%') < 0) return;
  for (int i = 0; i < kIdentityCount; ++i) text.Replace(kIdentity[i].lower, identity.values[i]);
  for (int i = 0; i < kIdentityCount; ++i) {
    text.Replace(kIdentity[i].capitalised, identity.values[i]);
  }
  for (int i = 0; i < kIdentityCount; ++i) text.Replace(kIdentity[i].upper, identity.upper[i]);
}

}  // namespace wardex
