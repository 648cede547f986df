// SPDX-License-Identifier: Apache-2.0
#include "files/glps_file_hashed.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

KECGlpsFileHashed::KECGlpsFileHashed(const glps::platform::FileLocation& location)
    : KECGlpsFile(location), m_nHashedSize(0), m_bTampered(false) {
  if (!IsOpen()) return;
  // Writes must start after the last byte the digest covers; a file that cannot be hashed to its
  // end would have its tail overwritten.
  if (!HashWholeFile()) Close();
}

KECGlpsFileHashed::KECGlpsFileHashed(const glps::platform::FileLocation& location,
                                     const std::string& expectedHash, std::int64_t expectedSize,
                                     bool truncate)
    : KECGlpsFile(location), m_nHashedSize(0), m_bTampered(false) {
  if (!IsOpen()) return;
  // -1 when unknown, which never equals a recorded size.
  const std::int64_t size = GetSize();
  if (size != expectedSize) m_bTampered = true;

  const std::int64_t hashed = HashExisting(expectedSize);
  const std::int64_t readable = std::min(size, std::max<std::int64_t>(expectedSize, 0));
  if (hashed < readable) m_bTampered = true;
  if (!expectedHash.empty() && expectedHash != GetHash()) m_bTampered = true;

  if (!truncate) return;
  bool consistent;
  if (expectedSize < 0) {
    consistent = HashWholeFile();
  } else if (size >= 0 && expectedSize - size > kMaxExtension) {
    // Everything there was read above, and the position stands at the end.
    consistent = hashed == size;
  } else {
    consistent = Truncate(expectedSize);
    // What the digest lacks (the extension of a shorter file, or what a read error skipped) is read
    // back from the file, so that the digest covers [0, expectedSize).
    if (consistent && hashed < expectedSize) {
      consistent = Seek(hashed) && HashExisting(expectedSize - hashed) == expectedSize - hashed;
    }
  }
  if (!consistent) Close();
}

KECGlpsFileHashed::KECGlpsFileHashed(const glps::platform::FileLocation& location,
                                     const std::string& expectedHash, std::int64_t expectedSize,
                                     const glps::crypto::Md5Hash& verified,
                                     const glps::platform::FileFacts& verifiedFile)
    : KECGlpsFile(location, glps::platform::OpenMode::kExisting),
      m_nHashedSize(0),
      m_bTampered(false) {
  if (!IsOpen()) return;
  glps::platform::FileFacts opened;
  if (expectedHash.empty() || expectedSize < 0 || verified.FingerprintText() != expectedHash ||
      !GetIdentity(&opened) || !opened.SameFileAs(verifiedFile) || !m_hHash.CopyFrom(verified)) {
    Close();
    return;
  }
  // The digest stands for the content verified. Should the file have been changed since, the
  // records that this object's writes refresh no longer fit it, and the next verification says so.
  m_nHashedSize = expectedSize;
  // As the verifying constructor leaves it: cut back (or extended) to the recorded size, the
  // position at the end.
  if (!Truncate(expectedSize)) Close();
}

KECGlpsFileHashed::KECGlpsFileHashed(const glps::platform::FileLocation& location, NotOpened)
    : KECGlpsFile(location, NotOpened()), m_nHashedSize(0), m_bTampered(false) {}

KECGlpsFileHashed::~KECGlpsFileHashed() = default;

bool KECGlpsFileHashed::CopyDigest(glps::crypto::Md5Hash* digest) const {
  return IsOpen() && digest->CopyFrom(m_hHash);
}

std::string KECGlpsFileHashed::GetHash() const {
  std::string hash;
  GetHash(&hash);
  return hash;
}

bool KECGlpsFileHashed::GetHash(std::string* hash) const {
  if (!IsOpen()) {
    hash->clear();
    return false;
  }
  return m_hHash.FingerprintText(hash);
}

bool KECGlpsFileHashed::IsTampered() const { return m_bTampered; }

void KECGlpsFileHashed::OnWritten(const void* buffer, std::uint32_t,
                                  const KECGlpsIoResult& result) {
  if (result.second > 0) AddToHash(buffer, result.second);
}

void KECGlpsFileHashed::AddToHash(const void* data, std::uint32_t count) {
  m_hHash.Update(data, count);
  m_nHashedSize += count;
}

std::int64_t KECGlpsFileHashed::HashExisting(std::int64_t count) {
  if (count <= 0) return 0;
  // No larger than the count, so that the many small files (sidecars) take a small buffer.
  const std::uint32_t bufferSize =
      count < kHashBufferSize ? static_cast<std::uint32_t>(count) : kHashBufferSize;
  std::vector<char> buffer(bufferSize);
  std::int64_t remaining = count;
  std::int64_t hashed = 0;
  while (remaining > 0) {
    const std::uint32_t want =
        remaining < bufferSize ? static_cast<std::uint32_t>(remaining) : bufferSize;
    const KECGlpsIoResult got = Read(buffer.data(), want);
    if (!got.first || got.second == 0) break;
    AddToHash(buffer.data(), got.second);
    remaining -= got.second;
    hashed += got.second;
  }
  return hashed;
}

bool KECGlpsFileHashed::HashWholeFile() {
  const std::int64_t size = GetSize();
  return size >= 0 && HashExisting(size) == size;
}
