// SPDX-License-Identifier: Apache-2.0
// POSIX implementation of the platform unit. Every system call goes through CurrentSysCalls(), so
// that tests can make any of them fail; errno is read right after the call that set it, and calls
// that a signal can interrupt are retried through Retrying.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "platform/platform.h"
#include "platform/platform_syscalls.h"

namespace glps {
namespace platform {
namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kLockFileMode = 0600;
constexpr mode_t kOwnerOnlyMode = 0600;
// Flags of every opening: no link followed, not inherited, a FIFO or device does not block and
// never becomes the controlling terminal.
constexpr int kOpenFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

int RealOpenat(int dirfd, const char* path, int flags, mode_t mode) {
  return ::openat(dirfd, path, flags, mode);
}
int RealFcntl(int fd, int cmd, int arg) { return ::fcntl(fd, cmd, arg); }
int RealLock(int fd, int cmd, struct flock* lock) { return ::fcntl(fd, cmd, lock); }

SysCalls RealSysCalls() {
  SysCalls calls;
  calls.openat = &RealOpenat;
  calls.read = &::read;
  calls.write = &::write;
  calls.fsync = &::fsync;
  calls.fdatasync = &::fdatasync;
  calls.sync_file_range = &::sync_file_range;
  calls.ftruncate = &::ftruncate;
  calls.renameat = &::renameat;
  calls.close = &::close;
  calls.fstat = &::fstat;
  calls.fstatat = &::fstatat;
  calls.lseek = &::lseek;
  calls.fcntl = &RealFcntl;
  calls.lock = &RealLock;
  calls.fchmod = &::fchmod;
  calls.unlinkat = &::unlinkat;
  return calls;
}

SysCalls g_calls = RealSysCalls();

// Why the calling thread's last failing operation failed (LastFailure). Plain data, so that the
// thread-local needs no destructor: the loader cannot unload a library while destructors of its
// thread-locals are pending.
struct FailureNote {
  const char* call;     // a static text; null when nothing is noted
  int error;            // the system's error number, 0 for a refusal of the unit's own
  const char* reason;   // the unit's own reason, a static text; null for a system error
  char name[PATH_MAX];  // cut at PATH_MAX - 1 bytes
};
thread_local FailureNote t_note;
const std::string kNoName;

void Note(const char* call, int error, const char* reason, const std::string& name) {
  t_note.call = call;
  t_note.error = error;
  t_note.reason = reason;
  const std::size_t length = std::min(name.size(), sizeof(t_note.name) - 1);
  name.copy(t_note.name, length);
  t_note.name[length] = '\0';
}

// Notes that `call` failed with the system's error number `error` (read by the caller right after
// the call), on the name or path `name`.
void NoteError(const char* call, int error, const std::string& name = kNoName) {
  Note(call, error, nullptr, name);
}

// Notes that the operation `call` refused `name` for the unit's own `reason` (a static text).
void NoteRefusal(const char* call, const std::string& name, const char* reason) {
  Note(call, 0, reason, name);
}

// Runs `call` again for as long as a signal interrupts it (-1 with EINTR); returns its last result,
// errno as it left it.
template <class Call>
auto Retrying(Call call) -> decltype(call()) {
  for (;;) {
    const auto result = call();
    if (!(result == -1 && errno == EINTR)) return result;
  }
}

int OpenAt(int dirfd, const std::string& name, int flags, mode_t mode = 0) {
  return Retrying([&] { return g_calls.openat(dirfd, name.c_str(), flags, mode); });
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
  facts->readOnly = (st.st_mode & kWriteBits) == 0;
  facts->permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
}

// The facts of a name whose lookup failed with `error`.
FileFacts FactsOfError(int error) {
  FileFacts facts;
  facts.kind =
      error == ENOENT || error == ENOTDIR ? FileFacts::Kind::kMissing : FileFacts::Kind::kUnknown;
  return facts;
}

FileFacts StatName(int dirfd, const std::string& name) {
  struct stat st;
  if (g_calls.fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return FactsOfError(errno);
  }
  FileFacts facts;
  FillFacts(st, &facts);
  return facts;
}

bool StatFd(int fd, FileFacts* facts) {
  struct stat st;
  if (g_calls.fstat(fd, &st) != 0) {
    NoteError("fstat", errno);
    *facts = FileFacts();
    facts->kind = FileFacts::Kind::kUnknown;
    return false;
  }
  FillFacts(st, facts);
  return true;
}

// Clears O_NONBLOCK, which is set only so that opening a FIFO or a device cannot block.
bool ClearNonBlocking(FileHandle handle) {
  const int flags = g_calls.fcntl(handle, F_GETFL, 0);
  if (flags < 0) return false;
  return g_calls.fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Writes all of `count` bytes unless an error occurs; returns the number written.
IoResult WriteAll(FileHandle handle, const char* data, std::uint32_t count) {
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t n = Retrying([&] { return g_calls.write(handle, data + done, count - done); });
    if (n < 0) {
      NoteError("write", errno);
      return IoResult(false, done);
    }
    // A regular file never takes 0 of a non-empty write; treat it as an error rather than loop.
    if (n == 0) {
      NoteRefusal("write", kNoName, "the system wrote nothing");
      return IoResult(false, done);
    }
    done += static_cast<std::uint32_t>(n);
  }
  return IoResult(true, done);
}

bool SyncRetrying(FileHandle handle) {
  if (Retrying([&] { return g_calls.fsync(handle); }) == 0) return true;
  NoteError("fsync", errno);
  return false;
}

bool SyncDataRetrying(FileHandle handle) {
  if (Retrying([&] { return g_calls.fdatasync(handle); }) == 0) return true;
  NoteError("fdatasync", errno);
  return false;
}

// Starts writing the file's dirty pages to disk without waiting for them (a hint: a failure only
// leaves the work to the sync that follows). The disk then works on this file while the caller
// syncs another, and that sync's commit of the file system's journal can take this file's blocks
// along.
void StartWriteBack(FileHandle handle) {
  Retrying([&] { return g_calls.sync_file_range(handle, 0, 0, SYNC_FILE_RANGE_WRITE); });
}

std::string RandomSuffix() {
  static std::mt19937_64 rng(std::random_device{}() ^ static_cast<std::uint64_t>(getpid()));
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix(6, 'X');
  for (char& c : suffix) c = kChars[rng() % (sizeof(kChars) - 1)];
  return suffix;
}

// Creates a new, empty temporary file ".<name>.tmp-XXXXXX" in the directory; returns its descriptor
// and name.
FileHandle CreateTemp(const Directory& directory, const std::string& name, mode_t mode,
                      std::string* tempName) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *tempName = "." + name + ".tmp-" + RandomSuffix();
    const int fd =
        OpenAt(directory.Handle(), *tempName, O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST) {
      NoteError("openat", errno, *tempName);
      return kInvalidHandle;
    }
  }
  NoteRefusal("openat", *tempName, "no free temporary name");
  return kInvalidHandle;
}

