// SPDX-License-Identifier: Apache-2.0
#include "support/deep_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace glps_test {
namespace {

const int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

DirectoryChain::DirectoryChain(const std::string& root, const std::string& name, int depth)
    : m_root(root), m_name(name), m_depth(depth) {
  mkdir(root.c_str(), 0755);
  int fd = open(root.c_str(), kDirectoryFlags);
  for (int level = 0; fd >= 0 && level < depth; ++level) {
    const int next =
        mkdirat(fd, name.c_str(), 0755) == 0 ? openat(fd, name.c_str(), kDirectoryFlags) : -1;
    close(fd);
    fd = next;
  }
  if (fd < 0) throw std::runtime_error("cannot make a chain of directories below " + root);
  m_deepest = fd;
}

DirectoryChain::~DirectoryChain() {
  for (const auto& [directory, entry] : m_movedIn) {
    const int fd = open(directory.c_str(), kDirectoryFlags);
    if (fd < 0 || renameat(m_deepest, entry.c_str(), fd, entry.c_str()) != 0) {
      std::fprintf(stderr, "cannot move %s out of the chain below %s\n", entry.c_str(),
                   m_root.c_str());
    }
    if (fd >= 0) close(fd);
  }
  // Bottom up, each directory reached from the one below it.
  int fd = m_deepest;
  for (int level = 0; fd >= 0 && level < m_depth; ++level) {
    const int parent = openat(fd, "..", kDirectoryFlags);
    close(fd);
    if (parent >= 0) unlinkat(parent, m_name.c_str(), AT_REMOVEDIR);
    fd = parent;
  }
  if (fd >= 0) close(fd);
}

std::string DirectoryChain::DeepestPath() const {
  std::string path = m_root;
  for (int level = 0; level < m_depth; ++level) path += "/" + m_name;
  return path;
}

bool DirectoryChain::MoveIn(const std::string& from, const std::string& name) {
  const int fd = open(from.c_str(), kDirectoryFlags);
  const bool moved = fd >= 0 && renameat(fd, name.c_str(), m_deepest, name.c_str()) == 0;
  if (fd >= 0) close(fd);
  if (moved) m_movedIn.emplace_back(from, name);
  return moved;
}

}  // namespace glps_test
