// SPDX-License-Identifier: Apache-2.0
#include "files/read_only_fingerprint.h"

#include <vector>

#include "crypto/md5_hash.h"
#include "crypto/seal_crypto.h"

namespace glps {

FoundFile FingerprintReadOnly(const platform::Directory& directory, const std::string& name,
                              std::int64_t maxBytes,
                              const std::function<void(std::int64_t)>& progress,
                              crypto::Md5Hash* digestOut, std::string* wholeHash,
                              std::string* contents, std::int64_t maxContents,
                              crypto::Sha256Hash* sha256) {
  FoundFile found;
  if (wholeHash != nullptr) wholeHash->clear();
  platform::FileFacts facts;
  const platform::FileHandle file = platform::OpenReadOnly(directory, name, &facts);
  if (file == platform::kInvalidHandle) {
    if (contents != nullptr) contents->clear();
    switch (facts.kind) {
      case platform::FileFacts::Kind::kMissing: found.state = FoundFile::State::kMissing; break;
      case platform::FileFacts::Kind::kDirectory:
      case platform::FileFacts::Kind::kSymbolicLink:
      case platform::FileFacts::Kind::kOther: found.state = FoundFile::State::kNotRegular; break;
      case platform::FileFacts::Kind::kRegular:
      case platform::FileFacts::Kind::kUnknown: found.state = FoundFile::State::kUnreadable; break;
    }
    found.error = facts.error;
    return found;
  }

  found.state = FoundFile::State::kUnreadable;
  const std::int64_t size = facts.size;
  const bool keep = contents != nullptr && size <= maxContents;
  // The fingerprint covers [0, prefix); the reading goes on to `end`.
  const std::int64_t prefix = maxBytes <= 0 ? 0 : (maxBytes < size ? maxBytes : size);
  const std::int64_t end = wholeHash != nullptr || keep ? size : prefix;
  crypto::Md5Hash digest;
  std::string prefixHash;
  bool prefixTaken = false;
  const auto takePrefix = [&]() {
    prefixTaken = true;
    prefixHash = digest.FingerprintText();
    return digestOut == nullptr || digestOut->CopyFrom(digest);
  };
  // Kept bytes are read straight into `contents`, in larger pieces (the digest takes each piece
  // while it is still in the cache); otherwise through a buffer of 64 KiB.
  // (Resizing the storage of the last file read writes only what it adds.)
  std::vector<char> buffer;
  if (keep) {
    contents->resize(static_cast<std::size_t>(end));
  } else {
    if (contents != nullptr) contents->clear();
    buffer.resize(65536);
  }
  const std::int64_t piece = keep ? std::int64_t{256} << 10 : std::int64_t{65536};
  std::int64_t done = 0;
  bool ok = true;
  bool shrunk = false;
  if (prefix == 0) ok = takePrefix();
  while (ok && done < end) {
    // No read crosses the end of the prefix, so the digest can be taken there.
    const std::int64_t limit = done < prefix ? prefix : end;
    const std::int64_t left = limit - done;
    const std::uint32_t ask = static_cast<std::uint32_t>(left < piece ? left : piece);
    char* const into = keep ? &(*contents)[static_cast<std::size_t>(done)] : buffer.data();
    const platform::IoResult got = platform::Read(file, into, ask);
    if (!got.first) {
      ok = false;
      break;
    }
    if (got.second == 0) {
      shrunk = true;
      break;
    }
    const bool inPrefix = done < prefix;
    // Beyond the prefix only the whole file's fingerprint needs the bytes.
    if (inPrefix || wholeHash != nullptr) digest.Update(into, got.second);
    if (sha256 != nullptr && inPrefix) sha256->Update(into, got.second);
    done += got.second;
    if (progress && inPrefix) progress(done);
    if (done == prefix && !prefixTaken) ok = takePrefix();
  }
  platform::Close(file);
  // A file that ended early is fingerprinted as far as it went.
  if (ok && !prefixTaken) ok = takePrefix();
  if (!ok) {
    if (contents != nullptr) contents->clear();
    return found;
  }

  found.state = FoundFile::State::kRegular;
  found.size = shrunk ? done : size;
  found.hashed = done < prefix ? done : prefix;
  found.hash = prefixHash;
  found.links = facts.links;
  found.device = facts.device;
  found.inode = facts.inode;
  found.readOnly = facts.readOnly;
  if (keep) {
    contents->resize(static_cast<std::size_t>(done));
    found.contentsKept = true;
  }
  if (wholeHash != nullptr) *wholeHash = digest.FingerprintText();
  return found;
}

}  // namespace glps
