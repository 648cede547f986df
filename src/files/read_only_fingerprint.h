// SPDX-License-Identifier: Apache-2.0
// Fingerprinting a file without opening it for writing: the auditor's view of a log file.
#ifndef GLPS_FILES_READ_ONLY_FINGERPRINT_H_
#define GLPS_FILES_READ_ONLY_FINGERPRINT_H_

#include <cstdint>
#include <functional>
#include <string>

namespace glps {
namespace crypto {
class Md5Hash;
}  // namespace crypto

// What a read-only look at one path found.
struct FoundFile {
  enum class State {
    kRegular,     // a regular file, read as far as asked
    kMissing,     // nothing at the path
    kNotRegular,  // a directory, a symbolic link (never followed), a FIFO, a device, ...
    kUnreadable,  // there is something, but it could not be examined or read
  };
  State state = State::kMissing;
  // The file's size; -1 unless the state is kRegular.
  std::int64_t size = -1;
  // How many bytes from the start `hash` covers: min(size, the bytes asked for).
  std::int64_t hashed = 0;
  // The fingerprint text of those bytes, in the form KECGlpsFileHashed::GetHash gives (Base64 of
  // the MD5 digest); empty unless the state is kRegular.
  std::string hash;
  // Of the file that was read (kRegular only): the number of its names, its identity, and whether
  // its write permission bits are all clear.
  std::uint64_t links = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool readOnly = false;
};

// Looks at `path` and fingerprints its first `maxBytes` bytes (a shorter file whole; 0 or a
// negative count hashes nothing) without changing anything: the file is opened read-only (and
// without updating its access time where the system allows that), never created, written,
// truncated or locked, so its bytes and modification time stay as they are and files without write
// permission are read alike. A symbolic link is not followed. The system calls go through
// platform::CurrentSysCalls(), so tests can make them fail.
//
// `progress`, when set, is called after every chunk with the number of bytes hashed so far.
// A file that shrinks while it is read reports the size it was read to. `digest`, when set and the
// file was read, receives the running digest of the bytes `hash` covers, to be continued by whoever
// goes on writing that very file.
FoundFile FingerprintReadOnly(const std::string& path, std::int64_t maxBytes,
                              const std::function<void(std::int64_t)>& progress = nullptr,
                              crypto::Md5Hash* digest = nullptr);

}  // namespace glps

#endif  // GLPS_FILES_READ_ONLY_FINGERPRINT_H_
