// SPDX-License-Identifier: Apache-2.0
// Shared by the reliability tests: a host set-up for the service, what a log directory holds, and a
// snapshot of everything around a log directory to prove that nothing outside it changed.
#ifndef GLPS_TESTS_RELIABILITY_RELIABILITY_SUPPORT_H_
#define GLPS_TESTS_RELIABILITY_RELIABILITY_SUPPORT_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "filemanager/file_manager_data.h"
#include "files/md5_hash.h"
#include "glps/glps.h"
#include "session/session_data_storage.h"
#include "support/log_reading.h"
#include "support/temp_dir.h"

namespace glps_test {

constexpr unsigned kErrorUnusable = 0xE02A2711u;

inline KECGlpsLogInfoExperiment Experiment(const std::string& name) {
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = name;
  return experiment;
}

// The fingerprint text of a document's protected bytes.
inline std::string Fingerprint(const std::string& bytes) {
  glps::crypto::Md5Hash hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.FingerprintText();
}

// The HTML log documents of a directory (regular files, not the index pages), in name order.
inline std::vector<std::string> Documents(const std::string& dir) {
  std::vector<std::string> documents;
  for (const std::string& name : ListDirectory(dir)) {
    if (EndsWith(name, ".html") && name != "GLP-Main.html" && name != "GLP-Menu.html" &&
        KCGenFileUtils::FileExists(dir + "/" + name)) {
      documents.push_back(name);
    }
  }
  return documents;
}

// How many tamper titles the documents of a directory hold.
inline int CountTamperTitles(const std::string& dir) {
  const std::string title = "<H2>" + Txts::GetString(18631) + "</H2>";
  int count = 0;
  for (const std::string& document : Documents(dir)) {
    const std::string html = ReadFileBytes(dir + "/" + document);
    for (auto at = html.find(title); at != std::string::npos; at = html.find(title, at + 1))
      ++count;
  }
  return count;
}

// The records of the log.xml in `dir`; `loaded` tells whether it loaded whole.
inline std::vector<KECGlpsFileManagerData> LoadRecords(const std::string& dir, bool* loaded) {
  KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
  *loaded = storage.Load();
  return *storage.GetFileData();
}

// Everything under `root` except below `excluded` (nothing excluded when empty): per path its
// kind, mode and size, and for all but directories the modification time (to the nanosecond), the
// content of files and the target of links. Equal snapshots mean nothing there was created,
// removed, written or touched.
class TreeSnapshot {
 public:
  TreeSnapshot(const std::string& root, const std::string& excluded) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string path = it->path().string();
      if (!excluded.empty() &&
          (path == excluded || path.compare(0, excluded.size() + 1, excluded + "/") == 0)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) it.disable_recursion_pending();
        continue;
      }
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) continue;
      std::string entry = std::to_string(st.st_mode);
      if (!S_ISDIR(st.st_mode)) {
        entry += " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                 std::to_string(st.st_mtim.tv_nsec);
      }
      if (S_ISREG(st.st_mode)) entry += " " + ReadFileBytes(path);
      if (S_ISLNK(st.st_mode)) entry += " -> " + fs::read_symlink(path, ec).string();
      entries_[path] = entry;
    }
  }
  bool operator==(const TreeSnapshot& other) const { return entries_ == other.entries_; }
  std::size_t size() const { return entries_.size(); }

 private:
  std::map<std::string, std::string> entries_;
};

// Files around a log directory that nothing may touch: a file, a directory with a file, and a
// file that a symbolic link inside the log directory can point at.
inline void PlantSentinels(const std::string& root) {
  WriteFileBytes(root + "/sentinel.txt", "outside the log directory\n");
  mkdir((root + "/neighbour").c_str(), 0755);
  WriteFileBytes(root + "/neighbour/data.csv", "a,b\n1,2\n");
  WriteFileBytes(root + "/secret.html", "<B>not part of any log</B>");
}

// A host as the service expects it: an application-log directory, a user, default rights; the
// service is destroyed (open logs dropped unsaved) when the test ends.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(AppDir().c_str(), 0755);
    KECBaseFilesAndLocations::SetDirectoryAppLog(AppDir());
    KCGenUserInfo::Instance()->SetCurrentUserName("tester");
    KECQrmsServices::Instance()->ResetDefaults();
    service_ = KECGlpsServices::Instance();
  }
  void TearDown() override {
    KECGlpsServices::Destroy();
    KCGenUserInfo::Instance()->ClearOverrides();
    KECQrmsServices::Instance()->ResetDefaults();
  }

  std::string AppDir() const { return tmp_ / "app"; }

  bool OpenExp(const std::string& dir, const KECGlpsLogInfo& info, unsigned* error = nullptr,
               const std::string& experiment = "Exp") {
    bool opened = false;
    return service_->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), Experiment(experiment),
                                error, &opened);
  }

  TempDir tmp_;
  KECGlpsServices* service_ = nullptr;
};

}  // namespace glps_test

#endif  // GLPS_TESTS_RELIABILITY_RELIABILITY_SUPPORT_H_
