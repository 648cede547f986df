// SPDX-License-Identifier: Apache-2.0
// KCGenFileUtils: file operations on paths.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "glps/host/gen.h"
#include "host/posix_util.h"

namespace {

constexpr std::size_t kCopyChunk = 64 * 1024;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// lstat of a regular file (a symbolic link is not one); false otherwise.
bool StatRegular(const std::string& path, struct stat* st) {
  return !path.empty() && lstat(path.c_str(), st) == 0 && S_ISREG(st->st_mode);
}

// True when the path names an existing regular file whose write bits are all clear.
bool HasReadOnlyAttribute(const std::string& path) {
  struct stat st;
  return StatRegular(path, &st) && (st.st_mode & kWriteBits) == 0;
}

// Copies the rest of src to dst in chunks.
bool CopyContent(int src, int dst) {
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    const ssize_t n = glpshost::ReadSome(src, buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n == 0) return true;
    if (!glpshost::WriteAll(dst, buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

}  // namespace

bool KCGenFileUtils::FileExists(const std::string& path) {
  struct stat st;
  return StatRegular(path, &st);
}

bool KCGenFileUtils::FileIsReadOnly(const std::string& path, bool attributeOnly) {
  struct stat st;
  if (!StatRegular(path, &st)) return false;
  if ((st.st_mode & kWriteBits) == 0) return true;
  return !attributeOnly && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

std::int64_t KCGenFileUtils::FileGetSize(const std::string& path) {
  struct stat st;
  return StatRegular(path, &st) ? static_cast<std::int64_t>(st.st_size) : 0;
}

bool KCGenFileUtils::Copy_File(const std::string& source, const std::string& target,
                               bool failIfExists) {
  if (target.empty()) return false;
  const int src = glpshost::OpenRegularForReading(source);
  if (src < 0) return false;
  // A read-only target is not overwritten, whoever runs the process.
  if (HasReadOnlyAttribute(target)) {
    glpshost::CloseFd(src);
    return false;
  }
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  if (failIfExists) flags |= O_EXCL;
  const int dst = open(target.c_str(), flags, 0666);
  if (dst < 0) {
    glpshost::CloseFd(src);
    return false;
  }
  struct stat srcStat, dstStat;
  const bool sameFile = fstat(src, &srcStat) != 0 || fstat(dst, &dstStat) != 0 ||
                        !S_ISREG(dstStat.st_mode) ||
                        (srcStat.st_dev == dstStat.st_dev && srcStat.st_ino == dstStat.st_ino);
  if (sameFile) {
    // Nothing has been changed yet: leave the target (possibly the source itself) alone.
    glpshost::CloseFd(dst);
    glpshost::CloseFd(src);
    return false;
  }
  bool ok = ftruncate(dst, 0) == 0 && CopyContent(src, dst);
  ok = glpshost::CloseFd(dst) && ok;
  glpshost::CloseFd(src);
  if (!ok) unlink(target.c_str());
  return ok;
}

bool KCGenFileUtils::Create_File(const std::string& path) {
  if (path.empty() || HasReadOnlyAttribute(path)) return false;
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
  if (fd < 0) return false;
  struct stat st;
  // Truncate only after making sure it is a regular file (not a FIFO or device).
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) == 0;
  ok = glpshost::CloseFd(fd) && ok;
  return ok;
}

bool KCGenFileUtils::Delete_File(const std::string& path) {
  if (path.empty()) return false;
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

std::string KCGenFileUtils::ExtractFileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string KCGenFileUtils::MakeNameExtension(const std::string& name, const std::string& ext) {
  const std::size_t slash = name.rfind('/');
  const std::size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = name.rfind('.');
  // A dot in a directory part, or leading the last component (".profile"), is not an extension.
  const bool hasExtension = dot != std::string::npos && dot > componentStart;
  std::string result = hasExtension ? name.substr(0, dot) : name;
  const std::string bareExt = !ext.empty() && ext[0] == '.' ? ext.substr(1) : ext;
  if (!bareExt.empty()) result += "." + bareExt;
  return result;
}

std::string KCGenFileUtils::MakeNamePath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  std::size_t dirEnd = directory.find_last_not_of('/');
  // A directory of only slashes is the root.
  std::string result =
      dirEnd == std::string::npos ? std::string() : directory.substr(0, dirEnd + 1);
  const std::size_t nameStart = name.find_first_not_of('/');
  result += '/';
  if (nameStart != std::string::npos) result.append(name, nameStart, std::string::npos);
  return result;
}