// What is under the name may be replaced: nothing, or a regular file with one name whose write
// bits are not all clear. `mode` receives the permission bits the new file takes.
bool MayBeReplaced(const Directory& directory, const std::string& name, mode_t* mode,
                   bool* exists) {
  struct stat st;
  *exists = false;
  *mode = kNewFileMode;
  if (g_calls.fstatat(directory.Handle(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    NoteError("fstatat", errno, name);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    NoteRefusal("replace", name, "not a regular file");
    return false;
  }
  if (st.st_nlink > 1) {
    NoteRefusal("replace", name, "the file has more than one name");
    return false;
  }
  if ((st.st_mode & kWriteBits) == 0) {
    NoteRefusal("replace", name, "the file is read-only");
    return false;
  }
  *exists = true;
  *mode = st.st_mode & 0777;
  return true;
}

// Writes everything `fill` writes into a new temporary file for the name, as Replacement::Prepare
// describes; its descriptor and name go to *temp and *tempName. With `ownerOnly`, the new file has
// mode 0600, exactly.
template <class Fill>
bool PrepareTemp(const Directory& directory, const std::string& name, Fill fill, FileHandle* temp,
                 std::string* tempName, bool ownerOnly = false) {
  *temp = kInvalidHandle;
  if (!directory.IsOpen() || name.empty()) return false;
  mode_t mode;
  bool exists;
  if (!MayBeReplaced(directory, name, &mode, &exists)) return false;
  if (ownerOnly) mode = kOwnerOnlyMode;
  const int fd = CreateTemp(directory, name, mode, tempName);
  if (fd < 0) return false;
  // The creation mode is reduced by the umask; an existing file's bits are given back exactly.
  bool ok = !(exists || ownerOnly) || g_calls.fchmod(fd, mode) == 0;
  if (!ok) NoteError("fchmod", errno, *tempName);
  ok = ok && fill(fd);
  if (!ok) {
    g_calls.close(fd);
    g_calls.unlinkat(directory.Handle(), tempName->c_str(), 0);
    return false;
  }
  StartWriteBack(fd);
  *temp = fd;
  return true;
}

// Renames the prepared file over the name once its data is durable (`durable`: the sync of its
// data, which its times do not need, its size does, succeeded) and syncs the directory, as
// Replacement::Commit describes. The descriptor is closed in every case.
bool CommitTemp(const Directory& directory, const std::string& name, FileHandle temp,
                const std::string& tempName, bool durable, bool* inPlace) {
  if (inPlace != nullptr) *inPlace = false;
  bool ok = durable;
  // A failing close can report a lost write (NFS); it counts.
  if (g_calls.close(temp) != 0) {
    NoteError("close", errno, tempName);
    ok = false;
  }
  // Checked again right before the rename, so that a name that became a second name of another
  // file, or read-only, meanwhile is not replaced either.
  mode_t mode;
  bool exists;
  ok = ok && MayBeReplaced(directory, name, &mode, &exists);
  if (ok && g_calls.renameat(directory.Handle(), tempName.c_str(), directory.Handle(),
                             name.c_str()) != 0) {
    NoteError("renameat", errno, name);
    ok = false;
  }
  if (!ok) {
    g_calls.unlinkat(directory.Handle(), tempName.c_str(), 0);
    return false;
  }
  if (inPlace != nullptr) *inPlace = true;
  return SyncRetrying(directory.Handle());
}

// Fills a temporary file through `fill`, syncs it and renames it over the name, as ReplaceFile
// describes; with `ownerOnly` as PrepareTemp.
template <class Fill>
bool ReplaceWith(const Directory& directory, const std::string& name, Fill fill, bool* inPlace,
                 bool ownerOnly = false) {
  if (inPlace != nullptr) *inPlace = false;
  FileHandle temp;
  std::string tempName;
  if (!PrepareTemp(directory, name, fill, &temp, &tempName, ownerOnly)) return false;
  return CommitTemp(directory, name, temp, tempName, SyncDataRetrying(temp), inPlace);
}

// Writes all of `contents`, in pieces whose counts fit the 32-bit I/O result.
bool WriteContents(FileHandle fd, const std::string& contents) {
  static constexpr std::size_t kChunk = std::size_t{1} << 30;
  for (std::size_t done = 0; done < contents.size();) {
    const std::size_t piece = std::min(kChunk, contents.size() - done);
    if (!WriteAll(fd, contents.data() + done, static_cast<std::uint32_t>(piece)).first) {
      return false;
    }
    done += piece;
  }
  return true;
}

bool LooksLikeLeftover(const std::string& entry, const std::string& name) {
  const std::string prefix = "." + name + ".tmp-";
  if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  return std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entry.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::string ParentOf(const std::string& path, std::string* name) {
  const std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    *name = path;
    return ".";
  }
  *name = path.substr(slash + 1);
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool FileFacts::SameFileAs(const FileFacts& other) const {
  const auto found = [](const FileFacts& f) {
    return f.kind != Kind::kMissing && f.kind != Kind::kUnknown;
  };
  return found(*this) && found(other) && device == other.device && inode == other.inode;
}

Directory::Directory(FileHandle handle, std::string path)
    : m_hDirectory(handle), m_strPath(std::move(path)) {}

Directory::~Directory() { Close(m_hDirectory); }

std::string Directory::PathOf(const std::string& name) const {
  if (m_strPath.empty() || m_strPath.back() == '/') return m_strPath + name;
  return m_strPath + "/" + name;
}

bool Directory::SameAs(const Directory& other) const {
  FileFacts mine, theirs;
  return IsOpen() && other.IsOpen() && Stat(m_hDirectory, &mine) &&
         Stat(other.m_hDirectory, &theirs) && mine.SameFileAs(theirs);
}

DirectoryPtr OpenDirectory(const std::string& path, bool followLink) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  const int fd = path.empty() ? -1 : OpenAt(AT_FDCWD, path, flags);
  if (fd < 0) NoteError("open", path.empty() ? ENOENT : errno, path);
  return DirectoryPtr(new Directory(fd < 0 ? kInvalidHandle : fd, path));
}

DirectoryPtr OpenParentDirectory(const std::string& path, std::string* name) {
  const std::string parent = ParentOf(path, name);
  const int fd = path.empty() ? -1 : OpenAt(AT_FDCWD, parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) NoteError("open", path.empty() ? ENOENT : errno, parent);
  return DirectoryPtr(new Directory(fd < 0 ? kInvalidHandle : fd, parent));
}

DirectoryPtr OpenDirectoryIn(const Directory* parent, const std::string& name, std::string shown,
                             bool followLink, int* error) {
  int ignored = 0;
  if (error == nullptr) error = &ignored;
  *error = EBADF;
  int fd = -1;
  if (parent == nullptr || parent->IsOpen()) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW);
    fd = name.empty() ? -1 : OpenAt(parent == nullptr ? AT_FDCWD : parent->Handle(), name, flags);
    *error = fd < 0 ? (name.empty() ? ENOENT : errno) : 0;
  }
  return DirectoryPtr(new Directory(fd < 0 ? kInvalidHandle : fd, std::move(shown)));
}

