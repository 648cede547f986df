// SPDX-License-Identifier: Apache-2.0
#include "files/glps_file_hashed.h"

#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"

namespace {

using glps_test::OpensslMd5Base64;
using glps_test::ReadFileBytes;
using glps_test::SysCallsGuard;
using glps_test::TempDir;
using glps_test::WriteFileBytes;

const char kMd5OfNothing[] = "1B2M2Y8AsgTpgAmY7PhCfg==";
const char kMd5OfAbc[] = "kAFQmDzST7DWlj99KOF/cg==";

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>('A' + (i * 7 + i / 13) % 58);
  return s;
}

void WriteInPieces(KECGlpsFileHashed& file, const std::string& data, size_t piece) {
  for (size_t at = 0; at < data.size(); at += piece) {
    const std::string part = data.substr(at, piece);
    ASSERT_EQ(file.Write(part), KECGlpsIoResult(true, static_cast<std::uint32_t>(part.size())));
  }
}

// --- Injected faults
// ------------------------------------------------------------------------------

size_t g_maxPerWrite = 3;
ssize_t WriteShort(int fd, const void* buffer, size_t count) {
  return ::write(fd, buffer, std::min(count, g_maxPerWrite));
}
size_t g_writeBudget = 0;  // bytes the "disk" still takes before it is full
ssize_t WriteUntilFull(int fd, const void* buffer, size_t count) {
  if (g_writeBudget == 0) {
    errno = ENOSPC;
    return -1;
  }
  ssize_t n = ::write(fd, buffer, std::min(count, g_writeBudget));
  if (n > 0) g_writeBudget -= static_cast<size_t>(n);
  return n;
}
int g_readFailures = 0;  // reads that fail before reads work again
ssize_t ReadFailingFirst(int fd, void* buffer, size_t count) {
  if (g_readFailures > 0) {
    --g_readFailures;
    errno = EIO;
    return -1;
  }
  return ::read(fd, buffer, count);
}
int g_fstatCalls = 0;
int FstatFailingAfterFirst(int fd, struct stat* st) {
  if (g_fstatCalls++ == 0) return ::fstat(fd, st);
  errno = EIO;
  return -1;
}

// --- Fingerprints
// ----------------------------------------------------------------------------------

TEST(GlpsFileHashedTest, KnownFingerprintsAndOneWriteEqualsOneBytePerWrite) {
  TempDir dir;
  KECGlpsFileHashed whole(dir / "whole");
  ASSERT_TRUE(whole.IsOpen());
  EXPECT_EQ(whole.GetHash(), kMd5OfNothing);
  EXPECT_EQ(whole.GetSize(), 0);
  whole.Write(std::string("abc"));
  EXPECT_EQ(whole.GetHash(), kMd5OfAbc);

  KECGlpsFileHashed bytewise(dir / "bytewise");
  for (char c : std::string("abc")) bytewise.Write(&c, 1);
  EXPECT_EQ(bytewise.GetHash(), kMd5OfAbc);
}

TEST(GlpsFileHashedTest, FingerprintMatchesOpensslAcrossTheReadBufferSize) {
  TempDir dir;
  const size_t sizes[] = {0, 1, 1023, 1024, 1025, 2049, 5000, 65535, 65536, 65537, 140000};
  const size_t pieces[] = {1, 7, 1024, 4096};
  for (size_t size : sizes) {
    for (size_t piece : pieces) {
      SCOPED_TRACE("size " + std::to_string(size) + ", piece " + std::to_string(piece));
      const std::string path = dir / ("f-" + std::to_string(size) + "-" + std::to_string(piece));
      const std::string data = Pattern(size);
      std::string written;
      {
        KECGlpsFileHashed file(path);
        ASSERT_TRUE(file.IsOpen());
        WriteInPieces(file, data, piece);
        written = file.GetHash();
        EXPECT_EQ(file.GetSize(), static_cast<std::int64_t>(size));
        EXPECT_EQ(file.GetHashedSize(), file.GetSize());
      }
      EXPECT_EQ(written.size(), 24u);
      EXPECT_EQ(written, OpensslMd5Base64(path));
      KECGlpsFileHashed reopened(path);
      EXPECT_EQ(reopened.GetHash(), written);
      EXPECT_EQ(reopened.GetHashedSize(), reopened.GetSize());
    }
  }
}

