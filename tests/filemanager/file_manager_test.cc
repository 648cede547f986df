// SPDX-License-Identifier: Apache-2.0
#include "filemanager/file_manager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "files/glps_file_hashed.h"
#include "files/glps_file_html.h"
#include "gtest/gtest.h"
#include "platform/platform.h"
#include "platform/platform_syscalls.h"
#include "support/records.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

using glps_test::MakeRecord;
using glps_test::ModeOf;
using glps_test::Names;
using glps_test::OpensslMd5Base64;
using glps_test::ReadFileBytes;
using glps_test::SameRecord;
using glps_test::SnapshotOptions;
using glps_test::TempDir;
using glps_test::TreeSnapshot;
using glps_test::WriteFileBytes;

using Records = std::vector<KECGlpsFileManagerData>;

const char kMd5OfNothing[] = "1B2M2Y8AsgTpgAmY7PhCfg==";
const char kMd5OfAbc[] = "kAFQmDzST7DWlj99KOF/cg==";

// Every path under `root` (links not followed) with its kind and mode and, for regular files and
// links, content and target.
TreeSnapshot Snapshot(const std::string& root) {
  SnapshotOptions options;
  options.times = false;
  return TreeSnapshot(root, options);
}

// A log directory with files written directly and records made to match them.
class FileManagerTest : public ::testing::Test {
 protected:
  FileManagerTest() : records_(boost::make_shared<Records>()) {}

  std::string Path(const std::string& name) const { return dir_ / name; }

  // Writes the file and appends a record that matches it.
  void AddMatching(Glps::EFileType kind, const std::string& name, const std::string& content,
                   bool hashed = true) {
    WriteFileBytes(Path(name), content);
    records_->push_back(MakeRecord(kind, name, hashed ? OpensslMd5Base64(Path(name)) : "",
                                   hashed ? static_cast<std::int64_t>(content.size()) : 0, hashed));
  }

  std::unique_ptr<KECGlpsFileManager> Open() {
    return std::unique_ptr<KECGlpsFileManager>(new KECGlpsFileManager(dir_.path(), records_));
  }

  TempDir dir_;
  boost::shared_ptr<Records> records_;
};

TEST_F(FileManagerTest, EmptyLogIsIntactAndSharesItsRecords) {
  auto manager = Open();
  EXPECT_FALSE(manager->IsTampered());
  EXPECT_EQ(manager->GetFileData(), records_);
  ASSERT_TRUE(manager->AddFile("doc1.html", Glps::FileLog, true));
  EXPECT_EQ(records_->size(), 1u);

  KECGlpsFileManager withoutRecords(dir_.path(), boost::shared_ptr<Records>());
  EXPECT_FALSE(withoutRecords.IsTampered());
  ASSERT_TRUE(withoutRecords.GetFileData());
  EXPECT_TRUE(withoutRecords.GetFileData()->empty());
}