DirectoryPtr DuplicateDirectory(const Directory& directory, std::string shown) {
  const int fd =
      directory.IsOpen() ? g_calls.fcntl(directory.Handle(), F_DUPFD_CLOEXEC, 0) : kInvalidHandle;
  return DirectoryPtr(new Directory(fd < 0 ? kInvalidHandle : fd, std::move(shown)));
}

FileLocation::FileLocation(const std::string& path) {
  directory = OpenParentDirectory(path, &name);
}

FileLocation::FileLocation(const char* path) : FileLocation(std::string(path)) {}

FileLocation::FileLocation(DirectoryPtr directoryIn, std::string nameIn)
    : directory(directoryIn ? std::move(directoryIn) : OpenDirectory(std::string())),
      name(std::move(nameIn)) {}

FileHandle OpenForWriting(const Directory& directory, const std::string& name, OpenMode mode,
                          OpenRefusal* refusal) {
  OpenRefusal ignored;
  if (refusal == nullptr) refusal = &ignored;
  *refusal = OpenRefusal::kFailed;
  if (!directory.IsOpen() || name.empty()) return kInvalidHandle;
  int fd = -1;
  // An existing file is opened as it is; a missing one is created exclusively, so that a file put
  // under the name meanwhile is never taken for the new one. A race between the two is tried again.
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    if (mode != OpenMode::kNew) {
      fd = OpenAt(directory.Handle(), name, O_RDWR | kOpenFlags);
      if (fd >= 0) break;
      if (errno != ENOENT || mode == OpenMode::kExisting) {
        const int error = errno;
        *refusal = error == ENOENT   ? OpenRefusal::kMissing
                   : error == ELOOP  ? OpenRefusal::kNotRegular
                   : error == EISDIR ? OpenRefusal::kNotRegular
                                     : OpenRefusal::kFailed;
        if (error == ELOOP) {
          NoteRefusal("open", name, "a symbolic link (never followed)");
        } else {
          NoteError("openat", error, name);
        }
        return kInvalidHandle;
      }
    }
    fd = OpenAt(directory.Handle(), name, O_RDWR | O_CREAT | O_EXCL | kOpenFlags, kNewFileMode);
    if (fd >= 0) break;
    if (errno != EEXIST || mode == OpenMode::kNew) {
      const int error = errno;
      *refusal = error == EEXIST ? OpenRefusal::kExists : OpenRefusal::kFailed;
      // A name found taken is an answer to a caller that asked for a new file.
      if (error != EEXIST) NoteError("openat", error, name);
      return kInvalidHandle;
    }
  }
  if (fd < 0) {
    NoteRefusal("open", name, "the name changed hands while it was opened");
    return kInvalidHandle;
  }
  FileFacts facts;
  if (!StatFd(fd, &facts)) {
    *refusal = OpenRefusal::kFailed;
  } else if (!facts.IsRegular()) {
    *refusal = OpenRefusal::kNotRegular;
    NoteRefusal("open", name, "not a regular file");
  } else if (facts.links > 1) {
    *refusal = OpenRefusal::kMultiplyLinked;
    NoteRefusal("open", name, "the file has more than one name");
  } else if (facts.readOnly) {
    *refusal = OpenRefusal::kReadOnly;
    NoteRefusal("open", name, "the file is read-only");
  } else if (!ClearNonBlocking(fd)) {
    *refusal = OpenRefusal::kFailed;
    NoteError("fcntl", errno, name);
  } else {
    *refusal = OpenRefusal::kNone;
    return fd;
  }
  g_calls.close(fd);
  return kInvalidHandle;
}

