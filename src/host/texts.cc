// SPDX-License-Identifier: Apache-2.0
// The text service: the English texts of the ids the log library uses.
#include <map>

#include "glps/host/services.h"

namespace {

const std::map<unsigned, std::string>& Texts() {
  static const std::map<unsigned, std::string> texts = {
      {10050, "Kelvara Laboratory Suite"},
      {18630, "GLP-Log"},
      {18631, "The log was changed outside the audit trail"},
      {18635,
       "Note: this experiment was created with an earlier version of the product; its history "
       "before this point is not part of this log."},
      {18701, "%1 %2 started"},
      {18702, "%1 %2 ended"},
  };
  return texts;
}

}  // namespace

std::string Txts::GetString(unsigned id) {
  const auto it = Texts().find(id);
  return it != Texts().end() ? it->second : "[text " + std::to_string(id) + "]";
}

std::string Txts::GetString(unsigned id, const std::vector<std::string>& arguments) {
  const std::string pattern = GetString(id);
  std::string result;
  result.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
        pattern[i + 1] <= '9') {
      const std::size_t index = static_cast<std::size_t>(pattern[i + 1] - '1');
      if (index < arguments.size()) {
        result += arguments[index];
        ++i;
        continue;
      }
    }
    result += pattern[i];
  }
  return result;
}
