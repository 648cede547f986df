// SPDX-License-Identifier: Apache-2.0
// A snapshot of everything below a directory, to prove that an operation created, removed, wrote
// or touched nothing there.
#ifndef GLPS_TESTS_SUPPORT_TREE_SNAPSHOT_H_
#define GLPS_TESTS_SUPPORT_TREE_SNAPSHOT_H_

#include <cstddef>
#include <map>
#include <string>

namespace glps_test {

// What a snapshot records of each entry besides its path, kind and permission bits, the content of
// regular files and the target of symbolic links (links are never followed).
struct SnapshotOptions {
  // Below this path nothing is recorded (nothing is excluded when empty).
  std::string excluded;
  // The size and the modification time (to the nanosecond) of every entry but directories.
  bool times = true;
  // The same for directories too (an entry made and removed again shows).
  bool directoryTimes = false;
  // The status-change time of every entry recorded with times (a change of mode or of links shows).
  bool statusChangeTimes = false;
  // The root itself is recorded (its kind, mode and, with directoryTimes, its times).
  bool root = false;
};

// Equal snapshots mean nothing recorded changed. A copyable value.
class TreeSnapshot {
 public:
  explicit TreeSnapshot(const std::string& root, const SnapshotOptions& options = {});
  // Everything under `root` except below `excluded`, with file times (the usual check that nothing
  // around a log directory changed).
  TreeSnapshot(const std::string& root, const std::string& excluded);

  bool operator==(const TreeSnapshot& other) const { return entries_ == other.entries_; }
  bool operator!=(const TreeSnapshot& other) const { return !(*this == other); }
  std::size_t size() const { return entries_.size(); }
  // The first path (relative to the root, "" for the root) whose entry differs between the two,
  // with what each holds; empty when they are equal. For failure messages.
  std::string Difference(const TreeSnapshot& other) const;

 private:
  // Per path relative to the root: the recorded facts as one text.
  std::map<std::string, std::string> entries_;
};

// Files around a log directory that nothing may touch, planted in `root`: a file, a directory with
// a file, and a file that a symbolic link inside the log directory can point at.
void PlantSentinels(const std::string& root);

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_TREE_SNAPSHOT_H_
