// SPDX-License-Identifier: Apache-2.0
#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace glps_tool {
namespace {

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

bool ReplaceFile(const std::string& path, const std::string& contents) {
  const std::string::size_type slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string temp = path + ".tmp-XXXXXX";
  std::vector<char> pattern(temp.begin(), temp.end());
  pattern.push_back('\0');
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return false;
  temp = pattern.data();
  const bool written = fchmod(fd, 0644) == 0 && WriteAll(fd, contents) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  const int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const bool synced = fsync(dir) == 0;
  close(dir);
  return synced;
}

bool ReadWholeFile(const std::string& path, std::string* contents, std::int64_t maxSize) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxSize;
  std::string data;
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || static_cast<std::int64_t>(data.size()) + n > maxSize) ok = false;
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  if (ok) contents->swap(data);
  return ok;
}

}  // namespace glps_tool
