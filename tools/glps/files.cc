// SPDX-License-Identifier: Apache-2.0
#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
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

bool ReadKeyFile(const std::string& path, std::string* key, std::string* error) {
  constexpr std::int64_t kMaxKeyFile = 4096;
  std::string text;
  if (path == "-") {
    std::vector<char> buffer(kMaxKeyFile + 1);
    std::cin.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (std::cin.gcount() > kMaxKeyFile) {
      *error = "more than " + std::to_string(kMaxKeyFile) + " bytes on standard input";
      return false;
    }
    text.assign(buffer.data(), static_cast<std::size_t>(std::cin.gcount()));
  } else if (!ReadWholeFile(path, &text, kMaxKeyFile)) {
    *error = "cannot read " + path + " (a regular file of at most " + std::to_string(kMaxKeyFile) +
             " bytes, not a symbolic link)";
    return false;
  }
  static const std::string kPrinted = "verification key:";
  const char* const blanks = " \t\r\n";
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    std::size_t first = line.find_first_not_of(blanks);
    if (first != std::string::npos && line.compare(first, kPrinted.size(), kPrinted) == 0) {
      first = line.find_first_not_of(blanks, first + kPrinted.size());
    }
    if (first == std::string::npos) continue;
    *key = line.substr(first, line.find_last_not_of(blanks) + 1 - first);
    return true;
  }
  *error = "no key in " + (path == "-" ? std::string("standard input") : path);
  return false;
}

}  // namespace glps_tool
