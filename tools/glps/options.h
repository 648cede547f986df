// SPDX-License-Identifier: Apache-2.0
// Command-line options of the glps subcommands.
#ifndef GLPS_TOOLS_OPTIONS_H_
#define GLPS_TOOLS_OPTIONS_H_

#include <map>
#include <string>
#include <vector>

namespace glps_tool {

struct OptionDef {
  std::string name;  // with its dashes: "--json"
  bool takesValue;
};

struct ParsedArgs {
  std::vector<std::string> positional;
  // Options given, each with its value (empty for flags).
  std::map<std::string, std::string> options;
  bool help = false;  // --help or -h

  bool Has(const std::string& name) const { return options.count(name) != 0; }
};

// Parses `args` (the words after the subcommand's name). An option that takes a value accepts it as
// the next word or after '='; "--" ends the options. False, with a message in `error`, for an
// unknown option, a missing or unexpected value, or an option given twice.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& options,
               ParsedArgs* parsed, std::string* error);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_OPTIONS_H_
