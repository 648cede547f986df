// SPDX-License-Identifier: Apache-2.0
// `glps demo`: a host program in miniature that writes an application log and an experiment log.
#ifndef GLPS_TOOLS_DEMO_H_
#define GLPS_TOOLS_DEMO_H_

#include <map>
#include <ostream>
#include <string>

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

// Sample messages per run by default, and roughly what it takes to fill a document past 1 MiB in
// one run.
constexpr int kDefaultMessages = 20;
constexpr int kRolloverMessages = 10000;

struct DemoOptions {
  std::string directory;
  int messages = kDefaultMessages;
  int runs = 1;
  bool crash = false;   // the first run reports a crash of the previous one
  bool tamper = false;  // after the last run, change one byte of the experiment log's document
  std::string experiment = "Titration 7";
};

// Whether the experiment's name makes a directory name (it needs a letter or a digit).
bool IsUsableExperimentName(const std::string& experiment);

// Runs the demo. Exit status 0; 1 when a call into the library failed; 2 for a bad experiment
// name or when DIR or the state file cannot be used.
int RunDemo(const DemoOptions& options, std::ostream& out, std::ostream& err);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_DEMO_H_
