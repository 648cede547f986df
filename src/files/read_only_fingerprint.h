// SPDX-License-Identifier: Apache-2.0
// Fingerprinting a file without opening it for writing: the auditor's view of a log file, and the
// library's own when it verifies a log.
#ifndef GLPS_FILES_READ_ONLY_FINGERPRINT_H_
#define GLPS_FILES_READ_ONLY_FINGERPRINT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace glps {
namespace crypto {
class Md5Hash;
class Sha256Hash;
}  // namespace crypto

// What a read-only look at one name found.
struct FoundFile {
  enum class State {
    kRegular,     // a regular file, read as far as asked
    kMissing,     // nothing under the name
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
  // For kUnreadable: the system's error number when the file could not be opened (0 when none was
  // given, and when a read failed).
  int error = 0;
  // The bytes read were kept for the caller (see FingerprintReadOnly's `contents`).
  bool contentsKept = false;
};

// Looks at the file `name` of the directory and fingerprints its first `maxBytes` bytes (a shorter
// file whole; 0 or a negative count hashes nothing) without changing anything: the file is opened
// read-only (platform::OpenReadOnly), never created, written, truncated or locked, so its bytes and
// modification time stay as they are and files without write permission are read alike. Locks
// that others hold do not stop it. A symbolic link is not followed.
//
// `progress`, when set, is called after every chunk of the fingerprinted part with the number of
// bytes read so far. A file that shrinks while it is read reports the size it was read to.
// `digest`, when set and the file was read, receives the running digest of the bytes `hash` covers,
// to be continued by whoever goes on writing that very file (identified by `device` and `inode`).
// `wholeHash`, when set, has the reading go on to the end of the file, in the same pass, and
// receives the fingerprint text of the whole file (empty unless the state is kRegular).
//
// `contents`, when set, receives the bytes of the whole file from the same pass, so that a caller
// that also reads what the file says reads it once: the reading goes on to the end of the file and
// `contentsKept` is set. A file larger than `maxContents` when it is opened is read as without
// `contents`, which is then left empty; so is `contents` whenever the file could not be read. Its
// storage is reused.
//
// `sha256`, when set, is given the very bytes that `hash` covers, in the same pass (a sealed log's
// linked files are sealed with both digests of the same bytes).
FoundFile FingerprintReadOnly(const platform::Directory& directory, const std::string& name,
                              std::int64_t maxBytes,
                              const std::function<void(std::int64_t)>& progress = nullptr,
                              crypto::Md5Hash* digest = nullptr, std::string* wholeHash = nullptr,
                              std::string* contents = nullptr, std::int64_t maxContents = INT64_MAX,
                              crypto::Sha256Hash* sha256 = nullptr);

}  // namespace glps

#endif  // GLPS_FILES_READ_ONLY_FINGERPRINT_H_
