// SPDX-License-Identifier: Apache-2.0
// Small POSIX helpers shared by the host library's file operations. Internal to libglpshost.so.
#ifndef GLPS_SRC_HOST_POSIX_UTIL_H_
#define GLPS_SRC_HOST_POSIX_UTIL_H_

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace glpshost {

// Opens a regular file for reading without following a symbolic link and without blocking on a
// FIFO. Returns the descriptor (close-on-exec), or -1 when the path is missing, is a link or is not
// a regular file.
int OpenRegularForReading(const std::string& path);

// read() that retries on EINTR. Returns the byte count, 0 at end of file, -1 on error.
ssize_t ReadSome(int fd, void* buffer, std::size_t size);

// Writes all bytes, continuing after partial writes and EINTR. False on any error.
bool WriteAll(int fd, const void* data, std::size_t size);

// Closes the descriptor; false when close reports an error (EINTR counts as closed).
bool CloseFd(int fd);

// The home directory: $HOME when set and not empty, else the account's home directory; the empty
// text when neither is known.
std::string HomeDirectory();

// Creates the directory and its missing parents (mode 0777 less the umask). True when the path is a
// directory afterwards.
bool MakeDirectories(const std::string& path);

}  // namespace glpshost

#endif  // GLPS_SRC_HOST_POSIX_UTIL_H_
