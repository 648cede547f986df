// SPDX-License-Identifier: Apache-2.0
// Opening a log reads each document once: the current document takes over the digest that the
// verification made of it, and verification is no weaker for it.
#include <boost/make_shared.hpp>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "crypto/md5_hash.h"
#include "filemanager/file_manager.h"
#include "files/glps_file_hashed.h"
#include "files/glps_file_html.h"
#include "gtest/gtest.h"
#include "platform/platform.h"
#include "platform/platform_syscalls.h"
#include "support/records.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"

namespace {

using glps_test::OpensslMd5Base64;
using glps_test::ReadFileBytes;
using glps_test::SysCallsGuard;
using glps_test::TempDir;
using glps_test::WriteFileBytes;
using Records = std::vector<KECGlpsFileManagerData>;

std::uint64_t g_bytesRead = 0;
ssize_t CountingRead(int fd, void* buffer, size_t count) {
  const ssize_t n = ::read(fd, buffer, count);
  if (n > 0) g_bytesRead += static_cast<std::uint64_t>(n);
  return n;
}

std::string Content(std::size_t size, char seed) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(seed + i % 23);
  return text;
}

// A log directory with two documents, 100 000 and 70 000 bytes, recorded as they are; no sidecars.
class DocumentOpeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    records_ = boost::make_shared<Records>();
    for (const auto& doc : {std::make_pair("one.html", Content(100000, 'a')),
                            std::make_pair("two.html", Content(70000, 'k'))}) {
      WriteFileBytes(dir_ / doc.first, doc.second);
      records_->push_back(glps_test::MakeRecord(Glps::FileLog, doc.first,
                                                OpensslMd5Base64(dir_ / doc.first),
                                                static_cast<std::int64_t>(doc.second.size())));
    }
  }

  // Opens "two.html" as the log session does after the verification, appends to it and refreshes
  // its record.
  void AppendToCurrent(KECGlpsFileManager& manager, const std::string& text) {
    KECGlpsFileManager::DocumentPtr document = manager.GetDocument("two.html");
    ASSERT_TRUE(document && document->IsOpen());
    ASSERT_TRUE(document->Write(text).first);
    ASSERT_TRUE(manager.UpdateFileInfo(*document));
  }

  bool TamperedOnReopening() { return KECGlpsFileManager(dir_.path(), records_).IsTampered(); }

  TempDir dir_;
  boost::shared_ptr<Records> records_;
};

TEST_F(DocumentOpeningTest, VerificationAndTheCurrentDocumentReadEachByteOnce) {
  SysCallsGuard guard;
  guard.calls().read = &CountingRead;
  g_bytesRead = 0;
  {
    KECGlpsFileManager manager(dir_.path(), records_);
    ASSERT_FALSE(manager.IsTampered());
    AppendToCurrent(manager, "<B>entry</B>");
    EXPECT_EQ(g_bytesRead, 170000u);
  }
  EXPECT_EQ(records_->back().m_nSize, 70012);
  EXPECT_EQ(records_->back().m_strHash, OpensslMd5Base64(dir_ / "two.html"));
  EXPECT_FALSE(TamperedOnReopening());
}

// What happens to the current document between the verification and its opening.
TEST_F(DocumentOpeningTest, ChangesBetweenVerificationAndOpeningAreNotTakenOver) {
  struct Case {
    const char* name;
    void (*change)(const std::string& path);
    bool tamperedOnReopening;
    std::int64_t sizeAfter;  // of the document, after the append of 3 bytes
  };
  const std::vector<Case> cases = {
      // The digest taken over vouches for what was verified, not for the new content: the change
      // shows at the next opening instead of being written into the record.
      {"a byte changed in place",
       [](const std::string& path) {
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(500);
         file.put('#');
       },
       true, 70003},
      {"bytes cut off",
       [](const std::string& path) {
         const std::string kept = ReadFileBytes(path).substr(0, 60000);
         WriteFileBytes(path, kept);
       },
       true, 70003},
      // Cut back to the recorded content, which the record still fits.
      {"bytes appended",
       [](const std::string& path) {
         std::ofstream(path, std::ios::app | std::ios::binary) << "appended";
       },
       false, 70003},
      {"nothing", [](const std::string&) {}, false, 70003},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    {
      KECGlpsFileManager manager(dir_.path(), records_);
      ASSERT_FALSE(manager.IsTampered());
      c.change(dir_ / "two.html");
      AppendToCurrent(manager, "abc");
    }
    EXPECT_EQ(static_cast<std::int64_t>(ReadFileBytes(dir_ / "two.html").size()), c.sizeAfter);
    EXPECT_EQ(records_->back().m_nSize, c.sizeAfter);
    EXPECT_EQ(TamperedOnReopening(), c.tamperedOnReopening);
  }
}

// The digest is handed over only to the document it was made of, once, and only while its record
// is the one verified; any other opening looks at the document again, read-only, and the document
// takes over that look's digest.
TEST_F(DocumentOpeningTest, TheVerifiedDigestGoesOnlyToItsOwnUnchangedRecord) {
  SysCallsGuard guard;
  guard.calls().read = &CountingRead;
  {
    KECGlpsFileManager manager(dir_.path(), records_);
    g_bytesRead = 0;
    ASSERT_TRUE(manager.GetDocument("one.html"));
    EXPECT_EQ(g_bytesRead, 0u);
  }
  {
    KECGlpsFileManager manager(dir_.path(), records_);
    // The record now vouches for less than was verified: the document is read to that size.
    glps::crypto::Md5Hash shorter;
    shorter.Update(Content(70000, 'k').data(), 69000);
    KECGlpsFileManagerData record = records_->back();
    record.m_strHash = shorter.FingerprintText();
    record.m_nSize = 69000;
    ASSERT_TRUE(manager.SetFileData(record));
    g_bytesRead = 0;
    ASSERT_TRUE(manager.GetDocument("two.html"));
    EXPECT_EQ(g_bytesRead, 69000u);
  }
  {
    // Re-basing works from what the verification read, and hands its digest over.
    KECGlpsFileManager manager(dir_.path(), records_);
    manager.AcceptCurrentFiles();
    g_bytesRead = 0;
    ASSERT_TRUE(manager.GetDocument("two.html"));
    EXPECT_EQ(g_bytesRead, 0u);
    EXPECT_EQ(manager.CloseAllDocuments(), 1u);
    // A second opening of the same document by this manager reads it (as cut to 69000 above).
    g_bytesRead = 0;
    ASSERT_TRUE(manager.GetDocument("two.html"));
    EXPECT_EQ(g_bytesRead, 69000u);
  }
  EXPECT_FALSE(TamperedOnReopening());
}

}  // namespace