FileHandle OpenReadOnly(const Directory& directory, const std::string& name, FileFacts* facts) {
  FileFacts ignored;
  if (facts == nullptr) facts = &ignored;
  *facts = FileFacts();
  facts->kind = FileFacts::Kind::kUnknown;
  if (!directory.IsOpen() || name.empty()) return kInvalidHandle;
  int fd = -1;
  // First without access-time updates, which only the file's owner (or a privileged process) may
  // ask for; then plainly.
  for (int flags : {O_RDONLY | kOpenFlags | O_NOATIME, O_RDONLY | kOpenFlags}) {
    fd = OpenAt(directory.Handle(), name, flags);
    if (fd >= 0 || errno != EPERM) break;
  }
  if (fd < 0) {
    // What stopped the opening: nothing there, a link, or a file that cannot be read.
    const int error = errno;
    if (error == ELOOP) {
      NoteRefusal("open", name, "a symbolic link (never followed)");
    } else if (error != ENOENT && error != ENOTDIR) {
      NoteError("openat", error, name);
    }
    *facts = StatName(directory.Handle(), name);
    if (facts->kind == FileFacts::Kind::kUnknown) *facts = FactsOfError(error);
    facts->error = error;
    return kInvalidHandle;
  }
  if (!StatFd(fd, facts) || !facts->IsRegular()) {
    if (facts->kind != FileFacts::Kind::kUnknown) NoteRefusal("open", name, "not a regular file");
    g_calls.close(fd);
    return kInvalidHandle;
  }
  return fd;
}

