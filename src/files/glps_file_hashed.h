// SPDX-License-Identifier: Apache-2.0
// A file that keeps the fingerprint of its content while it is written.
#ifndef GLPS_FILES_GLPS_FILE_HASHED_H_
#define GLPS_FILES_GLPS_FILE_HASHED_H_

#include <cstdint>
#include <string>

#include "crypto/md5_hash.h"
#include "files/glps_file.h"

// A KECGlpsFile with a running MD5 digest of its content, so that the fingerprint of an
// append-only file is known at any time without reading the file again. The existing content is
// hashed once at construction; afterwards every byte written through the object is added. The
// fingerprint text is the Base64 of the digest, 24 characters; the empty text means none.
//
// The opening constructor takes a file as it is and leaves the position at its end, so writes
// append. The verifying constructor checks the file against a recorded fingerprint and size and
// marks it tampered when they differ; with the truncate flag it also brings the file back to the
// recorded size, so writes continue the recorded content.
//
// Owned by whoever constructs it (the file manager, or a document deriving from it); not copyable.
// Requires of its caller: one thread at a time, and no writer but this object while it lives
// (other KECGlpsFile objects are kept out by the lock; other programs must only read). Reads and
// Truncate do not touch the digest, so a caller that moves the position through them must not
// write afterwards.
class KECGlpsFileHashed : public KECGlpsFile {
 public:
  // Opens (creating when missing) and hashes the whole file. If the size cannot be read or the
  // content cannot be read to its end, the object is not open.
  explicit KECGlpsFileHashed(const glps::platform::FileLocation& location);
  // Opens the file and compares it with the recorded fingerprint text and size; see IsTampered.
  // The first `expectedSize` bytes are hashed (a shorter file whole). An empty `expectedHash`
  // compares the size only. With `truncate` the file is then cut back or extended to
  // `expectedSize`, whatever the comparison found; the bytes an extension adds (zeros) are hashed
  // too, so the fingerprint describes the file as it now stands. A negative recorded size, or one
  // more than kMaxExtension beyond the end of the file, is tampered; with `truncate` the file then
  // stays as found and the position goes to its end. If
  // the file cannot be brought to that state (a read or truncate error), the object is not open.
  // A file that does not open is not tampered.
  KECGlpsFileHashed(const glps::platform::FileLocation& location, const std::string& expectedHash,
                    std::int64_t expectedSize, bool truncate);
  // Opens the file against its record like the verifying constructor with `truncate`, but instead
  // of reading the recorded content again takes over `verified`, the digest of exactly that content
  // made when the very file with the identity `verifiedFile` (device and inode) was verified a
  // moment ago, read-only. Done only when `verified` gives the recorded, non-empty fingerprint text
  // and the file opened is that very file; otherwise the object is not open. A change made to the
  // file's bytes since the verification is not taken into the digest: the next verification finds
  // it.
  KECGlpsFileHashed(const glps::platform::FileLocation& location, const std::string& expectedHash,
                    std::int64_t expectedSize, const glps::crypto::Md5Hash& verified,
                    const glps::platform::FileFacts& verifiedFile);
  // Names the file without opening it (see KECGlpsFile::NotOpened).
  KECGlpsFileHashed(const glps::platform::FileLocation& location, NotOpened);
  ~KECGlpsFileHashed() override;

  // The fingerprint text of everything hashed so far; more may be added afterwards. Empty when the
  // object is not open or the digest is unavailable.
  std::string GetHash() const;
  // The same text, written into `hash` (its storage reused); false, with `hash` emptied, when the
  // text is empty.
  bool GetHash(std::string* hash) const;
  // How many bytes from the start of the file the fingerprint covers. While this object is the
  // file's only writer and nobody moved its position with Read or Truncate, that is the file's
  // size, known without asking the system.
  std::int64_t GetHashedSize() const { return m_nHashedSize; }
  // Copies the running digest into `digest`; false when this object is not open or the copy fails.
  bool CopyDigest(glps::crypto::Md5Hash* digest) const;
  // True when the verifying constructor found the size or the fingerprint different from the
  // record, or could not read the recorded content. Decided once; false for the opening
  // constructor.
  bool IsTampered() const;

 protected:
  // Adds the bytes that reached the file (result.second), also when the write then failed, so the
  // digest keeps matching the file.
  void OnWritten(const void* buffer, std::uint32_t count, const KECGlpsIoResult& result) override;

  // Reads up to `count` bytes from the current position through the virtual Read, in pieces of at
  // most kHashBufferSize bytes, and adds them to the digest. Stops at end of file or on a read
  // error. A count of 0 or below hashes nothing. Returns the number of bytes hashed.
  std::int64_t HashExisting(std::int64_t count);

  // The most bytes the verifying constructor adds to a file that is shorter than its record. The
  // recorded size comes from log.xml, which anyone can edit: without a bound, one number there
  // would make the file any size and its hashing last hours. The zeros of an extension stand for
  // nothing, so a file beyond the bound is simply left as found.
  static constexpr std::int64_t kMaxExtension = std::int64_t{64} << 20;

  // The largest read of HashExisting. Large enough that the system calls cost little next to the
  // digest, small enough to be no burden on memory.
  static constexpr std::uint32_t kHashBufferSize = 64 * 1024;

 private:
  // Hashes the whole file, starting at offset 0 (where the position must stand); true when every
  // byte of its size was hashed, leaving the position at its end.
  bool HashWholeFile();

  // Adds bytes to the digest and counts them.
  void AddToHash(const void* data, std::uint32_t count);

  // Covers bytes [0, position) of the file as this object read or wrote them, until a caller moves
  // the position with Read or Truncate.
  glps::crypto::Md5Hash m_hHash;
  // The number of bytes m_hHash covers.
  std::int64_t m_nHashedSize;
  bool m_bTampered;
};

#endif  // GLPS_FILES_GLPS_FILE_HASHED_H_
