// SPDX-License-Identifier: Apache-2.0
// The few file operations of the glps command's own (the demo's state and data files).
#ifndef GLPS_TOOLS_FILES_H_
#define GLPS_TOOLS_FILES_H_

#include <cstdint>
#include <string>

namespace glps_tool {

// True when anything is at `path` (a symbolic link included, even one pointing nowhere), or when
// the system cannot tell.
bool PathExists(const std::string& path);

// Replaces the file at `path` with `contents` so that a reader or a crash sees the old or the new
// file, never a mix: a temporary file beside it, synced, renamed over it, the directory synced.
bool ReplaceFile(const std::string& path, const std::string& contents);

// Reads the regular file at `path` (not through a symbolic link) whole, up to `maxSize` bytes.
bool ReadWholeFile(const std::string& path, std::string* contents,
                   std::int64_t maxSize = INT64_MAX);

// Reads a key that should not stand on a command line (where every user of the machine can read
// it) from the file at `path`, or from standard input for "-": the first line that holds anything,
// without the "verification key:" that glps seal init prints before the key and without the blanks
// around it. False, with the reason in `error`, when the file cannot be read, is not a regular file
// of at most 4096 bytes (standard input: more than 4096 bytes), or holds no such line.
bool ReadKeyFile(const std::string& path, std::string* key, std::string* error);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_FILES_H_
