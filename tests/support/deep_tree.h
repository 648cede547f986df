// SPDX-License-Identifier: Apache-2.0
// A chain of directories deeper than a path can name (PATH_MAX), made, filled and removed through
// descriptors.
#ifndef GLPS_TESTS_SUPPORT_DEEP_TREE_H_
#define GLPS_TESTS_SUPPORT_DEEP_TREE_H_

#include <string>
#include <utility>
#include <vector>

namespace glps_test {

// `depth` directories, each named `name`, one in the other, below `root` (made when missing, its
// parent must be there); removed, bottom up, when
// the object goes, after whatever MoveIn put into the deepest was moved back where it came from.
// Throws std::runtime_error when it cannot be made. Holds two descriptors. Not copyable; one
// thread.
class DirectoryChain {
 public:
  DirectoryChain(const std::string& root, const std::string& name, int depth);
  ~DirectoryChain();
  DirectoryChain(const DirectoryChain&) = delete;
  DirectoryChain& operator=(const DirectoryChain&) = delete;

  // The deepest directory's path (longer than PATH_MAX for a deep chain: for showing and
  // comparing, not for opening).
  std::string DeepestPath() const;
  // Renames the entry `name` of the directory `from` (a path short enough to open) into the
  // deepest directory, under the same name. False when the rename fails.
  bool MoveIn(const std::string& from, const std::string& name);

 private:
  std::string m_root;
  std::string m_name;
  int m_depth;
  int m_deepest = -1;  // descriptor of the deepest directory
  std::vector<std::pair<std::string, std::string>> m_movedIn;  // directory, name
};

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_DEEP_TREE_H_
