// SPDX-License-Identifier: Apache-2.0
// `glps demo`: a host program in miniature that writes an application log and an experiment log.
#ifndef GLPS_TOOLS_DEMO_H_
#define GLPS_TOOLS_DEMO_H_

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "glps/records.h"

namespace glps_tool {

// What the demo keeps between its runs in DIR/demo-state.txt, as a host keeps the infos of its
// logs with its settings and experiments: the number of runs so far and, per log directory
// (relative to DIR), the KECGlpsLogInfo the library handed out at the end of the last run.
struct DemoState {
  int runs = 0;
  std::map<std::string, KECGlpsLogInfo> infos;

  // A missing file gives the empty state. False, with a message, for a file that cannot be read or
  // is not in the demo's format; the state is then left as it was.
  bool Load(const std::string& path, std::string* error);
  // Replaces the file atomically (a reader or a crash sees the old or the new state, never a mix).
  bool Save(const std::string& path) const;
};

// The file of the state in the demo directory.
std::string DemoStatePath(const std::string& directory);

// The subcommand: `glps demo DIR [--messages N] [--runs N] [--crash] [--tamper]
// [--experiment NAME]`. Exit status 0; 1 when a call into the library failed; 2 for a usage
// error or when DIR or the state file cannot be used.
int RunDemo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
void PrintDemoHelp(std::ostream& out);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_DEMO_H_
