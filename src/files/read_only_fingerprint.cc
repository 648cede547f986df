// SPDX-License-Identifier: Apache-2.0
#include "files/read_only_fingerprint.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "files/md5_hash.h"
#include "files/platform.h"

namespace glps {
namespace {

constexpr int kReadOnlyFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// open(2) read-only, first without access-time updates (refused unless the caller owns the file
// or is privileged), then plainly.
int OpenReadOnly(const std::string& path) {
  platform::SysCalls& calls = platform::CurrentSysCalls();
  for (int flags : {kReadOnlyFlags | O_NOATIME, kReadOnlyFlags}) {
    for (;;) {
      const int fd = calls.open(path.c_str(), flags, 0);
      if (fd >= 0) return fd;
      if (errno != EINTR) break;
    }
    if (errno != EPERM) return -1;
  }
  return -1;
}

}  // namespace

FoundFile FingerprintReadOnly(const std::string& path, std::int64_t maxBytes,
                              const std::function<void(std::int64_t)>& progress,
                              crypto::Md5Hash* digestOut) {
  platform::SysCalls& calls = platform::CurrentSysCalls();
  FoundFile found;
  struct stat st;
  if (calls.lstat(path.c_str(), &st) != 0) {
    found.state = (errno == ENOENT || errno == ENOTDIR) ? FoundFile::State::kMissing
                                                        : FoundFile::State::kUnreadable;
    return found;
  }
  if (!S_ISREG(st.st_mode)) {
    found.state = FoundFile::State::kNotRegular;
    return found;
  }

  found.state = FoundFile::State::kUnreadable;
  const int fd = OpenReadOnly(path);
  if (fd < 0) {
    // Whatever replaced the file since the look above is not followed either.
    if (errno == ELOOP) found.state = FoundFile::State::kNotRegular;
    if (errno == ENOENT) found.state = FoundFile::State::kMissing;
    return found;
  }
  struct stat opened;
  if (calls.fstat(fd, &opened) != 0) {
    calls.close(fd);
    return found;
  }
  if (!S_ISREG(opened.st_mode)) {
    calls.close(fd);
    found.state = FoundFile::State::kNotRegular;
    return found;
  }

  const std::int64_t size = static_cast<std::int64_t>(opened.st_size);
  const std::int64_t want = maxBytes <= 0 ? 0 : (maxBytes < size ? maxBytes : size);
  crypto::Md5Hash digest;
  std::vector<char> buffer(65536);
  std::int64_t done = 0;
  bool ok = true;
  bool shrunk = false;
  while (done < want) {
    const std::int64_t left = want - done;
    const std::size_t ask = left < static_cast<std::int64_t>(buffer.size())
                                ? static_cast<std::size_t>(left)
                                : buffer.size();
    const ssize_t got = calls.read(fd, buffer.data(), ask);
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (got == 0) {
      shrunk = true;
      break;
    }
    digest.Update(buffer.data(), static_cast<std::size_t>(got));
    done += got;
    if (progress) progress(done);
  }
  calls.close(fd);
  if (!ok) return found;
  if (digestOut != nullptr && !digestOut->CopyFrom(digest)) return found;

  found.state = FoundFile::State::kRegular;
  found.size = shrunk ? done : size;
  found.hashed = done;
  found.hash = digest.FingerprintText();
  found.links = static_cast<std::uint64_t>(opened.st_nlink);
  found.device = static_cast<std::uint64_t>(opened.st_dev);
  found.inode = static_cast<std::uint64_t>(opened.st_ino);
  found.readOnly = (opened.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return found;
}

}  // namespace glps
