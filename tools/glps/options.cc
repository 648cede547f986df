// SPDX-License-Identifier: Apache-2.0
#include "options.h"

namespace glps_tool {

bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& options,
               ParsedArgs* parsed, std::string* error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      parsed->positional.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word == "--help" || word == "-h") {
      parsed->help = true;
      continue;
    }
    const std::string::size_type equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const OptionDef* found = nullptr;
    for (const OptionDef& option : options) {
      if (option.name == name) found = &option;
    }
    if (found == nullptr) {
      *error = "unknown option '" + word + "'";
      return false;
    }
    if (parsed->Has(name)) {
      *error = "option " + name + " given twice";
      return false;
    }
    std::string value;
    if (found->takesValue) {
      if (equals != std::string::npos) {
        value = word.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        *error = "option " + name + " needs a value";
        return false;
      }
    } else if (equals != std::string::npos) {
      *error = "option " + name + " takes no value";
      return false;
    }
    parsed->options[name] = value;
  }
  return true;
}

}  // namespace glps_tool
