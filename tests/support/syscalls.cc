// SPDX-License-Identifier: Apache-2.0
#include "support/syscalls.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>

namespace glps_test {

SysCallsGuard::~SysCallsGuard() { glps::platform::RestoreSysCalls(); }

glps::platform::SysCalls& SysCallsGuard::calls() { return glps::platform::CurrentSysCalls(); }

namespace {

// The counts of the one ReadCounter alive.
std::map<std::string, std::int64_t>& BytesReadByName() {
  static std::map<std::string, std::int64_t> counts;
  return counts;
}

}  // namespace

ReadCounter::ReadCounter() {
  BytesReadByName().clear();
  m_guard.calls().read = [](int fd, void* buffer, size_t count) -> ssize_t {
    const ssize_t n = ::read(fd, buffer, count);
    char path[4096];
    const ssize_t length =
        readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
    if (n > 0 && length > 0) {
      const std::string name(path, static_cast<std::size_t>(length));
      BytesReadByName()[name.substr(name.rfind('/') + 1)] += n;
    }
    return n;
  };
}

ReadCounter::~ReadCounter() { BytesReadByName().clear(); }

std::int64_t ReadCounter::BytesRead(const std::string& name) const {
  const auto it = BytesReadByName().find(name);
  return it == BytesReadByName().end() ? 0 : it->second;
}

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
