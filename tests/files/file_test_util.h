// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the file tests: an independent fingerprint from the openssl command line, and a
// guard that puts the real system calls back after a test has injected faults.
#ifndef GLPS_TESTS_FILES_FILE_TEST_UTIL_H_
#define GLPS_TESTS_FILES_FILE_TEST_UTIL_H_

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "files/platform.h"
#include "files/platform_syscalls.h"

namespace glps_test {

// `openssl dgst -md5 -binary FILE | base64`, without the line end; "<failed>" when it cannot run.
inline std::string OpensslMd5Base64(const std::string& path) {
  const std::string command = "openssl dgst -md5 -binary '" + path + "' | base64";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "<failed>";
  std::string out;
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  if (pclose(pipe) != 0) return "<failed>";
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Restores the real system calls when it goes, whatever a test replaced.
class SysCallsGuard {
 public:
  SysCallsGuard() = default;
  ~SysCallsGuard() { glps::platform::RestoreSysCalls(); }
  SysCallsGuard(const SysCallsGuard&) = delete;
  SysCallsGuard& operator=(const SysCallsGuard&) = delete;
  glps::platform::SysCalls& calls() { return glps::platform::CurrentSysCalls(); }
};

inline mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace glps_test

#endif  // GLPS_TESTS_FILES_FILE_TEST_UTIL_H_
