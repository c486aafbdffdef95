// The Console's window texts that the agent sent (SetTexts), each with the
// English text its window uses when the agent has none.
#pragma once

#include <map>
#include <string>

#include "protocol/console_protocol.h"

namespace wardex::console {

class ConsoleTexts {
 public:
  void Set(const SetTexts& texts);
  const std::string& product_name() const { return product_name_; }
  // The agent's text for |key|, else |fallback|.
  std::string Get(const char* key, const char* fallback) const;
  // "<product name> - <text of key>", or the text alone without a product name.
  std::string Title(const char* key, const char* fallback) const;

 private:
  std::string product_name_;
  std::map<std::string, std::string> texts_;
};

}  // namespace wardex::console
