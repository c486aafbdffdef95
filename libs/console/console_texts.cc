#include "console_texts.h"

namespace wardex::console {

void ConsoleTexts::Set(const SetTexts& texts) {
  product_name_ = texts.product_name;
  texts_.clear();
  for (const TextEntry& entry : texts.texts) texts_[entry.key] = entry.value;
}

std::string ConsoleTexts::Get(const char* key, const char* fallback) const {
  const auto found = texts_.find(key);
  return found == texts_.end() || found->second.empty() ? std::string(fallback) : found->second;
}

std::string ConsoleTexts::Title(const char* key, const char* fallback) const {
  const std::string text = Get(key, fallback);
  return product_name_.empty() ? text : product_name_ + " - " + text;
}

}  // namespace wardex::console
