// SPDX-License-Identifier: Apache-2.0
// A log directory packed into one byte string, the input of the verify target:
//
//   <the bytes of log.xml>
//   "\n=== " <kind> " " <name> "\n" <content>     (any number of entries)
//
// Kinds: 'f' a regular file holding <content>; 'd' a directory; 'l' a symbolic link to <content>;
// 'p' a FIFO; 'i' no file: <name> is the log info ("HASH:SIZE") to check log.xml against.
// Entries whose name is not a plain file name, or names "log.xml", or names one that exists
// already, are left out, so nothing is ever made outside the directory.
#ifndef GLPS_FUZZ_LOG_DIR_INPUT_H_
#define GLPS_FUZZ_LOG_DIR_INPUT_H_

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace glps_fuzz {

struct PackedEntry {
  char kind = 'f';
  std::string name;
  std::string content;
};

struct PackedDirectory {
  std::string logXml;
  std::vector<PackedEntry> entries;
};

inline const std::string& EntryMark() {
  static const std::string mark = "\n=== ";
  return mark;
}

inline PackedDirectory Unpack(const std::string& bytes) {
  PackedDirectory packed;
  std::size_t at = bytes.find(EntryMark());
  packed.logXml = bytes.substr(0, at);
  while (at != std::string::npos) {
    const std::size_t headerStart = at + EntryMark().size();
    const std::size_t next = bytes.find(EntryMark(), headerStart);
    const std::string chunk = bytes.substr(
        headerStart, next == std::string::npos ? std::string::npos : next - headerStart);
    at = next;
    const std::size_t lineEnd = chunk.find('\n');
    const std::string header = chunk.substr(0, lineEnd);
    if (header.size() < 3 || header[1] != ' ') continue;
    PackedEntry entry;
    entry.kind = header[0];
    entry.name = header.substr(2);
    if (lineEnd != std::string::npos) entry.content = chunk.substr(lineEnd + 1);
    packed.entries.push_back(entry);
  }
  return packed;
}

inline std::string Pack(const PackedDirectory& packed) {
  std::string bytes = packed.logXml;
  for (const PackedEntry& entry : packed.entries) {
    bytes += EntryMark() + entry.kind + " " + entry.name + "\n" + entry.content;
  }
  return bytes;
}

inline bool IsSafeName(const std::string& name) {
  return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

inline bool WriteWhole(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  return done == bytes.size();
}

// Makes log.xml and the packed entries in `directory` (which exists and is empty). `infoGiven`
// tells whether there was a log info entry, `infoText` receives its text.
inline void Materialize(const PackedDirectory& packed, const std::string& directory,
                        std::string* infoText, bool* infoGiven) {
  *infoGiven = false;
  WriteWhole(directory + "/log.xml", packed.logXml);
  for (const PackedEntry& entry : packed.entries) {
    if (entry.kind == 'i') {
      *infoGiven = true;
      *infoText = entry.name;
      continue;
    }
    if (!IsSafeName(entry.name) || entry.name == "log.xml") continue;
    const std::string path = directory + "/" + entry.name;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) continue;
    switch (entry.kind) {
      case 'f': WriteWhole(path, entry.content); break;
      case 'd': mkdir(path.c_str(), 0755); break;
      case 'l':
        if (entry.content.find('\0') == std::string::npos && entry.content.size() < 4096) {
          const int made = symlink(entry.content.c_str(), path.c_str());
          (void)made;  // a link that cannot be made is simply not there
        }
        break;
      case 'p': mkfifo(path.c_str(), 0644); break;
      default: break;
    }
  }
}

}  // namespace glps_fuzz

#endif  // GLPS_FUZZ_LOG_DIR_INPUT_H_