bool Stat(const Directory& directory, const std::string& name, FileFacts* facts) {
  *facts = directory.IsOpen() && !name.empty() ? StatName(directory.Handle(), name)
                                               : FactsOfError(EBADF);
  return facts->kind != FileFacts::Kind::kUnknown;
}

bool Stat(FileHandle handle, FileFacts* facts) {
  if (handle == kInvalidHandle) {
    *facts = FactsOfError(EBADF);
    return false;
  }
  return StatFd(handle, facts);
}

void Close(FileHandle handle) {
  // Not retried on EINTR: on Linux the descriptor is released even then.
  if (handle != kInvalidHandle) g_calls.close(handle);
}

IoResult Read(FileHandle handle, void* buffer, std::uint32_t count) {
  if (handle == kInvalidHandle) return IoResult(false, 0);
  const ssize_t n = Retrying([&] { return g_calls.read(handle, buffer, count); });
  if (n < 0) {
    NoteError("read", errno);
    return IoResult(false, 0);
  }
  return IoResult(true, static_cast<std::uint32_t>(n));
}

IoResult Write(FileHandle handle, const void* buffer, std::uint32_t count) {
  if (handle == kInvalidHandle) return IoResult(false, 0);
  return WriteAll(handle, static_cast<const char*>(buffer), count);
}

bool Truncate(FileHandle handle, std::int64_t size) {
  if (handle == kInvalidHandle || size < 0) return false;
  if (Retrying([&] { return g_calls.ftruncate(handle, static_cast<off_t>(size)); }) != 0) {
    NoteError("ftruncate", errno);
    return false;
  }
  return Seek(handle, size);
}

bool Seek(FileHandle handle, std::int64_t offset) {
  if (handle == kInvalidHandle || offset < 0) return false;
  if (g_calls.lseek(handle, static_cast<off_t>(offset), SEEK_SET) == offset) return true;
  NoteError("lseek", errno);
  return false;
}

