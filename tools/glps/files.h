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

}  // namespace glps_tool

#endif  // GLPS_TOOLS_FILES_H_
