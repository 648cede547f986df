// SPDX-License-Identifier: Apache-2.0
// FingerprintReadOnly with the file's bytes kept: one pass gives the fingerprint of the recorded
// part and the bytes of the whole file, or, for a file larger than the caller takes, the
// fingerprint alone.
#include "files/read_only_fingerprint.h"

#include <cstdint>
#include <string>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "support/stored_records.h"
#include "support/temp_dir.h"

namespace {

using glps_test::Fingerprint;
using glps_test::TempDir;
using glps_test::WriteFileBytes;

TEST(FingerprintReadOnlyTest, KeepsTheBytesOfTheSamePass) {
  // Larger than one piece of reading, and not a multiple of it.
  std::string content(700001, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 % 251);
  const std::int64_t size = static_cast<std::int64_t>(content.size());
  struct Case {
    const char* what;
    std::int64_t maxBytes;     // the fingerprinted prefix asked for
    std::int64_t maxContents;  // the largest file whose bytes are kept
    bool kept;
  };
  const Case cases[] = {
      {"prefix shorter than the file", 300000, size, true},
      {"the whole file", size, size, true},
      {"more than the file", size + 10, INT64_MAX, true},
      {"nothing fingerprinted", 0, size, true},
      {"file larger than what is kept", 300000, size - 1, false},
  };
  TempDir dir;
  WriteFileBytes(dir / "doc.html", content);
  const glps::platform::DirectoryPtr directory = glps::platform::OpenDirectory(dir.path());
  std::string bytes = "left over from an earlier file";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const glps::FoundFile found = glps::FingerprintReadOnly(
        *directory, "doc.html", c.maxBytes, nullptr, nullptr, nullptr, &bytes, c.maxContents);
    const glps::FoundFile plain = glps::FingerprintReadOnly(*directory, "doc.html", c.maxBytes);
    ASSERT_EQ(found.state, glps::FoundFile::State::kRegular);
    EXPECT_EQ(found.size, size);
    EXPECT_EQ(found.hashed, plain.hashed);
    EXPECT_EQ(found.hash, plain.hash);
    EXPECT_EQ(found.hash, Fingerprint(content.substr(0, static_cast<std::size_t>(found.hashed))));
    EXPECT_EQ(found.contentsKept, c.kept);
    EXPECT_EQ(bytes, c.kept ? content : std::string());
  }
  const glps::FoundFile missing =
      glps::FingerprintReadOnly(*directory, "gone.html", 10, nullptr, nullptr, nullptr, &bytes);
  EXPECT_EQ(missing.state, glps::FoundFile::State::kMissing);
  EXPECT_FALSE(missing.contentsKept);
  EXPECT_TRUE(bytes.empty());
}

}  // namespace