TEST(GlpsFileHashedTest, GetHashDoesNotEndTheDigestAndOpeningAppends) {
  TempDir dir;
  const std::string path = dir / "f";
  WriteFileBytes(path, Pattern(1500));
  KECGlpsFileHashed file(path);
  ASSERT_TRUE(file.IsOpen());
  const std::string first = file.GetHash();
  EXPECT_EQ(file.GetHash(), first);
  file.Write(std::string("more"));
  EXPECT_NE(file.GetHash(), first);
  EXPECT_EQ(ReadFileBytes(path), Pattern(1500) + "more");
  EXPECT_EQ(file.GetHash(), OpensslMd5Base64(path));
}

TEST(GlpsFileHashedTest, ObjectThatDidNotOpenHasNoFingerprintAndIsNotTampered) {
  TempDir dir;
  WriteFileBytes(dir / "real", "content");
  ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
  // Neither is ever opened for writing, whoever runs the test.
  WriteFileBytes(dir / "readonly", "abc");
  ASSERT_EQ(chmod((dir / "readonly").c_str(), 0444), 0);
  ASSERT_EQ(link((dir / "real").c_str(), (dir / "second-name").c_str()), 0);
  for (const char* name : {"missing-dir/f", "link", "readonly", "second-name"}) {
    SCOPED_TRACE(name);
    KECGlpsFileHashed opening(dir / name);
    EXPECT_FALSE(opening.IsOpen());
    EXPECT_EQ(opening.GetHash(), "");
    EXPECT_EQ(opening.GetSize(), 0);
    KECGlpsFileHashed verifying(dir / name, kMd5OfAbc, 3, true);
    EXPECT_FALSE(verifying.IsOpen());
    EXPECT_FALSE(verifying.IsTampered());
    EXPECT_EQ(verifying.GetHash(), "");
  }
  EXPECT_EQ(ReadFileBytes(dir / "real"), "content");
  EXPECT_EQ(ReadFileBytes(dir / "readonly"), "abc");
}

// Without an MD5 implementation (as under a FIPS-only configuration) the file still works but has
// no fingerprint, so it cannot pass a fingerprint check.
TEST(GlpsFileHashedTest, WithoutADigestTheFileWritesButHasNoFingerprint) {
  TempDir dir;
  const std::string path = dir / "f";
  WriteFileBytes(path, "abc");
  struct RequireFips {
    RequireFips() { EXPECT_EQ(EVP_set_default_properties(nullptr, "fips=yes"), 1); }
    ~RequireFips() { EVP_set_default_properties(nullptr, ""); }
  };
  auto noMd5 = std::make_unique<RequireFips>();
  {
    KECGlpsFileHashed opening(path);
    EXPECT_TRUE(opening.IsOpen());
    EXPECT_EQ(opening.GetHash(), "");
    EXPECT_EQ(opening.Write(std::string("def")), KECGlpsIoResult(true, 3));
  }
  {
    KECGlpsFileHashed verifying(path, kMd5OfAbc, 6, false);
    EXPECT_TRUE(verifying.IsOpen());
    EXPECT_TRUE(verifying.IsTampered());
  }
  {
    KECGlpsFileHashed sizeOnly(path, "", 6, false);
    EXPECT_FALSE(sizeOnly.IsTampered());
  }
  noMd5.reset();
  EXPECT_EQ(ReadFileBytes(path), "abcdef");
  KECGlpsFileHashed restored(path);
  EXPECT_EQ(restored.GetHash().size(), 24u);
}

// --- Verification against a record
// ----------------------------------------------------------------