TEST_F(FileManagerTest, AddFileRegistersAfreshInPlace) {
  AddMatching(Glps::FileLog, "doc1.html", "first");
  AddMatching(Glps::FileLink, "data.bin", "old content");
  AddMatching(Glps::FileIndexMain, "GLP-Main.html", "main", false);
  (*records_)[2].m_strHash = kMd5OfAbc;
  (*records_)[2].m_nSize = 3;
  AddMatching(Glps::FileLog, "doc2.html", "second");
  auto manager = Open();
  WriteFileBytes(Path("data.bin"), "abc");

  ASSERT_TRUE(manager->AddFile("data.bin", Glps::FileLink, true));
  ASSERT_TRUE(manager->AddFile("GLP-Main.html", Glps::FileIndexMain, false));

  EXPECT_EQ(Names(*records_),
            (std::vector<std::string>{"doc1.html", "data.bin", "GLP-Main.html", "doc2.html"}));
  EXPECT_TRUE(SameRecord((*records_)[1], MakeRecord(Glps::FileLink, "data.bin", kMd5OfAbc, 3)));
  EXPECT_TRUE(
      SameRecord((*records_)[2], MakeRecord(Glps::FileIndexMain, "GLP-Main.html", "", 0, false)));

  // Another kind or protection under a registered name would break the rules of the record set:
  // refused, the records and the files as they were.
  const Records before = *records_;
  EXPECT_FALSE(manager->AddFile("data.bin", Glps::FileLink, false));
  EXPECT_FALSE(manager->AddFile("doc1.html", Glps::FileLink, true));
  EXPECT_FALSE(manager->SetFileData(MakeRecord(Glps::FileMetaData, "data.bin", kMd5OfAbc, 3)));
  EXPECT_FALSE(manager->AddFile("doc3.xml", Glps::FileMetaData, true));
  EXPECT_FALSE(fs::exists(Path("doc3.xml")));
  ASSERT_EQ(records_->size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_TRUE(SameRecord((*records_)[i], before[i]));
}

TEST_F(FileManagerTest, AddFileCreatesAMissingHashedFileEmpty) {
  auto manager = Open();
  ASSERT_TRUE(manager->AddFile("new.bin", Glps::FileLink, true));
  EXPECT_TRUE(fs::is_regular_file(Path("new.bin")));
  EXPECT_TRUE(
      SameRecord(records_->front(), MakeRecord(Glps::FileLink, "new.bin", kMd5OfNothing, 0)));
  // Unhashed registration touches no file.
  ASSERT_TRUE(manager->AddFile("GLP-Main.html", Glps::FileIndexMain, false));
  EXPECT_FALSE(fs::exists(Path("GLP-Main.html")));
}

// No record ever holds the fingerprint of nothing: a file that cannot be fingerprinted leaves the
// records as they were. A file the host can only read is fingerprinted all the same.
TEST_F(FileManagerTest, AddFileOfAFileThatCannotBeFingerprintedLeavesTheRecordsAsTheyWere) {
  TempDir outside;
  AddMatching(Glps::FileLink, "kept.bin", "abc");
  auto manager = Open();
  fs::create_directory(Path("dir.bin"));
  fs::create_symlink(Path("kept.bin"), Path("link.bin"));
  WriteFileBytes(outside / "theirs", "theirs");
  fs::create_hard_link(outside / "theirs", Path("shared.bin"));
  const Records before = *records_;

  for (const std::string name : {"dir.bin", "link.bin", "shared.bin"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(manager->AddFile(name, Glps::FileLink, true));
    ASSERT_EQ(records_->size(), before.size());
  }
  WriteFileBytes(Path("kept.bin"), "changed");
  fs::remove(Path("kept.bin"));
  fs::create_directory(Path("kept.bin"));
  EXPECT_FALSE(manager->AddFile("kept.bin", Glps::FileLink, true));
  ASSERT_EQ(records_->size(), 1u);
  EXPECT_TRUE(SameRecord(records_->front(), before.front()));

  WriteFileBytes(Path("readonly.bin"), "abc");
  ASSERT_EQ(chmod(Path("readonly.bin").c_str(), 0444), 0);
  EXPECT_TRUE(manager->AddFile("readonly.bin", Glps::FileLink, true));
  EXPECT_TRUE(
      SameRecord(records_->back(), MakeRecord(Glps::FileLink, "readonly.bin", kMd5OfAbc, 3)));
  EXPECT_EQ(ModeOf(Path("readonly.bin")), 0444u);
}

TEST_F(FileManagerTest, UpdateFileInfoNeedsARecordAndAnOpenFile) {
  AddMatching(Glps::FileLink, "a.bin", "abc");
  auto manager = Open();
  const KECGlpsFileManagerData before = records_->front();
  {
    KECGlpsFileHashed unknown(Path("other.bin"));
    EXPECT_FALSE(manager->UpdateFileInfo(unknown));
  }
  {
    ASSERT_EQ(chmod(Path("a.bin").c_str(), 0444), 0);
    KECGlpsFileHashed notOpen(Path("a.bin"));
    ASSERT_FALSE(notOpen.IsOpen());
    EXPECT_FALSE(manager->UpdateFileInfo(notOpen));
    EXPECT_TRUE(SameRecord(records_->front(), before));
    ASSERT_EQ(chmod(Path("a.bin").c_str(), 0644), 0);

    KECGlpsFileHashed holder(Path("a.bin"));
    ASSERT_TRUE(holder.Write("def").first);
    EXPECT_TRUE(manager->UpdateFileInfo(holder));
  }
  EXPECT_EQ(records_->front().m_nSize, 6);
  EXPECT_EQ(records_->front().m_strHash, OpensslMd5Base64(Path("a.bin")));
  EXPECT_EQ(records_->size(), 1u);
}

TEST_F(FileManagerTest, ChangedProtectedFilesAreTampered) {
  struct Case {
    const char* name;
    void (*change)(const std::string& path, const std::string& outside);
    bool tampered;
  };
  const std::vector<Case> cases = {
      {"untouched", [](const std::string&, const std::string&) {}, false},
      {"byte changed", [](const std::string& p, const std::string&) { WriteFileBytes(p, "aXc"); },
       true},
      {"grown", [](const std::string& p, const std::string&) { WriteFileBytes(p, "abcd"); }, true},
      {"shrunk", [](const std::string& p, const std::string&) { WriteFileBytes(p, "ab"); }, true},
      {"deleted", [](const std::string& p, const std::string&) { fs::remove(p); }, true},
      // A link to a file with the very content recorded still does not pass.
      {"symbolic link",
       [](const std::string& p, const std::string& outside) {
         fs::remove(p);
         fs::create_symlink(outside, p);
       },
       true},
      {"directory",
       [](const std::string& p, const std::string&) {
         fs::remove(p);
         fs::create_directory(p);
       },
       true},
      {"FIFO",
       [](const std::string& p, const std::string&) {
         fs::remove(p);
         ASSERT_EQ(mkfifo(p.c_str(), 0644), 0);
       },
       true},
      // The same bytes under a second name: shared with a place outside the log's control.
      {"hard link",
       [](const std::string& p, const std::string& outside) {
         fs::create_hard_link(p, outside + "-second-name");
       },
       true},
      {"read-only, unchanged",
       [](const std::string& p, const std::string&) { ASSERT_EQ(chmod(p.c_str(), 0444), 0); },
       false},
  };
  for (Glps::EFileType kind : {Glps::FileLog, Glps::FileMetaData, Glps::FileLink}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " kind " + std::to_string(kind));
      TempDir outer;
      fs::create_directory(outer / "log");
      WriteFileBytes(outer / "outside", "abc");
      auto records = boost::make_shared<Records>();
      // Names as the kind has them; sidecars beside their (empty) documents.
      const std::string extension = kind == Glps::FileLog        ? ".html"
                                    : kind == Glps::FileMetaData ? ".xml"
                                                                 : "";
      for (const char* base : {"before", "file", "after"}) {
        if (kind != Glps::FileMetaData) continue;
        WriteFileBytes(outer / "log/" + base + ".html", "");
        records->push_back(
            MakeRecord(Glps::FileLog, std::string(base) + ".html", kMd5OfNothing, 0));
      }
      WriteFileBytes(outer / "log/before" + extension, "1");
      WriteFileBytes(outer / "log/file" + extension, "abc");
      WriteFileBytes(outer / "log/after" + extension, "2");
      records->push_back(MakeRecord(kind, "before" + extension,
                                    OpensslMd5Base64(outer / "log/before" + extension), 1));
      records->push_back(MakeRecord(kind, "file" + extension, kMd5OfAbc, 3));
      records->push_back(MakeRecord(kind, "after" + extension,
                                    OpensslMd5Base64(outer / "log/after" + extension), 1));
      c.change(outer / "log/file" + extension, outer / "outside");

      KECGlpsFileManager manager(outer / "log", records);
      EXPECT_EQ(manager.IsTampered(), c.tampered);
      EXPECT_EQ(manager.VerifyFiles(), !c.tampered);
      EXPECT_EQ(ReadFileBytes(outer / "outside"), "abc");
    }
  }
}

