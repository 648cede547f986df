// SPDX-License-Identifier: Apache-2.0
#include "host/posix_util.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace glpshost {

int OpenRegularForReading(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

ssize_t ReadSome(int fd, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool CloseFd(int fd) {
  // On Linux the descriptor is released even when close reports EINTR; never retry.
  return close(fd) == 0 || errno == EINTR;
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 4096);
  for (;;) {
    struct passwd pw;
    struct passwd* result = nullptr;
    const int rc = getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &result);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || result == nullptr || result->pw_dir == nullptr) return std::string();
    return result->pw_dir;
  }
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  // Errors on the way are not fatal (a parent may exist without being visible to us); the final
  // check decides.
  for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
       pos = path.find('/', pos + 1)) {
    mkdir(path.substr(0, pos).c_str(), 0777);
  }
  mkdir(path.c_str(), 0777);
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace glpshost
