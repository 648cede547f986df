// SPDX-License-Identifier: Apache-2.0
// Loading and unloading libglps.so at run time, the way a host loads it as a plugin. This program
// does not link the library: it loads it (directly, or through a host module that links it) with
// dlopen and checks after dlclose that it is gone, and that a log left open was destroyed without
// being saved: no log.xml, and no file of the log directory still open in this process. Also
// the PDF copy's module: loaded from beside the library only when a copy is made.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <glps/audit.h>
#include <glps/audit_copy.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

using OpenLogFunction = bool (*)(const char*);
using MakeCopyFunction = bool (*)(const char*, const char*);
using DestroyFunction = void (*)();
using WriteLogFunction = bool (*)(const char*);
using WriteCopyFunction = int (*)(const char*, const char*, char*, unsigned);

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

// A function of the host module, or a failed test.
template <typename Function>
Function ModuleFunction(void* module, const char* name) {
  auto function = reinterpret_cast<Function>(dlsym(module, name));
  EXPECT_NE(function, nullptr) << name << ": " << dlerror();
  return function;
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

// The PDF copy draws on libraries that cannot be unloaded and loaded again in one process (Pango
// registers its classes with GObject, which stays): a copy made after the library was unloaded and
// loaded again works as the first did.
TEST_F(DlopenTest, CopiesAreMadeAfterUnloadingAndLoadingAgain) {
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string logDir = temp_ / ("log" + std::to_string(round));
    const std::string pdf = temp_ / ("copy" + std::to_string(round) + ".pdf");
    fs::create_directory(logDir);
    void* module = dlopen(GLPS_HOST_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto makeCopy = reinterpret_cast<MakeCopyFunction>(dlsym(module, "glps_module_make_copy"));
    ASSERT_NE(makeCopy, nullptr) << dlerror();
    EXPECT_TRUE(makeCopy(logDir.c_str(), pdf.c_str()));
    EXPECT_EQ(glps_test::ReadFileBytes(pdf).compare(0, 5, "%PDF-"), 0);
    ASSERT_EQ(dlclose(module), 0) << dlerror();
    EXPECT_FALSE(IsLoaded(GLPS_LIBRARY_SONAME)) << "dlclose left libglps.so loaded";
  }
}

// A process that loads the library, writes a log and verifies it maps none of the rendering
// libraries; the first copy maps them, with the module from beside libglps.so. Run in a program of
// its own (rendering_maps.cc), which no copy made by another test has touched.
TEST_F(DlopenTest, RenderingLibrariesAreMappedOnlyOnceACopyIsMade) {
  const std::string logDir = temp_ / "log";
  const std::string pdf = temp_ / "copy.pdf";
  fs::create_directory(logDir);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    execl(GLPS_MAPS_PROGRAM, GLPS_MAPS_PROGRAM, GLPS_HOST_MODULE_FILE, logDir.c_str(), pdf.c_str(),
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

  std::map<std::string, std::string> stages;  // a stage's name and the libraries listed
  std::vector<std::string> order;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    const std::string::size_type colon = line.find(':');
    order.push_back(line.substr(0, colon));
    stages[order.back()] = colon == std::string::npos ? "" : line.substr(colon + 1);
  }
  const std::string verdict = "verdict " + std::to_string(Glps::eAuditNotAuthenticated);
  const std::string copy = "copy " + std::to_string(Glps::eAuditCopyMade);
  ASSERT_EQ(order, (std::vector<std::string>{"start", "loaded", "written", verdict, copy}))
      << report;
  for (const char* stage : {"start", "loaded", "written"}) {
    EXPECT_EQ(stages[stage], "") << "mapped at " << stage;
  }
  EXPECT_EQ(stages[verdict], "") << "mapped by verifying";
  for (const char* library : {" " GLPS_PDF_MODULE_NAME, " libpangocairo-1.0.so", " libcairo.so"}) {
    EXPECT_NE(stages[copy].find(library), std::string::npos)
        << library << " not in" << stages[copy];
  }
  EXPECT_EQ(glps_test::ReadFileBytes(pdf).compare(0, 5, "%PDF-"), 0);
}

struct ModuleCase {
  const char* name;
  const char* module;  // the file put in the module's place beside the library; null: none
  bool relative;       // the library is loaded by a name relative to the working directory
  Glps::EAuditCopyStatus status;
  const char* error;  // a part of the error the copy gives
  // Changes the module's place (given the module's path) before the library is loaded; null: none.
  void (*change)(const fs::path& module) = nullptr;
  bool asRootOnly = false;  // `change` gives files to another user
};

constexpr uid_t kOtherUser = 65534;

void AddWriteBits(const fs::path& path, fs::perms bits) {
  fs::permissions(path, bits, fs::perm_options::add);
}

void GiveTo(const fs::path& path, uid_t user) {
  ASSERT_EQ(lchown(path.c_str(), user, static_cast<gid_t>(-1)), 0) << path;
}

// The module is looked for beside the library that loads it, and nowhere else: a copy of
// libglps.so in a directory of its own makes PDFs with the module put beside it, and fails,
// naming the module's path and the loader's reason, when there is none there (although the build
// tree has one) or when the one there is not of its interface. A library loaded by a relative
// name does not know its directory, and looks nowhere. Nor is a module loaded that another user
// could have put or changed there (through its directory, a symbolic link, its owner or its
// permissions), nor anything but a regular file (a FIFO does not block the copy).
TEST_F(DlopenTest, CopyUsesTheModuleBesideTheLibraryOrFailsNamingIt) {
  const auto kNotWritten = Glps::eAuditCopyNotWritten;
  const ModuleCase cases[] = {
      {"module beside the library", GLPS_PDF_MODULE_FILE, false, Glps::eAuditCopyMade, ""},
      {"no module", nullptr, false, kNotWritten, "No such file or directory"},
      {"a module of another interface", GLPS_FOREIGN_MODULE_FILE, false, kNotWritten,
       "has interface"},
      {"loaded by a relative name", GLPS_PDF_MODULE_FILE, true, kNotWritten, "relative name"},
      {"module writable by others", GLPS_PDF_MODULE_FILE, false, kNotWritten, "can be changed",
       [](const fs::path& module) { AddWriteBits(module, fs::perms::others_write); }},
      {"module writable by a group of others", GLPS_PDF_MODULE_FILE, false, kNotWritten,
       "can be changed",
       [](const fs::path& module) {
         AddWriteBits(module, fs::perms::group_write);
         ASSERT_EQ(lchown(module.c_str(), static_cast<uid_t>(-1), kOtherUser), 0);
       },
       true},
      {"module's directory writable by others", GLPS_PDF_MODULE_FILE, false, kNotWritten,
       "can be changed",
       [](const fs::path& module) { AddWriteBits(module.parent_path(), fs::perms::others_write); }},
      {"module of another user", GLPS_PDF_MODULE_FILE, false, kNotWritten, "can be changed",
       [](const fs::path& module) { GiveTo(module, kOtherUser); }, true},
      {"module's directory of another user", GLPS_PDF_MODULE_FILE, false, kNotWritten,
       "can be changed", [](const fs::path& module) { GiveTo(module.parent_path(), kOtherUser); },
       true},
      {"all of the owner of the library's directory", GLPS_PDF_MODULE_FILE, false,
       Glps::eAuditCopyMade, "",
       [](const fs::path& module) {
         for (const fs::path& path :
              {module, module.parent_path(), module.parent_path().parent_path()}) {
           GiveTo(path, kOtherUser);
         }
       },
       true},
      {"a symbolic link to the module", GLPS_PDF_MODULE_FILE, false, kNotWritten,
       "is a symbolic link",
       [](const fs::path& module) {
         fs::rename(module, module.string() + ".real");
         fs::create_symlink(module.filename().string() + ".real", module);
       }},
      {"a symbolic link to the module's directory", GLPS_PDF_MODULE_FILE, false, kNotWritten,
       "is a symbolic link",
       [](const fs::path& module) {
         const fs::path directory = module.parent_path();
         fs::rename(directory, directory.string() + ".real");
         fs::create_directory_symlink(directory.filename().string() + ".real", directory);
       }},
      {"a directory in the module's place", nullptr, false, kNotWritten, "not a regular file",
       [](const fs::path& module) { fs::create_directory(module); }},
      {"a FIFO in the module's place", nullptr, false, kNotWritten, "not a regular file",
       [](const fs::path& module) { ASSERT_EQ(mkfifo(module.c_str(), 0644), 0); }},
  };
  int round = 0;
  for (const ModuleCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.asRootOnly && geteuid() != 0) continue;
    const std::string libraryDir = temp_ / ("lib" + std::to_string(++round));
    const std::string logDir = temp_ / ("log" + std::to_string(round));
    const std::string pdf = temp_ / ("copy" + std::to_string(round) + ".pdf");
    const std::string modulePath = libraryDir + "/" + GLPS_PDF_MODULE_RELATIVE_PATH;
    fs::create_directories(fs::path(modulePath).parent_path());
    fs::create_directory(logDir);
    fs::copy_file(GLPS_LIBRARY_FILE, libraryDir + "/" + GLPS_LIBRARY_SONAME);
    if (c.module != nullptr) fs::copy_file(c.module, modulePath);
    if (c.change != nullptr) c.change(modulePath);

    // The host module's need of the soname is met by the copy loaded first.
    const std::string name =
        (c.relative ? std::string(".") : libraryDir) + "/" + GLPS_LIBRARY_SONAME;
    const fs::path workingDirectory = fs::current_path();
    if (c.relative) fs::current_path(libraryDir);
    void* library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    fs::current_path(workingDirectory);
    ASSERT_NE(library, nullptr) << dlerror();
    void* module = dlopen(GLPS_HOST_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_EQ(LoadedPath(GLPS_LIBRARY_SONAME), name);
    auto writeLog = ModuleFunction<WriteLogFunction>(module, "glps_module_write_log");
    auto writeCopy = ModuleFunction<WriteCopyFunction>(module, "glps_module_write_copy");
    ASSERT_TRUE(writeLog != nullptr && writeCopy != nullptr);
    ASSERT_TRUE(writeLog(logDir.c_str()));
    char error[1024];
    EXPECT_EQ(writeCopy(logDir.c_str(), pdf.c_str(), error, sizeof error), c.status) << error;
    if (c.status == Glps::eAuditCopyMade) {
      EXPECT_EQ(glps_test::ReadFileBytes(pdf).compare(0, 5, "%PDF-"), 0);
    } else {
      if (!c.relative) {
        EXPECT_NE(std::string(error).find(modulePath), std::string::npos) << error;
      }
      EXPECT_NE(std::string(error).find(c.error), std::string::npos) << error;
      EXPECT_FALSE(fs::exists(pdf));
    }
    ASSERT_EQ(dlclose(module), 0) << dlerror();
    ASSERT_EQ(dlclose(library), 0) << dlerror();
    EXPECT_FALSE(IsLoaded(GLPS_LIBRARY_SONAME)) << "dlclose left libglps.so loaded";
  }
}

INSTANTIATE_TEST_SUITE_P(Unload, DlopenUnloadTest,
                         ::testing::Values(UnloadCase{"LeftOpen", false},
                                           UnloadCase{"DestroyedFirst", true}),
                         [](const ::testing::TestParamInfo<UnloadCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
