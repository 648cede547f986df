// SPDX-License-Identifier: Apache-2.0
// Temporary directories and whole-file reads and writes for tests, fuzz targets and benchmarks.
#ifndef GLPS_TESTS_SUPPORT_TEMP_DIR_H_
#define GLPS_TESTS_SUPPORT_TEMP_DIR_H_

#include <string>

namespace glps_test {

// A fresh, private directory (mode 0700) made when the object is made, and removed with everything
// in it when the object goes. Each test makes its own, so that no test sees another's files.
// Not copyable; used from one thread.
class TempDir {
 public:
  // Under the system's temporary directory ($TMPDIR, else /tmp).
  TempDir();
  // Under `base` (created when missing); the name starts with `prefix`. Throws std::runtime_error
  // when the directory cannot be made.
  TempDir(const std::string& base, const std::string& prefix);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Makes a fresh directory "<base>/<prefix>XXXXXX" (base created when missing) and returns its
// path; the caller removes it with RemoveTree. Throws std::runtime_error when it cannot.
std::string MakeTempDirectory(const std::string& base, const std::string& prefix);

// Removes `path` and everything below it, giving back the write permission a test may have taken
// from its directories first. Quiet when it is not there.
void RemoveTree(const std::string& path);

// The whole content of a file (empty when it cannot be read).
std::string ReadFileBytes(const std::string& path);

// Writes the file with exactly these bytes, replacing its content.
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_TEMP_DIR_H_