TEST_F(FileManagerTest, DeletedFileWithRecordedSizeZeroDoesNotMatchUntilReBased) {
  records_->push_back(MakeRecord(Glps::FileLog, "doc1.html", kMd5OfNothing, 0));
  auto manager = Open();
  EXPECT_TRUE(manager->IsTampered());
  EXPECT_FALSE(fs::exists(Path("doc1.html"))) << "verification creates nothing";
  manager->AcceptCurrentFiles();
  EXPECT_FALSE(manager->IsTampered());
  EXPECT_TRUE(fs::is_regular_file(Path("doc1.html")));
}

TEST_F(FileManagerTest, EmptyRecordedHashChecksTheSizeOnly) {
  WriteFileBytes(Path("a.bin"), "12345");
  records_->push_back(MakeRecord(Glps::FileLink, "a.bin", "", 5));
  EXPECT_FALSE(Open()->IsTampered());
  WriteFileBytes(Path("a.bin"), "123456");
  EXPECT_TRUE(Open()->IsTampered());
}

TEST_F(FileManagerTest, UnprotectedRecordsNeverMatter) {
  AddMatching(Glps::FileIndexMain, "GLP-Main.html", "main", false);
  AddMatching(Glps::FileIndexMenu, "GLP-Menu.html", "menu", false);
  AddMatching(Glps::FileLog, "doc1.html", "entries");
  // A stale fingerprint on an unprotected record is not looked at either.
  (*records_)[0].m_strHash = kMd5OfAbc;
  (*records_)[0].m_nSize = 3;
  EXPECT_FALSE(Open()->IsTampered());

  WriteFileBytes(Path("GLP-Main.html"), "changed");
  fs::remove(Path("GLP-Menu.html"));
  fs::create_symlink("/etc/passwd", Path("GLP-Menu.html"));
  auto manager = Open();
  EXPECT_FALSE(manager->IsTampered());
  manager->AcceptCurrentFiles();
  EXPECT_EQ((*records_)[0].m_strHash, kMd5OfAbc);
  EXPECT_EQ((*records_)[1].m_strHash, "");
}

