// SPDX-License-Identifier: Apache-2.0
// The system calls under the platform unit, replaceable by tests to inject faults. Only the
// platform unit itself and tests include this header.
#ifndef GLPS_PLATFORM_PLATFORM_SYSCALLS_H_
#define GLPS_PLATFORM_PLATFORM_SYSCALLS_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace glps {
namespace platform {

// Each member has the signature and the errno convention of the call it is named after; fcntl only
// with an int argument (F_GETFL, F_SETFL, F_DUPFD_CLOEXEC), lock is fcntl with a struct flock
// (F_OFD_SETLK, F_OFD_GETLK).
struct SysCalls {
  int (*openat)(int dirfd, const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  int (*fsync)(int fd);
  int (*fdatasync)(int fd);
  int (*sync_file_range)(int fd, off64_t offset, off64_t count, unsigned int flags);
  int (*ftruncate)(int fd, off_t length);
  int (*renameat)(int fromdirfd, const char* from, int todirfd, const char* to);
  int (*close)(int fd);
  int (*fstat)(int fd, struct stat* st);
  int (*fstatat)(int dirfd, const char* path, struct stat* st, int flags);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*fcntl)(int fd, int cmd, int arg);
  int (*lock)(int fd, int cmd, struct flock* lock);
  int (*fchmod)(int fd, mode_t mode);
  int (*unlinkat)(int dirfd, const char* path, int flags);
};

// The calls in use. Defaults to the real ones; RestoreSysCalls puts them back. Tests that change
// them restore them before they end; nothing here is meant for use from two threads.
SysCalls& CurrentSysCalls();
void RestoreSysCalls();

}  // namespace platform
}  // namespace glps

#endif  // GLPS_PLATFORM_PLATFORM_SYSCALLS_H_
