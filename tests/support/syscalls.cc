// SPDX-License-Identifier: Apache-2.0
#include "support/syscalls.h"

#include <sys/stat.h>

#include <cstdio>

namespace glps_test {

SysCallsGuard::~SysCallsGuard() { glps::platform::RestoreSysCalls(); }

glps::platform::SysCalls& SysCallsGuard::calls() { return glps::platform::CurrentSysCalls(); }

std::string OpensslMd5Base64(const std::string& path) {
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

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace glps_test
