// SPDX-License-Identifier: Apache-2.0
#include "support/temp_dir.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace glps_test {

std::string MakeTempDirectory(const std::string& base, const std::string& prefix) {
  std::error_code ec;
  std::filesystem::create_directories(base, ec);
  std::string pattern = base + "/" + prefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary directory under " + base);
  }
  return pattern;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0755);
  }
  chmod(path.c_str(), 0755);
  std::filesystem::remove_all(path, ec);
}

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path().string(), "glps-test-") {}

TempDir::TempDir(const std::string& base, const std::string& prefix)
    : path_(MakeTempDirectory(base, prefix)) {}

TempDir::~TempDir() { RemoveTree(path_); }

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace glps_test
