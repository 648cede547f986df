// SPDX-License-Identifier: Apache-2.0
// A host that logs from two threads at once into one experiment log: an instrument thread logs its
// readings while the user-interface thread logs the operator's actions and saves now and then. The
// service serialises its calls: each message becomes one whole entry with a number of its own, and
// a save takes whatever was logged before it.
//
// Usage: two_threads DIRECTORY [MESSAGES]. Each thread logs MESSAGES messages (default 200) into
// the experiment log DIRECTORY/experiment; the program prints the info to keep for the log.
#include <glps/glps.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: " << argv[0] << " <directory> [messages]\n";
    return 2;
  }
  const std::string experimentDir = std::string(argv[1]) + "/experiment";
  const int messages = argc == 3 ? std::atoi(argv[2]) : 200;
  std::filesystem::create_directories(experimentDir);

  KECGlpsServices* glps = KECGlpsServices::Instance();
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = "Two threads";
  unsigned int error = 0;
  bool opened = false;
  if (!glps->LogExpInit(experimentDir, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(), experiment,
                        &error, &opened)) {
    std::cerr << glps->GetLogExpLastError().Text() << '\n';
    KECGlpsServices::Destroy();
    return 1;
  }

  // Calls that returned false, from either thread.
  std::atomic<int> failures{0};
  std::thread instrument([&] {
    for (int i = 1; i <= messages; ++i) {
      if (!glps->LogExpMsg("instrument: reading " + std::to_string(i) + " of the balance")) {
        ++failures;
      }
    }
  });
  std::thread userInterface([&] {
    for (int i = 1; i <= messages; ++i) {
      if (!glps->LogExpMsgContext("operator: action " + std::to_string(i), "sample panel")) {
        ++failures;
      }
      // A save while the instrument goes on logging. The info it hands over is kept, as after
      // every save; the last one, of the exit below, is what the host keeps for the next start.
      KECGlpsLogInfo saved;
      if (i % 50 == 0 && !glps->LogExpSave("", &saved)) ++failures;
    }
  });
  instrument.join();
  userInterface.join();

  KECGlpsLogInfo info;
  if (!glps->LogExpExit(&info)) {
    std::cerr << glps->GetLogExpLastError().Text() << '\n';
    ++failures;
  }
  KECGlpsServices::Destroy();
  std::cout << "experiment log: " << experimentDir << '\n'
            << "messages: " << 2 * messages << " from two threads, " << failures.load()
            << " failed\n"
            << "info: " << info.m_strLogHash << ':' << info.m_nLogSize << '\n';
  return failures == 0 ? 0 : 1;
}
