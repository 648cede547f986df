// SPDX-License-Identifier: Apache-2.0
// `glps show`: a log's log.xml as a person or a program reads it.
#ifndef GLPS_TOOLS_SHOW_H_
#define GLPS_TOOLS_SHOW_H_

#include <ostream>
#include <string>

#include "glps/audit.h"
#include "json_out.h"

namespace glps_tool {

void PrintShowText(const std::string& directory, const KECGlpsAuditLogState& state,
                   std::ostream& out);
Json ShowJson(const std::string& directory, const KECGlpsAuditLogState& state);

// The subcommand, read-only. Exit status 0 shown, or 4 when DIR or its log.xml cannot be read.
int RunShow(const std::string& directory, bool json, bool quiet, std::ostream& out,
            std::ostream& err);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_SHOW_H_
