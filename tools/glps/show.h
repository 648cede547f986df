// SPDX-License-Identifier: Apache-2.0
// `glps show`: a log's log.xml as a person or a program reads it.
#ifndef GLPS_TOOLS_SHOW_H_
#define GLPS_TOOLS_SHOW_H_

#include <ostream>
#include <string>
#include <vector>

#include "log_state.h"

namespace glps_tool {

void PrintShowText(const std::string& directory, const LogState& state, std::ostream& out);
void PrintShowJson(const std::string& directory, const LogState& state, std::ostream& out);

// The subcommand: `glps show DIR [--json]`, read-only. Exit status 0, or 2 for a usage error or
// when DIR or its log.xml cannot be read.
int RunShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
void PrintShowHelp(std::ostream& out);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_SHOW_H_