// Locks that other processes hold on a file play no part: it is read and judged like any other.
TEST_F(FileManagerTest, AFileOthersHoldOrLockIsVerifiedLikeAnyOther) {
  for (bool changed : {false, true}) {
    SCOPED_TRACE(changed ? "changed" : "unchanged");
    records_->clear();
    AddMatching(Glps::FileLink, "a.bin", "abc");
    AddMatching(Glps::FileLog, "b.html", "");
    AddMatching(Glps::FileMetaData, "b.xml", "<b/>");
    KECGlpsFileHashed holder(Path("a.bin"));
    ASSERT_TRUE(holder.IsOpen());
    const int reader = open(Path("b.xml").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(flock(reader, LOCK_SH), 0);
    if (changed) WriteFileBytes(Path("b.xml"), "<x/>");
    EXPECT_EQ(Open()->IsTampered(), changed);
    close(reader);
  }
}

int OpenDeniedForABin(int dirfd, const char* path, int flags, mode_t mode) {
  if (std::string(path) == "a.bin") {
    errno = EACCES;
    return -1;
  }
  return ::openat(dirfd, path, flags, mode);
}

TEST_F(FileManagerTest, AFileThatCannotBeReadDoesNotMatch) {
  AddMatching(Glps::FileLink, "a.bin", "abc");
  glps::platform::CurrentSysCalls().openat = &OpenDeniedForABin;
  const bool tampered = Open()->IsTampered();
  glps::platform::RestoreSysCalls();
  EXPECT_TRUE(tampered);
  EXPECT_FALSE(Open()->IsTampered());
}

// After AcceptCurrentFiles the records describe the files as found and the log is intact, except
// where a file cannot be taken as it is.
TEST_F(FileManagerTest, AcceptCurrentFilesRebasesOnTheFilesAsFound) {
  struct Case {
    const char* name;
    Glps::EFileType kind;
    void (*change)(const std::string& path);
    std::string content;  // of the file afterwards
    std::int64_t size;    // recorded afterwards
    bool tampered;        // afterwards
  };
  const std::vector<Case> cases = {
      {"document grown", Glps::FileLog, [](const std::string& p) { WriteFileBytes(p, "abcdef"); },
       "abc", 3, false},
      {"document byte changed", Glps::FileLog,
       [](const std::string& p) { WriteFileBytes(p, "aXc"); }, "aXc", 3, false},
      // The document keeps what is left of it, nothing added, and the record vouches for that.
      {"document shrunk", Glps::FileLog, [](const std::string& p) { WriteFileBytes(p, "a"); }, "a",
       1, false},
      {"document deleted", Glps::FileLog, [](const std::string& p) { fs::remove(p); }, "", 0,
       false},
      {"sidecar changed", Glps::FileMetaData,
       [](const std::string& p) { WriteFileBytes(p, "<changed/>"); }, "<changed/>", 10, false},
      {"linked file changed", Glps::FileLink,
       [](const std::string& p) { WriteFileBytes(p, "abcde"); }, "abcde", 5, false},
      {"linked file deleted", Glps::FileLink, [](const std::string& p) { fs::remove(p); }, "", 0,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The file's name as its kind has it: a sidecar is the first document's.
    const std::string name = c.kind == Glps::FileLog        ? "file.html"
                             : c.kind == Glps::FileMetaData ? "other.xml"
                                                            : "file";
    records_->clear();
    AddMatching(Glps::FileLog, "other.html", "other");
    AddMatching(c.kind, name, "abc");
    AddMatching(Glps::FileIndexMain, "GLP-Main.html", "main", false);
    c.change(Path(name));

    auto manager = Open();
    ASSERT_TRUE(manager->IsTampered());
    const Records before = *records_;
    manager->AcceptCurrentFiles();

    EXPECT_EQ(manager->IsTampered(), c.tampered);
    EXPECT_EQ(ReadFileBytes(Path(name)), c.content);
    EXPECT_TRUE(
        SameRecord((*records_)[1], MakeRecord(c.kind, name, OpensslMd5Base64(Path(name)), c.size)));
    EXPECT_TRUE(SameRecord((*records_)[0], before[0]));
    EXPECT_TRUE(SameRecord((*records_)[2], before[2]));
    EXPECT_FALSE(Open()->IsTampered());
  }
}

TEST_F(FileManagerTest, AcceptCurrentFilesTakesADocumentWithANegativeRecordedSizeWhole) {
  WriteFileBytes(Path("doc1.html"), "abc");
  records_->push_back(MakeRecord(Glps::FileLog, "doc1.html", kMd5OfAbc, -1));
  auto manager = Open();
  ASSERT_TRUE(manager->IsTampered());
  manager->AcceptCurrentFiles();
  EXPECT_FALSE(manager->IsTampered());
  EXPECT_TRUE(SameRecord(records_->front(), MakeRecord(Glps::FileLog, "doc1.html", kMd5OfAbc, 3)));
  EXPECT_EQ(ReadFileBytes(Path("doc1.html")), "abc");
}

// Files that must not be written or cannot be taken as they are stay tampered, unchanged: a
// document with a second name or without write permission is not cut, a shared linked file is not
// taken, a link or a directory is not followed.
TEST_F(FileManagerTest, AcceptCurrentFilesLeavesFilesItCannotTakeTampered) {
  TempDir outside;
  WriteFileBytes(outside / "target", "abcdef");
  AddMatching(Glps::FileLink, "shared.bin", "abc");
  AddMatching(Glps::FileLog, "shared.html", "abc");
  AddMatching(Glps::FileLog, "readonly.html", "abc");
  records_->push_back(MakeRecord(Glps::FileLog, "link.html", kMd5OfAbc, 3));
  fs::create_symlink(outside / "target", Path("link.html"));
  records_->push_back(MakeRecord(Glps::FileMetaData, "link.xml", kMd5OfAbc, 3));
  fs::create_directory(Path("link.xml"));
  WriteFileBytes(Path("shared.bin"), "abcdef");
  fs::remove(Path("shared.html"));
  fs::create_hard_link(outside / "target", Path("shared.html"));
  WriteFileBytes(Path("readonly.html"), "abcdef");
  ASSERT_EQ(chmod(Path("readonly.html").c_str(), 0444), 0);
  fs::create_hard_link(Path("shared.bin"), outside / "second-name");
  const Records before = *records_;

  auto manager = Open();
  ASSERT_TRUE(manager->IsTampered());
  manager->AcceptCurrentFiles();
  EXPECT_TRUE(manager->IsTampered());
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_TRUE(SameRecord((*records_)[i], before[i])) << i;
  EXPECT_EQ(ReadFileBytes(outside / "target"), "abcdef");
  EXPECT_EQ(ReadFileBytes(Path("readonly.html")), "abcdef");
  EXPECT_TRUE(fs::is_symlink(Path("link.html")));
}

TEST_F(FileManagerTest, QueriesCountInRecordOrder) {
  auto manager = Open();
  KECGlpsFileManagerData untouched = MakeRecord(Glps::FileLink, "sentinel", "h", 42, false);
  KECGlpsFileManagerData out = untouched;
  EXPECT_FALSE(manager->GetLastFile(Glps::FileLog, out));
  EXPECT_TRUE(SameRecord(out, untouched));
  EXPECT_TRUE(SameRecord(manager->GetFile(Glps::FileLog, 0), KECGlpsFileManagerData()));
  EXPECT_EQ(KECGlpsFileManagerData().m_eType, Glps::FileNone);
  EXPECT_TRUE(KECGlpsFileManagerData().m_bHashed);

  ASSERT_TRUE(manager->AddFile("doc1.html", Glps::FileLog, true));
  ASSERT_TRUE(manager->AddFile("doc1.xml", Glps::FileMetaData, true));
  ASSERT_TRUE(manager->AddFile("doc2.html", Glps::FileLog, true));
  ASSERT_TRUE(manager->AddFile("link.bin", Glps::FileLink, true));
  ASSERT_TRUE(manager->AddFile("doc3.html", Glps::FileLog, true));
  // Registering document 1 again keeps its position.
  ASSERT_TRUE(manager->AddFile("doc1.html", Glps::FileLog, true));
  ASSERT_TRUE(manager->SetFileData(MakeRecord(Glps::FileLog, "doc2.html", "x", 9)));

  EXPECT_EQ(manager->GetFileCount(Glps::FileLog), 3u);
  EXPECT_EQ(manager->GetFileCount(Glps::FileLink), 1u);
  EXPECT_EQ(manager->GetFileCount(Glps::FileIndexMain), 0u);
  EXPECT_EQ(manager->GetFile(Glps::FileLog, 1).m_strFileName, "doc2.html");
  EXPECT_EQ(manager->GetFile(Glps::FileLog, 1).m_nSize, 9);
  EXPECT_TRUE(SameRecord(manager->GetFile(Glps::FileLog, 3), KECGlpsFileManagerData()));
  ASSERT_TRUE(manager->GetLastFile(Glps::FileLog, out));
  EXPECT_TRUE(SameRecord(out, MakeRecord(Glps::FileLog, "doc3.html", kMd5OfNothing, 0)));

  std::vector<std::string> visited;
  manager->ForEachFile(Glps::FileLog,
                       [&visited](const std::string& name) { visited.push_back(name); });
  EXPECT_EQ(visited, (std::vector<std::string>{"doc1.html", "doc2.html", "doc3.html"}));
  EXPECT_EQ(records_->size(), 5u);
}

TEST_F(FileManagerTest, DocumentsAreOpenedOnceAndCached) {
  auto manager = Open();
  ASSERT_TRUE(manager->AddFile("doc1.html", Glps::FileLog, true));
  ASSERT_TRUE(manager->AddFile("doc2.html", Glps::FileLog, true));

  EXPECT_FALSE(manager->FindOpenDocument("doc1.html"));
  auto first = manager->GetDocument("doc1.html");
  ASSERT_TRUE(first && first->IsOpen());
  EXPECT_EQ(manager->GetDocument("doc1.html"), first);
  EXPECT_EQ(manager->FindOpenDocument("doc1.html"), first);
  EXPECT_FALSE(manager->GetDocument("unknown.html"));
  EXPECT_FALSE(fs::exists(Path("unknown.html")));
  auto second = manager->GetDocument("doc2.html");
  ASSERT_TRUE(second && second != first);

  EXPECT_EQ(manager->CloseAllDocuments(), 2u);
  EXPECT_FALSE(manager->FindOpenDocument("doc1.html"));
  EXPECT_EQ(manager->CloseAllDocuments(), 0u);
}

// Entities are read from the sidecars as recorded, one at a time, without opening a document; a
// sidecar that no longer matches its record, or is gone, gives no answer rather than a short one.
TEST_F(FileManagerTest, EntitiesAreReadFromTheSidecarsAsRecorded) {
  const auto entity = [](std::int32_t handle) {
    return KECGlpsFileHtmlMetaDataEntity(
        KECGlpsLogMetaDataEntity(static_cast<Glps::ELogEntity>(1), handle,
                                 KCGenGUID("{11111111-2222-3333-4444-555555555555}")));
  };
  auto manager = Open();
  ASSERT_TRUE(manager->AddFile("doc1.html", Glps::FileLog, true));
  ASSERT_TRUE(manager->AddFile("doc2.html", Glps::FileLog, true));
  {
    auto doc = manager->GetDocument("doc1.html");
    doc->AddEntity(entity(7));
    ASSERT_TRUE(doc->Flush());
  }
  manager->CloseAllDocuments();

  KECGlpsFileHtmlMetaData meta;
  ASSERT_TRUE(manager->ReadEntities("doc1.html", &meta));
  ASSERT_EQ(meta.m_vEntity.size(), 1u);
  EXPECT_EQ(meta.m_vEntity[0].m_nHandle, 7);
  EXPECT_FALSE(manager->FindOpenDocument("doc1.html"));
  // Never saved: no sidecar record, no entities.
  ASSERT_TRUE(manager->ReadEntities("doc2.html", &meta));
  EXPECT_TRUE(meta.m_vEntity.empty());
  // An open document answers from what it holds, unsaved entities included.
  auto open = manager->GetDocument("doc2.html");
  open->AddEntity(entity(8));
  ASSERT_TRUE(manager->ReadEntities("doc2.html", &meta));
  EXPECT_EQ(meta.m_vEntity.size(), 1u);
  EXPECT_FALSE(manager->ReadEntities("doc3.html", &meta));
  EXPECT_FALSE(manager->ReadEntities("doc1.xml", &meta));

  WriteFileBytes(Path("doc1.xml"), ReadFileBytes(Path("doc1.xml")) + " ");
  EXPECT_FALSE(manager->ReadEntities("doc1.html", &meta));
  EXPECT_TRUE(meta.m_vEntity.empty());
  fs::remove(Path("doc1.xml"));
  EXPECT_FALSE(manager->ReadEntities("doc1.html", &meta));
}

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// The cache keeps a few documents open that nobody else holds, closing the oldest first; one that
// another holds stays.
TEST_F(FileManagerTest, TheCacheKeepsAFewDocumentsOpen) {
  auto manager = Open();
  for (int i = 1; i <= 10; ++i) {
    ASSERT_TRUE(manager->AddFile("doc" + std::to_string(i) + ".html", Glps::FileLog, true));
  }
  const std::size_t before = OpenDescriptors();
  const auto held = manager->GetDocument("doc1.html");
  for (int i = 2; i <= 10; ++i) {
    ASSERT_TRUE(manager->GetDocument("doc" + std::to_string(i) + ".html")->IsOpen());
  }
  EXPECT_EQ(OpenDescriptors(), before + 1 + KECGlpsFileManager::kMaxOpenDocuments);
  EXPECT_EQ(manager->FindOpenDocument("doc1.html"), held);
  EXPECT_FALSE(manager->FindOpenDocument("doc2.html"));
  EXPECT_TRUE(manager->FindOpenDocument("doc10.html"));
  EXPECT_EQ(manager->CloseAllDocuments(), 1 + KECGlpsFileManager::kMaxOpenDocuments);
}

TEST_F(FileManagerTest, DeleteAllFilesGoesOnPastAFileThatCannotBeDeleted) {
  // Linked files as log.xml may name them: a directory, a file that is gone; and a record that
  // breaks the rules of the set, whose file is not the log's to delete.
  fs::create_directory(Path("folder"));
  WriteFileBytes(Path("folder/inside"), "x");
  records_->push_back(MakeRecord(Glps::FileLink, "folder", kMd5OfAbc, 3));
  records_->push_back(MakeRecord(Glps::FileLink, "gone.bin", kMd5OfAbc, 3));
  WriteFileBytes(Path("kept.bin"), "not the log's");
  records_->push_back(MakeRecord(static_cast<Glps::EFileType>(99), "kept.bin", "", 0));
  auto manager = Open();
  ASSERT_TRUE(manager->AddFile("doc1.html", Glps::FileLog, true));
  auto doc = manager->GetDocument("doc1.html");
  ASSERT_TRUE(doc->Flush());
  doc.reset();
  ASSERT_TRUE(manager->AddFile("GLP-Main.html", Glps::FileIndexMain, false));
  WriteFileBytes(Path("GLP-Main.html"), "main");
  ASSERT_TRUE(manager->AddFile("link.bin", Glps::FileLink, true));
  ASSERT_EQ(records_->size(), 7u);

  EXPECT_FALSE(manager->DeleteAllFiles());

  EXPECT_TRUE(records_->empty());
  EXPECT_FALSE(manager->FindOpenDocument("doc1.html"));
  for (const char* name : {"doc1.html", "doc1.xml", "GLP-Main.html", "link.bin"}) {
    EXPECT_FALSE(fs::exists(Path(name))) << name;
  }
  EXPECT_EQ(ReadFileBytes(Path("folder/inside")), "x");
  EXPECT_EQ(ReadFileBytes(Path("kept.bin")), "not the log's");

  ASSERT_TRUE(manager->AddFile("doc1.html", Glps::FileLog, true));
  EXPECT_TRUE(manager->DeleteAllFiles());
  EXPECT_FALSE(fs::exists(Path("doc1.html")));
}

// Record names come from log.xml: whatever they say, nothing inside or outside the log directory
// is opened, created, cut or deleted on their account. Such a record breaks the rules of the set:
// it is never verified, re-based, deleted or handed out, and no name it holds can be registered.
TEST_F(FileManagerTest, HostileRecordNamesTouchNothingAndNeverPass) {
  const std::string sentinel = dir_ / "x";
  const std::vector<std::string> names = {
      "../x", sentinel, "sub/x", "", ".", "..", std::string("x\0y", 3), "..\\x", "sub/"};
  for (const std::string& name : names) {
    for (bool hashed : {true, false}) {
      SCOPED_TRACE("name '" + name + "' hashed " + std::to_string(hashed));
      WriteFileBytes(sentinel, "abc");
      fs::remove_all(dir_ / "log");
      fs::create_directory(dir_ / "log");
      fs::create_directory(dir_ / "log/sub");
      WriteFileBytes(dir_ / "log/sub/x", "abc");
      auto records = boost::make_shared<Records>();
      records->push_back(MakeRecord(Glps::FileLog, name, kMd5OfAbc, 1, hashed));
      const auto before = Snapshot(dir_.path());

      KECGlpsFileManager manager(dir_ / "log", records);
      EXPECT_FALSE(manager.IsRecordSetSound());
      EXPECT_FALSE(manager.IsTampered());
      manager.AcceptCurrentFiles();
      EXPECT_TRUE(
          SameRecord(records->front(), MakeRecord(Glps::FileLog, name, kMd5OfAbc, 1, hashed)));
      EXPECT_EQ(manager.GetFilePath(name), "");
      EXPECT_EQ(manager.GetFileCount(Glps::FileLog), 0u);
      EXPECT_FALSE(manager.GetDocument(name));
      EXPECT_FALSE(manager.AddFile(name, Glps::FileLink, true));
      EXPECT_FALSE(manager.AddFile(name, Glps::FileLink, false));
      EXPECT_EQ(records->size(), 1u);
      EXPECT_EQ(Snapshot(dir_.path()), before);

      EXPECT_TRUE(manager.DeleteAllFiles());
      EXPECT_TRUE(records->empty());
      EXPECT_EQ(Snapshot(dir_.path()), before);
    }
  }
}

TEST_F(FileManagerTest, SymbolicLinkRecordIsTamperedAndNeverFollowed) {
  TempDir outside;
  WriteFileBytes(outside / "target.html", "abc");
  fs::create_symlink(outside / "target.html", Path("doc1.html"));
  records_->push_back(MakeRecord(Glps::FileLog, "doc1.html", kMd5OfAbc, 3));
  records_->push_back(MakeRecord(Glps::FileMetaData, "doc1.xml", kMd5OfAbc, 3));
  fs::create_symlink(outside / "target.html", Path("doc1.xml"));

  auto manager = Open();
  EXPECT_TRUE(manager->IsTampered());
  manager->AcceptCurrentFiles();
  EXPECT_TRUE(manager->IsTampered());
  auto doc = manager->GetDocument("doc1.html");
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->IsOpen());
  EXPECT_FALSE(doc->Write("more").first);
  EXPECT_FALSE(doc->Flush());
  EXPECT_FALSE(manager->AddFile("doc1.xml", Glps::FileMetaData, true));
  doc.reset();

  EXPECT_TRUE(manager->DeleteAllFiles());
  EXPECT_FALSE(fs::exists(fs::symlink_status(Path("doc1.html"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(Path("doc1.xml"))));
  EXPECT_EQ(ReadFileBytes(outside / "target.html"), "abc");
  EXPECT_EQ(Snapshot(outside.path()).size(), 1u);
}

}  // namespace