TEST(GlpsFileHashedTest, VerifyingConstructorAgainstARecord) {
  const std::string original = Pattern(2500);
  const std::int64_t kSize = 2500;
  enum HashGiven { kRecorded, kEmpty, kLowerCase };
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> change;
    HashGiven hash;
    std::int64_t expectedSize;
    bool truncate;
    bool tampered;
    std::string fileAfter;  // content right after construction
  };
  auto none = [](const std::string&) {};
  auto changeByte = [&](const std::string& p) {
    std::string s = original;
    s[1500] ^= 1;
    WriteFileBytes(p, s);
  };
  auto append = [&](const std::string& p) { WriteFileBytes(p, original + "extra"); };
  auto shorten = [&](const std::string& p) { WriteFileBytes(p, original.substr(0, 2400)); };
  auto remove = [](const std::string& p) { std::remove(p.c_str()); };
  std::string changed = original;
  changed[1500] ^= 1;
  const std::string zeros(100, '\0');

  const Case cases[] = {
      {"untouched", none, kRecorded, kSize, false, false, original},
      {"untouched, truncate", none, kRecorded, kSize, true, false, original},
      {"byte changed", changeByte, kRecorded, kSize, false, true, changed},
      {"byte changed, size only", changeByte, kEmpty, kSize, false, false, changed},
      {"hash differs in letter case", none, kLowerCase, kSize, false, true, original},
      {"wrong size, size only", none, kEmpty, kSize + 1, false, true, original},
      {"appended", append, kRecorded, kSize, false, true, original + "extra"},
      {"appended, truncate cuts back", append, kRecorded, kSize, true, true, original},
      {"shorter", shorten, kRecorded, kSize, false, true, original.substr(0, 2400)},
      {"shorter, truncate extends", shorten, kRecorded, kSize, true, true,
       original.substr(0, 2400) + zeros},
      {"deleted", remove, kRecorded, kSize, false, true, ""},
      {"deleted, truncate extends", remove, kRecorded, kSize, true, true, std::string(2500, '\0')},
      {"size 0 recorded, truncate", none, kEmpty, 0, true, true, ""},
      {"negative size", none, kRecorded, -1, false, true, original},
      {"negative size, truncate keeps the file", none, kRecorded, -1, true, true, original},
  };

  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempDir dir;
    const std::string path = dir / "GLP-Log-1.html";
    std::string recorded;
    {
      KECGlpsFileHashed writer(path);
      WriteInPieces(writer, original, 100);
      recorded = writer.GetHash();
    }
    test.change(path);
    std::string expectedHash;
    if (test.hash == kRecorded) expectedHash = recorded;
    if (test.hash == kLowerCase) {
      expectedHash = recorded;
      std::transform(expectedHash.begin(), expectedHash.end(), expectedHash.begin(), ::tolower);
      ASSERT_NE(expectedHash, recorded);
    }

    KECGlpsFileHashed file(path, expectedHash, test.expectedSize, test.truncate);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.IsTampered(), test.tampered);
    EXPECT_EQ(ReadFileBytes(path), test.fileAfter);
    if (!test.tampered && test.hash == kRecorded) {
      EXPECT_EQ(file.GetHash(), recorded);
    }
    if (test.truncate) {
      // Writing continues after the kept content, and the fingerprint describes the whole file.
      EXPECT_EQ(file.GetHashedSize(), file.GetSize());
      file.Write(std::string("TAIL"));
      EXPECT_EQ(ReadFileBytes(path), test.fileAfter + "TAIL");
      EXPECT_EQ(file.GetHash(), OpensslMd5Base64(path));
      EXPECT_EQ(file.GetHashedSize(), file.GetSize());
    }
  }
}

// --- Faults
// ---------------------------------------------------------------------------------------

TEST(GlpsFileHashedTest, PartialAndFailedWritesAddExactlyTheBytesWritten) {
  TempDir dir;
  const std::string path = dir / "f";
  KECGlpsFileHashed file(path);
  ASSERT_TRUE(file.IsOpen());
  SysCallsGuard guard;

  g_maxPerWrite = 3;
  guard.calls().write = &WriteShort;
  const std::string data = Pattern(1000);
  EXPECT_EQ(file.Write(data), KECGlpsIoResult(true, 1000));
  EXPECT_EQ(ReadFileBytes(path), data);
  EXPECT_EQ(file.GetHash(), OpensslMd5Base64(path));

  g_writeBudget = 5;
  guard.calls().write = &WriteUntilFull;
  EXPECT_EQ(file.Write(std::string("0123456789")), KECGlpsIoResult(false, 5));
  EXPECT_EQ(ReadFileBytes(path), data + "01234");
  EXPECT_EQ(file.GetHash(), OpensslMd5Base64(path));
  EXPECT_EQ(file.GetHashedSize(), 1005);

  const std::string before = file.GetHash();
  EXPECT_EQ(file.Write(std::string("abc")), KECGlpsIoResult(false, 0));
  EXPECT_EQ(file.GetHash(), before);
  EXPECT_EQ(file.GetHashedSize(), 1005);
}

