// SPDX-License-Identifier: Apache-2.0
#include "support/tree_snapshot.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "support/temp_dir.h"

namespace glps_test {
namespace {

std::string Nanoseconds(const struct timespec& time) {
  return std::to_string(time.tv_sec) + "." + std::to_string(time.tv_nsec);
}

// The facts of one entry; false when it vanished meanwhile.
bool Describe(const std::string& path, const SnapshotOptions& options, std::string* entry) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  *entry = std::to_string(st.st_mode);
  if (options.times && (!S_ISDIR(st.st_mode) || options.directoryTimes)) {
    *entry += " " + std::to_string(st.st_size) + " " + Nanoseconds(st.st_mtim);
    if (options.statusChangeTimes) *entry += " " + Nanoseconds(st.st_ctim);
  }
  if (S_ISREG(st.st_mode)) *entry += " " + ReadFileBytes(path);
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    *entry += " -> " + std::filesystem::read_symlink(path, ec).string();
  }
  return true;
}

}  // namespace

TreeSnapshot::TreeSnapshot(const std::string& root, const std::string& excluded)
    : TreeSnapshot(root, SnapshotOptions{excluded}) {}

TreeSnapshot::TreeSnapshot(const std::string& root, const SnapshotOptions& options) {
  namespace fs = std::filesystem;
  const std::string& excluded = options.excluded;
  std::string entry;
  if (options.root && Describe(root, options, &entry)) entries_[""] = entry;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string path = it->path().string();
    if (!excluded.empty() &&
        (path == excluded || path.compare(0, excluded.size() + 1, excluded + "/") == 0)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) it.disable_recursion_pending();
      continue;
    }
    if (Describe(path, options, &entry)) entries_[path.substr(root.size())] = entry;
  }
}

std::string TreeSnapshot::Difference(const TreeSnapshot& other) const {
  auto a = entries_.begin();
  auto b = other.entries_.begin();
  while (a != entries_.end() || b != other.entries_.end()) {
    if (b == other.entries_.end() || (a != entries_.end() && a->first < b->first)) {
      return a->first + ": only in the first";
    }
    if (a == entries_.end() || b->first < a->first) return b->first + ": only in the second";
    if (a->second != b->second) return a->first + ": " + a->second + " != " + b->second;
    ++a;
    ++b;
  }
  return std::string();
}

void PlantSentinels(const std::string& root) {
  WriteFileBytes(root + "/sentinel.txt", "outside the log directory\n");
  mkdir((root + "/neighbour").c_str(), 0755);
  WriteFileBytes(root + "/neighbour/data.csv", "a,b\n1,2\n");
  WriteFileBytes(root + "/secret.html", "<B>not part of any log</B>");
}

}  // namespace glps_test
