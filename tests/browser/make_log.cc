// SPDX-License-Identifier: Apache-2.0
// Writes, through the library's public interface only, an experiment log that a browser test then
// reads: two HTML documents with the index pages, messages with markup characters and non-ASCII
// text in both documents, and a crash entry with detail lines in the second.
//
// Usage: glps_browser_fixture DIR
// DIR must not exist yet or be empty. The experiment log goes to DIR/experiment, the application
// log directory is set to DIR/applog so that nothing is written outside DIR. On success the program
// prints the path of the main index page and exits 0; on any failure it says what failed on stderr
// and exits 1.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "glps/glps.h"
#include "support/records.h"

namespace {

// The texts the browser test looks for; keep them in step with log_view.test.mjs.
const char kMarkupFirst[] = "first document keeps <b>&\" as text";
const char kMarkupSecond[] = "second document keeps <b>&\" as text";
const char kNonAscii[] = "Probe von Müller: 12 µg";
const char kCrashText[] = "The host ended abnormally";
const char kCrashDetail1[] = "at step 3: weighing";
const char kCrashDetail2[] = "in module <balance> & \"scale\"";

bool Fail(const std::string& what) {
  std::fprintf(stderr, "glps_browser_fixture: %s\n", what.c_str());
  return false;
}

// True when `path` is missing (and then created) or an empty directory.
bool PrepareEmptyDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) return true;
  if (errno != EEXIST) return Fail("cannot create " + path + ": " + std::strerror(errno));
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return Fail("cannot read " + path + ": " + std::strerror(errno));
  bool empty = true;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      empty = false;
  }
  closedir(dir);
  return empty || Fail(path + " is not empty");
}

// One opening of the experiment log: logs `messages`, closes the log and replaces `info` with the
// info the host keeps for the next opening.
template <typename Body>
bool Session(KECGlpsServices* service, const std::string& directory,
             const KECGlpsLogInfoCrash& crash, KECGlpsLogInfo* info, Body body) {
  unsigned int error = 0;
  bool opened = false;
  if (!service->LogExpInit(directory, true, *info, crash, glps_test::Experiment("Browser view"),
                           &error, &opened)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", error);
    return Fail("LogExpInit failed on " + directory + " (error " + code + ")");
  }
  if (!body()) return false;
  if (!service->LogExpExit(info)) return Fail("LogExpExit failed");
  return true;
}

bool Run(const std::string& root) {
  const std::string appDirectory = root + "/applog";
  const std::string expDirectory = root + "/experiment";
  if (!PrepareEmptyDirectory(root) || !PrepareEmptyDirectory(appDirectory) ||
      !PrepareEmptyDirectory(expDirectory)) {
    return false;
  }
  KECBaseFilesAndLocations::SetDirectoryAppLog(appDirectory);
  KCGenUserInfo::Instance()->SetCurrentUserName("analyst");
  KECGlpsServices* service = KECGlpsServices::Instance();

  KECGlpsLogInfo info;
  // The first document: the test messages, then enough filler to pass the 1 MiB limit, so that
  // the next opening starts a second document.
  bool ok = Session(service, expDirectory, KECGlpsLogInfoCrash(), &info, [&] {
    if (!service->LogExpMsg(kMarkupFirst) || !service->LogExpMsg(kNonAscii)) {
      return Fail("LogExpMsg failed in the first document");
    }
    const std::string filler(200, '.');
    for (int i = 0; i < 6000; ++i) {
      if (!service->LogExpMsg("filler " + std::to_string(i) + " " + filler)) {
        return Fail("LogExpMsg failed while filling the first document");
      }
    }
    return true;
  });
  if (!ok) return false;

  KECGlpsLogInfoCrash crash;
  crash.m_bCrashed = true;
  crash.m_strText = kCrashText;
  crash.m_vLines = {kCrashDetail1, kCrashDetail2};
  std::string mainPage;
  ok = Session(service, expDirectory, crash, &info, [&] {
    if (!service->LogExpMsg(kMarkupSecond) || !service->LogExpMsg(kNonAscii)) {
      return Fail("LogExpMsg failed in the second document");
    }
    mainPage = service->GetLogExpFileName();
    return true;
  });
  KECGlpsServices::Destroy();
  if (!ok) return false;

  const std::string expected = expDirectory + "/GLP-Main.html";
  if (mainPage != expected) {
    return Fail("the log's file name is \"" + mainPage + "\", not " + expected +
                " (no second document?)");
  }
  struct stat st;
  if (stat(expected.c_str(), &st) != 0) return Fail(expected + " was not written");
  std::printf("%s\n", expected.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: %s DIR\n", argc > 0 ? argv[0] : "glps_browser_fixture");
    return 2;
  }
  return Run(argv[1]) ? 0 : 1;
}