// Exposes the hashing step and counts what it asks of Read.
class ProbeFile : public KECGlpsFileHashed {
 public:
  using KECGlpsFileHashed::HashExisting;
  using KECGlpsFileHashed::KECGlpsFileHashed;
  using KECGlpsFileHashed::kHashBufferSize;
  bool Rewind() { return Seek(0); }
  KECGlpsIoResult Read(void* buffer, std::uint32_t count) override {
    requests.push_back(count);
    return KECGlpsFileHashed::Read(buffer, count);
  }
  std::vector<std::uint32_t> requests;
};

TEST(GlpsFileHashedTest, HashExistingReadsAtMostItsBufferAtATimeAndNothingForANegativeCount) {
  TempDir dir;
  const std::uint32_t kBuffer = ProbeFile::kHashBufferSize;
  WriteFileBytes(dir / "f", Pattern(2 * kBuffer + 100));
  ProbeFile file(dir / "f");
  ASSERT_TRUE(file.IsOpen());
  const std::string whole = file.GetHash();

  ASSERT_TRUE(file.Rewind());
  file.requests.clear();
  EXPECT_EQ(file.HashExisting(-1), 0);
  EXPECT_EQ(file.HashExisting(INT64_MIN), 0);
  EXPECT_TRUE(file.requests.empty());
  EXPECT_EQ(file.GetHash(), whole);

  // More asked than the file holds: whole buffers, the rest, then the end of the file.
  EXPECT_EQ(file.HashExisting(INT64_MAX), 2 * kBuffer + 100);
  EXPECT_EQ(file.requests, (std::vector<std::uint32_t>{kBuffer, kBuffer, kBuffer, kBuffer}));

  // Less than a buffer: one read of exactly that much.
  ASSERT_TRUE(file.Rewind());
  file.requests.clear();
  EXPECT_EQ(file.HashExisting(300), 300);
  EXPECT_EQ(file.requests, (std::vector<std::uint32_t>{300}));
}

TEST(GlpsFileHashedTest, UnreadableContentIsNeverOverwrittenNorPassed) {
  TempDir dir;
  const std::string path = dir / "f";
  const std::string original = Pattern(3000);
  WriteFileBytes(path, original);
  std::string recorded;
  {
    KECGlpsFileHashed file(path);
    recorded = file.GetHash();
  }
  SysCallsGuard guard;
  guard.calls().read = &ReadFailingFirst;

  // Opening: the append position would be wrong, so the object does not open.
  g_readFailures = 1;
  {
    KECGlpsFileHashed file(path);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetHash(), "");
  }
  // Verifying, size only: the recorded content was not read, so it was not verified.
  g_readFailures = 1;
  {
    KECGlpsFileHashed file(path, "", 3000, false);
    EXPECT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.IsTampered());
  }
  // Verifying with truncate: the content is read again so the fingerprint covers it.
  g_readFailures = 1;
  {
    KECGlpsFileHashed file(path, recorded, 3000, true);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.IsTampered());
    EXPECT_EQ(file.GetHash(), recorded);
  }
  // Still failing on the second attempt: not open rather than a wrong fingerprint.
  g_readFailures = 1000;
  {
    KECGlpsFileHashed file(path, recorded, 3000, true);
    EXPECT_FALSE(file.IsOpen());
  }
  g_readFailures = 0;
  EXPECT_EQ(ReadFileBytes(path), original);
  KECGlpsFileHashed again(path);
  EXPECT_TRUE(again.IsOpen());
  EXPECT_EQ(again.GetHash(), recorded);
}

TEST(GlpsFileHashedTest, UnknownSizeIsNeitherHashedAsEmptyNorVerified) {
  TempDir dir;
  const std::string path = dir / "f";
  WriteFileBytes(path, "content");
  SysCallsGuard guard;
  guard.calls().fstat = &FstatFailingAfterFirst;
  g_fstatCalls = 0;
  {
    KECGlpsFileHashed file(path);
    EXPECT_FALSE(file.IsOpen());
  }
  g_fstatCalls = 0;
  {
    KECGlpsFileHashed file(path, "", 7, false);
    EXPECT_TRUE(file.IsTampered());
  }
  EXPECT_EQ(ReadFileBytes(path), "content");
}

}  // namespace