std::int64_t Size(FileHandle handle) {
  struct stat st;
  if (handle == kInvalidHandle || g_calls.fstat(handle, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool Sync(FileHandle handle) { return handle != kInvalidHandle && SyncRetrying(handle); }

bool SyncData(FileHandle handle) { return handle != kInvalidHandle && SyncDataRetrying(handle); }

bool ReplaceFile(const Directory& directory, const std::string& name, const std::string& contents,
                 bool* inPlace) {
  return ReplaceWith(
      directory, name, [&contents](int fd) { return WriteContents(fd, contents); }, inPlace);
}

Replacement::~Replacement() { Discard(); }

bool Replacement::Prepare(const Directory& directory, const std::string& name,
                          const std::string& contents) {
  Discard();
  if (!PrepareTemp(
          directory, name, [&contents](int fd) { return WriteContents(fd, contents); }, &m_hTemp,
          &m_strTempName)) {
    return false;
  }
  m_pDirectory = &directory;
  m_strName = name;
  return true;
}

bool Replacement::Commit(bool* inPlace) {
  if (inPlace != nullptr) *inPlace = false;
  if (!IsPrepared()) return false;
  const FileHandle temp = m_hTemp;
  m_hTemp = kInvalidHandle;
  const bool committed =
      CommitTemp(*m_pDirectory, m_strName, temp, m_strTempName, SyncDataRetrying(temp), inPlace);
  m_pDirectory = nullptr;
  return committed;
}

bool Replacement::CommitAfterSyncingWith(FileHandle other, bool* otherSynced, bool* inPlace) {
  if (inPlace != nullptr) *inPlace = false;
  if (!IsPrepared()) {
    *otherSynced = SyncData(other);
    return false;
  }
  *otherSynced = SyncData(other);
  const FileHandle temp = m_hTemp;
  m_hTemp = kInvalidHandle;
  const bool committed =
      CommitTemp(*m_pDirectory, m_strName, temp, m_strTempName, SyncDataRetrying(temp), inPlace);
  m_pDirectory = nullptr;
  return committed;
}

void Replacement::Discard() {
  if (!IsPrepared()) return;
  g_calls.close(m_hTemp);
  g_calls.unlinkat(m_pDirectory->Handle(), m_strTempName.c_str(), 0);
  m_hTemp = kInvalidHandle;
  m_pDirectory = nullptr;
}

bool ReplaceOwnerOnlyFile(const Directory& directory, const std::string& name,
                          const std::string& contents) {
  const auto fill = [&contents](int fd) {
    return contents.size() <= UINT32_MAX &&
           WriteAll(fd, contents.data(), static_cast<std::uint32_t>(contents.size())).first;
  };
  return ReplaceWith(directory, name, fill, nullptr, true);
}

bool MakeOwnerOnly(FileHandle handle) {
  struct stat st;
  if (handle == kInvalidHandle || g_calls.fstat(handle, &st) != 0) return false;
  if ((st.st_mode & 077) == 0) return true;
  return g_calls.fchmod(handle, st.st_mode & 07700) == 0;
}

bool ReadWholeFile(const Directory& directory, const std::string& name, std::string* contents,
                   std::int64_t maxSize, FileFacts* facts) {
  FileFacts ignored;
  if (facts == nullptr) facts = &ignored;
  *facts = FileFacts();
  if (contents == nullptr || maxSize < 0) return false;
  const int fd = OpenReadOnly(directory, name, facts);
  if (fd < 0) return false;
  bool ok = facts->size <= maxSize;
  if (!ok) NoteRefusal("read", name, "the file is larger than the library reads");
  std::string data;
  if (ok) {
    // The size is a hint only: the file may grow or shrink while it is read.
    data.reserve(static_cast<std::size_t>(facts->size));
    char buffer[65536];
    for (;;) {
      const IoResult got = Read(fd, buffer, sizeof(buffer));
      if (!got.first) {
        ok = false;
        break;
      }
      if (got.second == 0) break;
      if (static_cast<std::int64_t>(data.size()) + got.second > maxSize) {
        NoteRefusal("read", name, "the file is larger than the library reads");
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

bool CopyFile(const Directory& from, const std::string& name, const Directory& to) {
  FileFacts facts;
  const int source = OpenReadOnly(from, name, &facts);
  if (source < 0) return false;
  const auto fill = [source](int fd) {
    char buffer[65536];
    for (;;) {
      const IoResult got = Read(source, buffer, sizeof(buffer));
      if (!got.first) return false;
      if (got.second == 0) return true;
      if (!WriteAll(fd, buffer, got.second).first) return false;
    }
  };
  const bool copied = ReplaceWith(to, name, fill, nullptr);
  g_calls.close(source);
  return copied;
}

bool DeleteFile(const Directory& directory, const std::string& name) {
  if (!directory.IsOpen() || name.empty()) return false;
  const FileFacts facts = StatName(directory.Handle(), name);
  switch (facts.kind) {
    case FileFacts::Kind::kMissing: return true;
    case FileFacts::Kind::kUnknown: NoteRefusal("delete", name, "cannot be examined"); return false;
    case FileFacts::Kind::kDirectory: NoteRefusal("delete", name, "a directory"); return false;
    case FileFacts::Kind::kRegular:
      if (facts.links > 1) {
        NoteRefusal("delete", name, "the file has more than one name");
        return false;
      }
      if (facts.readOnly) {
        NoteRefusal("delete", name, "the file is read-only");
        return false;
      }
      break;
    case FileFacts::Kind::kSymbolicLink:
    case FileFacts::Kind::kOther: break;
  }
  if (g_calls.unlinkat(directory.Handle(), name.c_str(), 0) == 0 || errno == ENOENT) return true;
  NoteError("unlinkat", errno, name);
  return false;
}

FileHandle TakeLock(const Directory& directory, const std::string& name, bool create) {
  if (!directory.IsOpen() || name.empty()) return kInvalidHandle;
  int fd = -1;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    fd = OpenAt(directory.Handle(), name, O_RDWR | kOpenFlags);
    if (fd < 0 && errno == ENOENT && create) {
      fd = OpenAt(directory.Handle(), name, O_RDWR | O_CREAT | O_EXCL | kOpenFlags, kLockFileMode);
      if (fd < 0 && errno == EEXIST) continue;
    }
    if (fd < 0) {
      NoteError("openat", errno, name);
      return kInvalidHandle;
    }
  }
  if (fd < 0) {
    NoteRefusal("open", name, "the name changed hands while it was opened");
    return kInvalidHandle;
  }
  FileFacts facts;
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  // An open-file-description lock: tied to this descriptor, so that a second holder in the same
  // process is refused as well as one in another process.
  bool locked = StatFd(fd, &facts) && facts.IsRegular();
  if (!locked && facts.kind != FileFacts::Kind::kUnknown) {
    NoteRefusal("lock", name, "not a regular file");
  }
  if (locked && Retrying([&] { return g_calls.lock(fd, F_OFD_SETLK, &lock); }) != 0) {
    const int error = errno;
    if (error == EAGAIN || error == EACCES) {
      NoteRefusal("lock", name, "another writer holds the lock");
    } else {
      NoteError("fcntl", error, name);
    }
    locked = false;
  }
  if (!locked) {
    g_calls.close(fd);
    return kInvalidHandle;
  }
  return fd;
}

bool ListNames(const Directory& directory, std::vector<std::string>* names, int* error) {
  *error = 0;
  if (!directory.IsOpen()) {
    *error = EBADF;
    return false;
  }
  // The listing reads a duplicate of the directory's descriptor, so it is that directory that is
  // read.
  const int fd = g_calls.fcntl(directory.Handle(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    *error = errno;
    NoteError("fcntl", *error, directory.Path());
    return false;
  }
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    *error = errno;
    NoteError("fdopendir", *error, directory.Path());
    g_calls.close(fd);
    return false;
  }
  rewinddir(dir);
  std::vector<std::string> found;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") found.push_back(name);
    errno = 0;
  }
  *error = errno;
  closedir(dir);
  if (*error != 0) {
    NoteError("readdir", *error, directory.Path());
    return false;
  }
  names->swap(found);
  return true;
}

bool ListEntries(const Directory& directory, std::vector<DirectoryEntry>* entries, int* error) {
  *error = 0;
  if (!directory.IsOpen()) {
    *error = EBADF;
    return false;
  }
  // A duplicate of the directory's descriptor is read, so it is that directory that is listed.
  const int fd = g_calls.fcntl(directory.Handle(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    *error = errno;
    return false;
  }
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    *error = errno;
    g_calls.close(fd);
    return false;
  }
  rewinddir(dir);
  std::vector<DirectoryEntry> found;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    DirectoryEntry item;
    item.name = entry->d_name;
    if (item.name == "." || item.name == "..") continue;
    switch (entry->d_type) {
      case DT_REG: item.kind = FileFacts::Kind::kRegular; break;
      case DT_DIR: item.kind = FileFacts::Kind::kDirectory; break;
      case DT_LNK: item.kind = FileFacts::Kind::kSymbolicLink; break;
      case DT_UNKNOWN: item.kind = FileFacts::Kind::kUnknown; break;
      default: item.kind = FileFacts::Kind::kOther; break;
    }
    found.push_back(std::move(item));
    errno = 0;
  }
  *error = errno;
  // File systems that give no kinds in their listings: asked name by name.
  for (DirectoryEntry& item : found) {
    if (item.kind != FileFacts::Kind::kUnknown) continue;
    item.kind = StatName(directory.Handle(), item.name).kind;
    if (item.kind == FileFacts::Kind::kMissing) item.kind = FileFacts::Kind::kUnknown;
  }
  closedir(dir);
  if (*error != 0) return false;
  entries->swap(found);
  return true;
}

int RemoveLeftoverTempFiles(const Directory& directory, const std::vector<std::string>& names) {
  if (!directory.IsOpen()) return 0;
  // The listing reads a duplicate of the directory's descriptor, so it is that directory that is
  // read.
  const int fd = g_calls.fcntl(directory.Handle(), F_DUPFD_CLOEXEC, 0);
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
      if (LooksLikeLeftover(entryName, name)) {
        leftovers.push_back(entryName);
        break;
      }
    }
  }
  closedir(dir);
  int removed = 0;
  for (const std::string& leftover : leftovers) {
    const FileFacts facts = StatName(directory.Handle(), leftover);
    if (facts.IsRegular() && DeleteFile(directory, leftover)) ++removed;
  }
  return removed;
}

bool ReplaceFile(const std::string& path, const std::string& contents) {
  std::string name;
  const DirectoryPtr directory = OpenParentDirectory(path, &name);
  return ReplaceFile(*directory, name, contents);
}

bool ReplaceFileWith(const std::string& path, const std::function<bool(FileHandle)>& fill) {
  std::string name;
  const DirectoryPtr directory = OpenParentDirectory(path, &name);
  return ReplaceWith(*directory, name, fill, nullptr);
}

FileHandle OpenPrivateTempFile(int* error) {
  const char* base = std::getenv("TMPDIR");
  const std::string directory = base != nullptr && *base == '/' ? base : "/tmp";
  int fd = g_calls.openat(AT_FDCWD, directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  *error = errno;
  // A file system without nameless files: a name made exclusively, and removed at once.
  std::random_device random;
  for (int attempt = 0; attempt < 100 && *error != 0; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, ".glps-%08x", static_cast<unsigned>(random()));
    const std::string path = directory + "/" + name;
    fd = g_calls.openat(AT_FDCWD, path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC,
                        0600);
    if (fd >= 0) {
      g_calls.unlinkat(AT_FDCWD, path.c_str(), 0);
      return fd;
    }
    *error = errno == EEXIST ? *error : errno;
  }
  return kInvalidHandle;
}

bool ReadWholeFile(const std::string& path, std::string* contents, std::int64_t maxSize,
                   FileFacts* facts) {
  std::string name;
  const DirectoryPtr directory = OpenParentDirectory(path, &name);
  return ReadWholeFile(*directory, name, contents, maxSize, facts);
}

bool PathExists(const std::string& path) {
  struct stat st;
  if (g_calls.fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
  return errno != ENOENT && errno != ENOTDIR;
}

bool NameTaken(const Directory& directory, const std::string& name) {
  FileFacts facts;
  Stat(directory, name, &facts);
  return facts.kind != FileFacts::Kind::kMissing;
}

bool KeepLoaded(const void* address, std::string* error) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
    *error = "the dynamic loader holds no object with the address";
    return false;
  }
  // Opened again by the name the loader holds it by, loading nothing new, and marked to stay.
  if (dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) == nullptr) {
    const char* reason = dlerror();
    *error = std::string("cannot keep ") + info.dli_fname +
             " loaded: " + (reason != nullptr ? reason : "no reason given");
    return false;
  }
  return true;
}

Failure LastFailure() {
  Failure failure;
  if (t_note.call == nullptr) return failure;
  failure.call = t_note.call;
  failure.name = t_note.name;
  failure.error = t_note.error;
  failure.reason = t_note.reason != nullptr ? t_note.reason : ErrorText(t_note.error);
  return failure;
}

void ClearFailure() { t_note.call = nullptr; }

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU form: the text, in the buffer or static.
  return ::strerror_r(error, buffer, sizeof(buffer));
}

SysCalls& CurrentSysCalls() { return g_calls; }

void RestoreSysCalls() { g_calls = RealSysCalls(); }

}  // namespace platform
}  // namespace glps
