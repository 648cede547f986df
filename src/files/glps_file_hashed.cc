#include "files/glps_file_hashed.h"

#include <algorithm>
#include <cstdint>
#include <string>

KECGlpsFileHashed::KECGlpsFileHashed(const std::string& path)
    : KECGlpsFile(path), m_bTampered(false) {
  if (!IsOpen()) return;
  // Writes must start after the last byte the digest covers; a file that cannot be hashed to its
  // end would have its tail overwritten.
  if (!HashWholeFile()) Close();
}

KECGlpsFileHashed::KECGlpsFileHashed(const std::string& path, const std::string& expectedHash,
                                     std::int64_t expectedSize, bool truncate)
    : KECGlpsFile(path), m_bTampered(false) {
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

KECGlpsFileHashed::~KECGlpsFileHashed() = default;

std::string KECGlpsFileHashed::GetHash() const {
  if (!IsOpen()) return std::string();
  return m_hHash.FingerprintText();
}

bool KECGlpsFileHashed::IsTampered() const { return m_bTampered; }

void KECGlpsFileHashed::OnWritten(const void* buffer, std::uint32_t, const KECGlpsIoResult& result) {
  if (result.second > 0) m_hHash.Update(buffer, result.second);
}

std::int64_t KECGlpsFileHashed::HashExisting(std::int64_t count) {
  constexpr std::uint32_t kBufferSize = 1024;
  char buffer[kBufferSize] = {};
  std::int64_t remaining = count;
  std::int64_t hashed = 0;
  while (remaining > 0) {
    const std::uint32_t want =
        remaining < kBufferSize ? static_cast<std::uint32_t>(remaining) : kBufferSize;
    const KECGlpsIoResult got = Read(buffer, want);
    if (!got.first || got.second == 0) break;
    m_hHash.Update(buffer, got.second);
    remaining -= got.second;
    hashed += got.second;
  }
  return hashed;
}

bool KECGlpsFileHashed::HashWholeFile() {
  const std::int64_t size = GetSize();
  return size >= 0 && HashExisting(size) == size;
}
