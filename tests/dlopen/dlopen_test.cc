// SPDX-License-Identifier: Apache-2.0
// Loading and unloading libglps.so at run time, the way a host loads it as a plugin. This program
// does not link the library: it loads it (directly, or through a host module that links it) with
// dlopen and checks after dlclose that it is gone, and that a log left open was destroyed without
// being saved: no log.xml, and no file of the log directory still open in this process. Also
// libglps-pdf.so: a host that links it unloads both libraries, and one that does not maps none of
// the libraries of the PDF copy.
#include <dlfcn.h>
#include <link.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <glps/audit.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

using OpenLogFunction = bool (*)(const char*);
using MakeCopyFunction = bool (*)(const char*, const char*);
using DestroyFunction = void (*)();

// Whether the shared object with this soname is loaded in this process.
bool IsLoaded(const char* soname) {
  void* handle = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

// The path from which the loaded object with this soname was mapped; empty when it is not loaded.
std::string LoadedPath(const char* soname) {
  void* handle = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return std::string();
  link_map* map = nullptr;
  std::string path;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) path = map->l_name;
  dlclose(handle);
  return path;
}

// The files below `directory` that this process holds open.
std::vector<std::string> OpenFilesBelow(const std::string& directory) {
  std::vector<std::string> files;
  const std::string root = fs::canonical(directory).string() + "/";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
    const fs::path target = fs::read_symlink(entry.path(), ec);
    if (!ec && target.string().compare(0, root.size(), root) == 0) {
      files.push_back(target.string());
    }
  }
  return files;
}

std::vector<std::string> FilesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

class DlopenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program must not have the library already (it would never unload).
    ASSERT_FALSE(IsLoaded(GLPS_LIBRARY_SONAME));
  }

  glps_test::TempDir temp_;
};

// Loading does nothing beyond initialising the library's constants: no service, no log, and the
// library unloads again.
TEST_F(DlopenTest, LoadingAloneOpensNothingAndUnloads) {
  const std::string appLogDir = temp_ / "applog";
  ASSERT_EQ(setenv("GLPS_APPLOG_DIR", appLogDir.c_str(), 1), 0);

  void* library = dlopen(GLPS_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_NE(dlsym(library, "_ZN15KECGlpsServices8InstanceEv"), nullptr)
      << "KECGlpsServices::Instance is not exported";
  EXPECT_EQ(dlclose(library), 0) << dlerror();

  EXPECT_FALSE(IsLoaded(GLPS_LIBRARY_SONAME));
  EXPECT_FALSE(fs::exists(appLogDir));
  unsetenv("GLPS_APPLOG_DIR");
}

struct UnloadCase {
  const char* name;
  bool destroyFirst;  // the host calls Destroy itself before unloading
};

void PrintTo(const UnloadCase& unloadCase, std::ostream* out) { *out << unloadCase.name; }

class DlopenUnloadTest : public DlopenTest, public ::testing::WithParamInterface<UnloadCase> {};

// An experiment log left open is destroyed without saving when the library is unloaded, also after
// an explicit Destroy (which must not destroy anything twice). The library is loaded twice in a row
// to show that it loads afresh after unloading.
TEST_P(DlopenUnloadTest, OpenLogIsDestroyedUnsavedAtUnload) {
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string logDir = temp_ / ("log" + std::to_string(round));
    fs::create_directory(logDir);

    void* module = dlopen(GLPS_HOST_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    ASSERT_EQ(fs::canonical(LoadedPath(GLPS_LIBRARY_SONAME)), fs::canonical(GLPS_LIBRARY_FILE))
        << "the module did not load the library just built";
    auto openLog =
        reinterpret_cast<OpenLogFunction>(dlsym(module, "glps_module_open_experiment_log"));
    auto destroy = reinterpret_cast<DestroyFunction>(dlsym(module, "glps_module_destroy"));
    ASSERT_NE(openLog, nullptr) << dlerror();
    ASSERT_NE(destroy, nullptr) << dlerror();

    ASSERT_TRUE(openLog(logDir.c_str()));
    // The log is open: its document exists and is held open, and nothing is saved yet.
    EXPECT_FALSE(FilesIn(logDir).empty());
    EXPECT_FALSE(OpenFilesBelow(logDir).empty());
    EXPECT_FALSE(fs::exists(logDir + "/log.xml"));

    if (GetParam().destroyFirst) {
      destroy();
      EXPECT_TRUE(OpenFilesBelow(logDir).empty());
    }
    ASSERT_EQ(dlclose(module), 0) << dlerror();

    EXPECT_FALSE(IsLoaded(GLPS_LIBRARY_SONAME)) << "dlclose left libglps.so loaded";
    EXPECT_TRUE(OpenFilesBelow(logDir).empty()) << "the session was not destroyed at unload";
    EXPECT_FALSE(fs::exists(logDir + "/log.xml")) << "the session was saved at unload";
    EXPECT_FALSE(FilesIn(logDir).empty()) << "unloading removed the log's files";
  }
}

// Pango cannot be unloaded and loaded again in one process (it registers its classes with
// GObject, which stays): libglps-pdf.so keeps it loaded from the first copy on, and is unloaded
// itself, with libglps.so, when the host unloads them. A copy made after loading them again works
// as the first did.
TEST_F(DlopenTest, CopiesAreMadeAfterUnloadingAndLoadingAgain) {
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string logDir = temp_ / ("log" + std::to_string(round));
    const std::string pdf = temp_ / ("copy" + std::to_string(round) + ".pdf");
    fs::create_directory(logDir);
    void* module = dlopen(GLPS_COPY_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto makeCopy = reinterpret_cast<MakeCopyFunction>(dlsym(module, "glps_module_make_copy"));
    ASSERT_NE(makeCopy, nullptr) << dlerror();
    EXPECT_TRUE(makeCopy(logDir.c_str(), pdf.c_str()));
    EXPECT_EQ(glps_test::ReadFileBytes(pdf).compare(0, 5, "%PDF-"), 0);
    ASSERT_EQ(dlclose(module), 0) << dlerror();
    EXPECT_FALSE(IsLoaded(GLPS_PDF_LIBRARY_SONAME)) << "dlclose left libglps-pdf.so loaded";
    EXPECT_FALSE(IsLoaded(GLPS_LIBRARY_SONAME)) << "dlclose left libglps.so loaded";
  }
}

// A process that loads libglps.so, writes a log and verifies it maps none of the libraries of the
// PDF copy. Run in a program of its own (rendering_maps.cc), which no copy made by another test
// has touched.
TEST_F(DlopenTest, LibraryMapsNoRenderingLibrary) {
  const std::string logDir = temp_ / "log";
  fs::create_directory(logDir);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    execl(GLPS_MAPS_PROGRAM, GLPS_MAPS_PROGRAM, GLPS_HOST_MODULE_FILE, logDir.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;

  const std::string verdict = "verdict " + std::to_string(Glps::eAuditNotAuthenticated);
  EXPECT_EQ(report, "start:\nloaded:\nwritten:\n" + verdict + ":\n");
}

INSTANTIATE_TEST_SUITE_P(Unload, DlopenUnloadTest,
                         ::testing::Values(UnloadCase{"LeftOpen", false},
                                           UnloadCase{"DestroyedFirst", true}),
                         [](const ::testing::TestParamInfo<UnloadCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
