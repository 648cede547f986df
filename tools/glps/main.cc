// SPDX-License-Identifier: Apache-2.0
// The glps command: `glps demo`, `glps verify`, `glps show`.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "demo.h"
#include "glps/host/gen.h"
#include "show.h"
#include "verify.h"

namespace {

const char kUsage[] =
    "usage: glps demo DIR [--messages N] [--runs N] [--crash] [--tamper] [--experiment NAME]\n"
    "       glps verify DIR [--info HASH:SIZE] [--json]\n"
    "       glps show DIR [--json]\n"
    "       glps --help | --version | <command> --help\n";

void PrintHelp(std::ostream& out) {
  out << kUsage
      << "\n"
         "The command of the glps audit-trail library.\n"
         "\n"
         "  demo    run a small host that writes an application log and an experiment log into\n"
         "          DIR, continuing them from run to run\n"
         "  verify  check a log directory against its log.xml (and log.xml against the host's\n"
         "          info), read-only; exit status 0 intact, 1 not intact, 2 cannot read\n"
         "  show    print a log's header, metadata, catalog and file records\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << "glps: no command given\n" << kUsage;
    return 2;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    PrintHelp(std::cout);
    return 0;
  }
  if (command == "--version") {
    std::cout << "glps " << KCGenVersionInfo().GetProductVersionLong() << '\n';
    return 0;
  }
  int status;
  if (command == "demo") {
    status = glps_tool::RunDemo(args, std::cout, std::cerr);
  } else if (command == "verify") {
    status = glps_tool::RunVerify(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
  } else if (command == "show") {
    status = glps_tool::RunShow(args, std::cout, std::cerr);
  } else {
    std::cerr << "glps: unknown command '" << command << "'\n" << kUsage;
    return 2;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "glps: cannot write the output\n";
    return 2;
  }
  return status;
}
