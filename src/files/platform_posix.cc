// SPDX-License-Identifier: Apache-2.0
// POSIX implementation of the platform unit. Every system call goes through CurrentSysCalls(), so
// that tests can make any of them fail; errno is read right after the call that set it.
#include "files/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <random>
#include <string>

namespace glps {
namespace platform {
namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int RealFcntl(int fd, int cmd, int arg) { return ::fcntl(fd, cmd, arg); }

SysCalls RealSysCalls() {
  SysCalls calls;
  calls.open = &RealOpen;
  calls.read = &::read;
  calls.write = &::write;
  calls.fsync = &::fsync;
  calls.ftruncate = &::ftruncate;
  calls.rename = &::rename;
  calls.close = &::close;
  calls.fstat = &::fstat;
  calls.lstat = &::lstat;
  calls.lseek = &::lseek;
  calls.flock = &::flock;
  calls.fcntl = &RealFcntl;
  calls.fchmod = &::fchmod;
  calls.unlink = &::unlink;
  calls.fstatat = &::fstatat;
  calls.unlinkat = &::unlinkat;
  return calls;
}

SysCalls g_calls = RealSysCalls();

// open(2), retried while interrupted by a signal.
int OpenRetrying(const std::string& path, int flags, mode_t mode) {
  for (;;) {
    int fd = g_calls.open(path.c_str(), flags, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

void FillFacts(const struct stat& st, FileFacts* facts) {
  if (S_ISREG(st.st_mode)) {
    facts->kind = FileFacts::Kind::kRegular;
  } else if (S_ISDIR(st.st_mode)) {
    facts->kind = FileFacts::Kind::kDirectory;
  } else if (S_ISLNK(st.st_mode)) {
    facts->kind = FileFacts::Kind::kSymbolicLink;
  } else {
    facts->kind = FileFacts::Kind::kOther;
  }
  facts->size = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : -1;
  facts->device = static_cast<std::uint64_t>(st.st_dev);
  facts->inode = static_cast<std::uint64_t>(st.st_ino);
  facts->links = static_cast<std::uint64_t>(st.st_nlink);
  facts->readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The facts of a name whose lookup failed with `error`.
void FillFactsOfError(int error, FileFacts* facts) {
  *facts = FileFacts();
  facts->kind =
      error == ENOENT || error == ENOTDIR ? FileFacts::Kind::kMissing : FileFacts::Kind::kUnknown;
}

bool IsRegular(FileHandle handle) {
  struct stat st;
  return g_calls.fstat(handle, &st) == 0 && S_ISREG(st.st_mode);
}

// Clears O_NONBLOCK, which is set only so that opening a FIFO or a device cannot block.
bool ClearNonBlocking(FileHandle handle) {
  int flags = g_calls.fcntl(handle, F_GETFL, 0);
  if (flags < 0) return false;
  return g_calls.fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Writes all of `count` bytes unless an error occurs; returns the number written.
IoResult WriteAll(FileHandle handle, const char* data, std::uint32_t count) {
  std::uint32_t done = 0;
  while (done < count) {
    ssize_t n = g_calls.write(handle, data + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoResult(false, done);
    }
    // A regular file never takes 0 of a non-empty write; treat it as an error rather than loop.
    if (n == 0) return IoResult(false, done);
    done += static_cast<std::uint32_t>(n);
  }
  return IoResult(true, done);
}

bool SyncRetrying(FileHandle handle) {
  for (;;) {
    if (g_calls.fsync(handle) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void SplitPath(const std::string& path, std::string* dir, std::string* name) {
  std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    *dir = ".";
    *name = path;
  } else {
    *dir = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

std::string RandomSuffix(std::mt19937_64& rng) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix(6, 'X');
  for (char& c : suffix) c = kChars[rng() % (sizeof(kChars) - 1)];
  return suffix;
}

// Creates a new, empty temporary file next to `path` and returns its descriptor and name.
FileHandle CreateTempNextTo(const std::string& dir, const std::string& name, mode_t mode,
                            std::string* temp_path) {
  static std::mt19937_64 rng(std::random_device{}() ^ static_cast<std::uint64_t>(getpid()));
  const std::string prefix = (dir == "/" ? "/" : dir + "/") + "." + name + ".tmp-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_path = prefix + RandomSuffix(rng);
    int fd = OpenRetrying(*temp_path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return kInvalidHandle;
  }
  return kInvalidHandle;
}

bool SyncDirectory(const std::string& dir) {
  int fd = OpenRetrying(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = SyncRetrying(fd);
  g_calls.close(fd);
  return ok;
}

// An exclusive flock that does not wait.
bool LockExclusive(FileHandle handle) {
  int rc;
  do {
    rc = g_calls.flock(handle, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

}  // namespace

FileHandle OpenExclusive(const std::string& path, bool* heldByAnother) {
  if (heldByAnother != nullptr) *heldByAnother = false;
  int fd = OpenRetrying(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return kInvalidHandle;
  bool ok = IsRegular(fd);
  if (ok && !LockExclusive(fd)) {
    ok = false;
    if (heldByAnother != nullptr && errno == EWOULDBLOCK) *heldByAnother = true;
  }
  if (ok) ok = ClearNonBlocking(fd);
  if (!ok) {
    g_calls.close(fd);
    return kInvalidHandle;
  }
  return fd;
}

FileHandle LockDirectory(const std::string& path) {
  int fd = OpenRetrying(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return kInvalidHandle;
  if (!LockExclusive(fd)) {
    g_calls.close(fd);
    return kInvalidHandle;
  }
  return fd;
}

int RemoveLeftoverTempFiles(FileHandle directoryLock, const std::vector<std::string>& names) {
  if (directoryLock == kInvalidHandle) return 0;
  // The listing reads a duplicate of the held descriptor, so it is the held directory that is read.
  const int fd = g_calls.fcntl(directoryLock, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return 0;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    g_calls.close(fd);
    return 0;
  }
  rewinddir(dir);
  std::vector<std::string> leftovers;
  while (const dirent* entry = readdir(dir)) {
    const std::string entryName = entry->d_name;
    for (const std::string& name : names) {
      const std::string prefix = "." + name + ".tmp-";
      if (entryName.size() != prefix.size() + 6 ||
          entryName.compare(0, prefix.size(), prefix) != 0) {
        continue;
      }
      const bool suffixOk =
          std::all_of(entryName.begin() + prefix.size(), entryName.end(),
                      [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
      if (suffixOk) leftovers.push_back(entryName);
      break;
    }
  }
  int removed = 0;
  for (const std::string& leftover : leftovers) {
    struct stat st;
    if (g_calls.fstatat(dirfd(dir), leftover.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && g_calls.unlinkat(dirfd(dir), leftover.c_str(), 0) == 0) {
      ++removed;
    }
  }
  closedir(dir);
  return removed;
}

void Close(FileHandle handle) {
  // Not retried on EINTR: on Linux the descriptor is released even then.
  if (handle != kInvalidHandle) g_calls.close(handle);
}

IoResult Read(FileHandle handle, void* buffer, std::uint32_t count) {
  if (handle == kInvalidHandle) return IoResult(false, 0);
  for (;;) {
    ssize_t n = g_calls.read(handle, buffer, count);
    if (n >= 0) return IoResult(true, static_cast<std::uint32_t>(n));
    if (errno != EINTR) return IoResult(false, 0);
  }
}

IoResult Write(FileHandle handle, const void* buffer, std::uint32_t count) {
  if (handle == kInvalidHandle) return IoResult(false, 0);
  return WriteAll(handle, static_cast<const char*>(buffer), count);
}

bool Truncate(FileHandle handle, std::int64_t size) {
  if (handle == kInvalidHandle || size < 0) return false;
  int rc;
  do {
    rc = g_calls.ftruncate(handle, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  return Seek(handle, size);
}

bool Seek(FileHandle handle, std::int64_t offset) {
  if (handle == kInvalidHandle || offset < 0) return false;
  return g_calls.lseek(handle, static_cast<off_t>(offset), SEEK_SET) == offset;
}

std::int64_t Size(FileHandle handle) {
  struct stat st;
  if (handle == kInvalidHandle || g_calls.fstat(handle, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool Sync(FileHandle handle) { return handle != kInvalidHandle && SyncRetrying(handle); }

bool PathExists(const std::string& path) {
  struct stat st;
  if (g_calls.lstat(path.c_str(), &st) == 0) return true;
  return errno != ENOENT && errno != ENOTDIR;
}

bool ReplaceFile(const std::string& path, const std::string& contents) {
  if (path.empty() || path.back() == '/') return false;
  // One write call per chunk keeps the counts within the 32-bit I/O result.
  constexpr std::size_t kChunk = std::size_t{1} << 30;

  bool exists = false;
  mode_t mode = 0644;
  struct stat st;
  if (g_calls.lstat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    exists = true;
    mode = st.st_mode & 0777;
  } else if (errno != ENOENT) {
    return false;
  }

  std::string dir, name;
  SplitPath(path, &dir, &name);
  std::string temp_path;
  int fd = CreateTempNextTo(dir, name, mode, &temp_path);
  if (fd < 0) return false;

  bool ok = true;
  // The creation mode is reduced by the umask; an existing file's bits are given back exactly.
  if (exists) ok = g_calls.fchmod(fd, mode) == 0;
  for (std::size_t done = 0; ok && done < contents.size();) {
    std::size_t piece = std::min(kChunk, contents.size() - done);
    IoResult written = WriteAll(fd, contents.data() + done, static_cast<std::uint32_t>(piece));
    ok = written.first;
    done += piece;
  }
  ok = ok && SyncRetrying(fd);
  // A failing close can report a lost write (NFS); it counts.
  if (g_calls.close(fd) != 0) ok = false;
  ok = ok && g_calls.rename(temp_path.c_str(), path.c_str()) == 0;
  if (!ok) {
    g_calls.unlink(temp_path.c_str());
    return false;
  }
  return SyncDirectory(dir);
}

bool ReadWholeFile(const std::string& path, std::string* contents, std::int64_t max_size,
                   FileFacts* facts) {
  FileFacts ignored;
  if (facts == nullptr) facts = &ignored;
  *facts = FileFacts();
  if (contents == nullptr || max_size < 0) return false;
  int fd = OpenRetrying(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0);
  if (fd < 0) {
    // What stopped the opening: nothing there, a link, or a file that cannot be read.
    struct stat st;
    if (g_calls.lstat(path.c_str(), &st) == 0) {
      FillFacts(st, facts);
    } else {
      FillFactsOfError(errno, facts);
    }
    return false;
  }
  struct stat st;
  bool ok = g_calls.fstat(fd, &st) == 0;
  if (ok) {
    FillFacts(st, facts);
  } else {
    facts->kind = FileFacts::Kind::kUnknown;
  }
  ok = ok && S_ISREG(st.st_mode) && st.st_size <= max_size;
  std::string data;
  if (ok) {
    // The size is a hint only: the file may grow or shrink while it is read.
    data.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      IoResult got = Read(fd, buffer, sizeof(buffer));
      if (!got.first) {
        ok = false;
        break;
      }
      if (got.second == 0) break;
      if (static_cast<std::int64_t>(data.size()) + got.second > max_size) {
        ok = false;
        break;
      }
      data.append(buffer, got.second);
    }
  }
  g_calls.close(fd);
  if (ok) contents->swap(data);
  return ok;
}

SysCalls& CurrentSysCalls() { return g_calls; }

void RestoreSysCalls() { g_calls = RealSysCalls(); }

}  // namespace platform
}  // namespace glps
