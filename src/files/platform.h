// SPDX-License-Identifier: Apache-2.0
// The one unit that makes the operating system's file calls for the library. Every POSIX call the
// file classes and the storage need is made here; errno is read right at the call and turned into
// the plain result below, once. Nothing here throws.
//
// Tests can replace the system calls underneath through SysCalls (fault injection); production code
// never changes them.
#ifndef GLPS_FILES_PLATFORM_H_
#define GLPS_FILES_PLATFORM_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace glps {
namespace platform {

// Result of a read or a write: the call succeeded, and the number of bytes transferred.
using IoResult = std::pair<bool, std::uint32_t>;

using FileHandle = int;
constexpr FileHandle kInvalidHandle = -1;

// What the system says about one name in a directory, a symbolic link not followed.
struct FileFacts {
  enum class Kind { kMissing, kRegular, kDirectory, kSymbolicLink, kOther, kUnknown };
  // kUnknown when the system could not tell (no permission to search, an I/O error).
  Kind kind = Kind::kMissing;
  // For a regular file; -1 otherwise.
  std::int64_t size = -1;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  // The number of names the file has; a file with more than one is shared with other places.
  std::uint64_t links = 0;
  // Its write permission bits are all clear: read-only for every user, root included.
  bool readOnly = false;
};

// Opens `path` for reading and writing, creating it empty when missing; the position starts at 0.
// A symbolic link is refused, and so is anything that is not a regular file. The descriptor is
// close-on-exec and holds an exclusive, non-blocking lock tied to its open file description, so a
// second writer (in this process or another) fails to open while plain readers read freely.
// Returns kInvalidHandle on any failure; `heldByAnother` (may be null) then tells whether the only
// reason was that another writer holds the file.
FileHandle OpenExclusive(const std::string& path, bool* heldByAnother = nullptr);

// Opens the directory at `path` and takes an exclusive, non-blocking lock on it, tied to the
// returned descriptor: a second holder of the same directory, in this process or another, fails
// until Close. Returns kInvalidHandle on any failure.
FileHandle LockDirectory(const std::string& path);

// Removes, from the directory held by `directoryLock` (see LockDirectory), the temporary files that
// an interrupted ReplaceFile of one of `names` left behind (".<name>.tmp-XXXXXX", regular files
// only). Only the directory's holder may call it: no replace of those names can be under way.
// Returns the number of files removed.
int RemoveLeftoverTempFiles(FileHandle directoryLock, const std::vector<std::string>& names);

// Closes the descriptor (and so drops its lock). Does not flush. kInvalidHandle is ignored.
void Close(FileHandle handle);

// Reads up to `count` bytes at the current position. End of file is (true, 0).
IoResult Read(FileHandle handle, void* buffer, std::uint32_t count);

// Writes `count` bytes at the current position, continuing after partial writes until all bytes are
// written or an error occurs; the result counts the bytes actually written.
IoResult Write(FileHandle handle, const void* buffer, std::uint32_t count);

// Cuts or extends the file to `size` bytes and leaves the position at its end. A negative size
// fails.
bool Truncate(FileHandle handle, std::int64_t size);

// Moves the position to the absolute `offset`. A negative offset fails.
bool Seek(FileHandle handle, std::int64_t offset);

// The file's size, or -1 when it cannot be read.
std::int64_t Size(FileHandle handle);

// Makes the file's content durable (fsync).
bool Sync(FileHandle handle);

// True when anything is at `path`: a file, a directory, a symbolic link (even one that points
// nowhere). Also true when the system cannot tell (for instance, no permission to search the
// directory), so that a name is never taken for free by mistake. False only when nothing is there.
bool PathExists(const std::string& path);

// Replaces the regular file at `path` with `contents` so that readers see either the old or the new
// file, never a mix: writes a temporary file ".<name>.tmp-XXXXXX" in the same directory, syncs it,
// renames it over `path` and syncs the directory. A missing file is created (mode 0644 less the
// umask); an existing one keeps its permission bits. On failure before the rename the old file is
// left as it was and no temporary file remains. A failure to sync the directory after the rename
// also gives false: the new content is then in place but may not survive a crash.
// Refused (false, nothing written): an existing file whose write permission bits are all clear,
// also when the process runs as root; a path that names anything but a regular file, a symbolic
// link included (the link is neither followed nor replaced).
bool ReplaceFile(const std::string& path, const std::string& contents);

// Reads the whole regular file at `path` into `contents` (left unchanged on failure). False when it
// is a symbolic link or not a regular file, cannot be opened or read, or is larger than `max_size`
// bytes. `facts` (may be null) receives what was found at the path: for a regular file that was
// opened, the facts of the opened file, so that they describe the bytes read.
bool ReadWholeFile(const std::string& path, std::string* contents,
                   std::int64_t max_size = INT64_MAX, FileFacts* facts = nullptr);

// The system calls underneath, replaceable by tests to inject faults. Each member has the
// signature and the errno convention of the call it is named after (fcntl only with an int
// argument: F_GETFL / F_SETFL).
struct SysCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  int (*fsync)(int fd);
  int (*ftruncate)(int fd, off_t length);
  int (*rename)(const char* from, const char* to);
  int (*close)(int fd);
  int (*fstat)(int fd, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*flock)(int fd, int operation);
  int (*fcntl)(int fd, int cmd, int arg);
  int (*fchmod)(int fd, mode_t mode);
  int (*unlink)(const char* path);
  int (*fstatat)(int dirfd, const char* path, struct stat* st, int flags);
  int (*unlinkat)(int dirfd, const char* path, int flags);
};

// The calls in use. Defaults to the real ones; RestoreSysCalls puts them back. Tests that change
// them restore them before they end; nothing here is meant for use from two threads.
SysCalls& CurrentSysCalls();
void RestoreSysCalls();

}  // namespace platform
}  // namespace glps

#endif  // GLPS_FILES_PLATFORM_H_
