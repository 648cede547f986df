// SPDX-License-Identifier: Apache-2.0
// The log session on its own: opening and verification, documents, saving and closing.
#include "session/log_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "filemanager/file_manager_data.h"
#include "files/glps_file_hashed.h"
#include "glps/host/gen.h"
#include "glps/host/services.h"
#include "platform/platform.h"
#include "platform/platform_syscalls.h"
#include "session/session_data_storage.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/temp_dir.h"

namespace {

using glps_test::ListDirectory;
using glps_test::ReadFileBytes;
using glps_test::WriteFileBytes;
using ::testing::ElementsAre;

const char kBase[] = "GLP-Log-Exp";

std::string DocumentName(unsigned number) {
  return KECBaseNameUtils::MakeDefaultName(kBase, number) + ".html";
}

// Writes a log.xml with one document record of the given size, the document holding exactly that
// many bytes; returns the info of the log.xml.
KECGlpsLogInfo WriteLogWithDocumentOfSize(const glps_test::TempDir& dir, std::int64_t size) {
  const std::string name = DocumentName(1);
  WriteFileBytes(dir / name, std::string(static_cast<std::size_t>(size), 'x'));
  std::string hash;
  {
    KECGlpsFileHashed file(dir / name);
    hash = file.GetHash();
  }
  KECGlpsLogSessionDataStorage storage(dir / "log.xml");
  storage.GetFileData()->push_back(glps_test::MakeRecord(Glps::FileLog, name, hash, size));
  EXPECT_TRUE(storage.Save());
  return storage.GetLogInfo();
}

TEST(LogSession, FirstOpeningOfAnEmptyDirectory) {
  for (bool appLog : {true, false}) {
    SCOPED_TRACE(appLog ? "application log" : "experiment log");
    glps_test::TempDir dir;
    const KCGenTime before(true);
    {
      std::unique_ptr<KECGlpsLogSession> session(
          appLog ? new KECGlpsLogSession(dir.path(), kBase, KECGlpsLogInfo())
                 : new KECGlpsLogSession(dir.path(), kBase, "ignored", KECGlpsLogInfo()));
      EXPECT_TRUE(session->IsValid());
      EXPECT_FALSE(session->IsTampered());
      EXPECT_EQ(session->GetLogFileName(), dir / DocumentName(1));
      EXPECT_EQ(ReadFileBytes(dir / DocumentName(1)), "<I>(" + DocumentName(1) + ")<BR><BR></I>");
      // Besides the document, only the log's lock file.
      EXPECT_THAT(ListDirectory(dir.path()), ElementsAre(DocumentName(1), "log.lock"));
      EXPECT_EQ(session->GetNextIndex(), 1);
      EXPECT_EQ(session->GetNextIndex(), 2);
      EXPECT_TRUE(session->Save());
      EXPECT_EQ(session->GetLogInfo().m_strLogHash,
                KCGenCryptUtils::Instance()->GetFileHash(dir / "log.xml"));
      EXPECT_EQ(session->GetLogInfo().m_nLogSize, KCGenFileUtils::FileGetSize(dir / "log.xml"));
    }
    KECGlpsLogSessionDataStorage storage(dir / "log.xml");
    ASSERT_TRUE(storage.Load());
    const KECGlpsLogHeader& header = *storage.GetHeader();
    EXPECT_EQ(header.m_eContentType, appLog ? 533 : 534);
    EXPECT_EQ(header.m_usContentVersion, 410);
    EXPECT_EQ(header.m_guid, KCGenGUID("{D15149F8-F127-4781-B1F6-3C762D712E15}"));
    EXPECT_GE(header.m_tmCreation.GetMicroseconds(), before.GetMicroseconds());
    EXPECT_TRUE(header.m_tmModification.IsNull());
    EXPECT_EQ(storage.GetCatalog()->m_lNextIndex, 2);
    ASSERT_EQ(storage.GetFileData()->size(), 2u);  // the document and its sidecar
    EXPECT_EQ((*storage.GetFileData())[0].m_eType, Glps::FileLog);
    EXPECT_TRUE((*storage.GetFileData())[0].m_bHashed);
    EXPECT_EQ((*storage.GetFileData())[1].m_eType, Glps::FileMetaData);
  }
}

TEST(LogSession, InfoAndLogXmlDisagree) {
  {  // the host has an info, but log.xml is gone: tampered, header not stamped
    glps_test::TempDir dir;
    KECGlpsLogInfo info;
    info.m_strLogHash = "something";
    info.m_nLogSize = 10;
    KECGlpsLogSession session(dir.path(), kBase, "", info);
    EXPECT_TRUE(session.IsTampered());
    EXPECT_TRUE(session.IsValid());
    session.Close();
    KECGlpsLogSessionDataStorage storage(dir / "log.xml");
    ASSERT_TRUE(storage.Load());
    EXPECT_EQ(storage.GetHeader()->m_eContentType, 0);
    EXPECT_TRUE(storage.GetHeader()->m_tmCreation.IsNull());
  }
  {  // log.xml exists, the host has no info: tampered, state loaded as it is
    glps_test::TempDir dir;
    KECGlpsLogInfo info;
    {
      KECGlpsLogSession session(dir.path(), kBase, "", KECGlpsLogInfo());
      for (int i = 0; i < 5; ++i) session.GetNextIndex();
      session.Close();
      info = session.GetLogInfo();
    }
    KECGlpsLogSession session(dir.path(), kBase, "", KECGlpsLogInfo());
    EXPECT_TRUE(session.IsTampered());
    EXPECT_EQ(session.GetNextIndex(), 6);
    KECGlpsLogSession again(dir.path() + "/", kBase, "", info);
    EXPECT_FALSE(again.IsValid()) << "the first session still holds the current document";
  }
}

TEST(LogSession, TheLastDocumentIsContinuedBelowOneMebibyte) {
  struct Case {
    std::int64_t size;
    bool newDocument;
  };
  for (const Case& c : {Case{1048575, false}, Case{1048576, true}}) {
    SCOPED_TRACE(c.size);
    glps_test::TempDir dir;
    const KECGlpsLogInfo info = WriteLogWithDocumentOfSize(dir, c.size);
    KECGlpsLogSession session(dir.path(), kBase, "", info);
    EXPECT_FALSE(session.IsTampered());
    EXPECT_TRUE(session.IsValid());
    ASSERT_TRUE(session.WriteText("<P>next</P>"));
    if (c.newDocument) {
      EXPECT_EQ(session.GetLogFileName(), dir / "GLP-Main.html");
      EXPECT_EQ(ReadFileBytes(dir / DocumentName(2)),
                "<I>(" + DocumentName(2) + ")<BR><BR></I><P>next</P>");
      EXPECT_NE(ReadFileBytes(dir / "GLP-Menu.html").find(DocumentName(1)), std::string::npos);
    } else {
      EXPECT_EQ(session.GetLogFileName(), dir / DocumentName(1));
      EXPECT_EQ(KCGenFileUtils::FileGetSize(dir / DocumentName(1)), c.size + 11);
      EXPECT_FALSE(KCGenFileUtils::FileExists(dir / "GLP-Main.html"));
    }
  }
}

TEST(LogSession, LogFileNameIsEmptyWhenTheFileIsGone) {
  glps_test::TempDir dir;
  KECGlpsLogSession session(dir.path(), kBase, "", KECGlpsLogInfo());
  ASSERT_FALSE(session.GetLogFileName().empty());
  unlink((dir / DocumentName(1)).c_str());
  EXPECT_EQ(session.GetLogFileName(), "");
}

TEST(LogSession, ALeftoverFileIsNeverEmptiedByANewDocument) {
  glps_test::TempDir dir;
  WriteFileBytes(dir / DocumentName(1), "evidence of an earlier log");
  KECGlpsLogSession session(dir.path(), kBase, "", KECGlpsLogInfo());
  EXPECT_TRUE(session.IsValid());
  EXPECT_EQ(ReadFileBytes(dir / DocumentName(1)), "evidence of an earlier log");
  EXPECT_EQ(session.GetLogFileName(), dir / DocumentName(2));
}

TEST(LogSession, CloseEndsTheSessionAndWritesNothingAfterwards) {
  glps_test::TempDir dir;
  KECGlpsLogSession session(dir.path(), kBase, "", KECGlpsLogInfo());
  ASSERT_TRUE(session.WriteText("x"));
  EXPECT_TRUE(session.Close());
  EXPECT_FALSE(session.IsValid());
  EXPECT_FALSE(session.IsTampered());
  const std::string saved = ReadFileBytes(dir / "log.xml");
  EXPECT_FALSE(session.Save()) << "no records left to save";
  EXPECT_FALSE(session.WriteText("y"));
  EXPECT_EQ(ReadFileBytes(dir / "log.xml"), saved);

  KECGlpsLogSession reopened(dir.path(), kBase, "", session.GetLogInfo());
  EXPECT_FALSE(reopened.IsTampered());
  EXPECT_EQ(ReadFileBytes(dir / DocumentName(1)), "<I>(" + DocumentName(1) + ")<BR><BR></I>x");
}

TEST(LogSession, ReadOnlyLogXmlOpensButIsNotValid) {
  glps_test::TempDir dir;
  KECGlpsLogInfo info;
  {
    KECGlpsLogSession session(dir.path(), kBase, "", KECGlpsLogInfo());
    session.Close();
    info = session.GetLogInfo();
  }
  chmod((dir / "log.xml").c_str(), 0444);
  KECGlpsLogSession session(dir.path(), kBase, "", info);
  EXPECT_FALSE(session.IsValid());
  EXPECT_FALSE(session.IsTampered());
  EXPECT_TRUE(session.WriteText("still written"));
  EXPECT_FALSE(session.Save());
  EXPECT_EQ(session.GetLogInfo(), info);
}

TEST(LogSession, SeveralDocumentsAreShownThroughTheMainPageOnlyWhileItExists) {
  glps_test::TempDir dir;
  const KECGlpsLogInfo info = WriteLogWithDocumentOfSize(dir, 1048576);
  KECGlpsLogSession session(dir.path(), kBase, "", info);
  ASSERT_EQ(session.GetLogFileName(), dir / "GLP-Main.html");
  unlink((dir / "GLP-Main.html").c_str());
  EXPECT_EQ(session.GetLogFileName(), "");
}

TEST(LogSession, ClearKeepsHeaderAndMetadataAndRestartsCatalogAndDocuments) {
  glps_test::TempDir dir;
  KECGlpsLogSession session(dir.path(), kBase, "", KECGlpsLogInfo());
  ASSERT_TRUE(session.SetMetaDataName("kept"));
  session.SetMerCodingSchemeInfo({false, 3});
  for (int i = 0; i < 5; ++i) session.GetNextIndex();
  ASSERT_TRUE(session.WriteText("<P>old</P>"));
  ASSERT_TRUE(session.Save());
  KECGlpsLogSessionDataStorage saved(dir / "log.xml");
  ASSERT_TRUE(saved.Load());

  ASSERT_TRUE(session.Clear());
  EXPECT_TRUE(session.IsValid());
  EXPECT_FALSE(session.IsTampered());
  EXPECT_EQ(session.GetMerCodingSchemeInfo(), std::make_pair(true, -1));
  EXPECT_EQ(session.GetMetaData().m_strExpName, "kept");
  EXPECT_EQ(session.GetLogFileName(), dir / DocumentName(1));
  EXPECT_EQ(ReadFileBytes(dir / DocumentName(1)), "<I>(" + DocumentName(1) + ")<BR><BR></I>");
  EXPECT_EQ(session.GetNextIndex(), 1);

  // log.xml as the clearing wrote it: the kept header and metadata, a fresh catalog, no records.
  KECGlpsLogSessionDataStorage cleared(dir / "log.xml");
  ASSERT_TRUE(cleared.Load());
  EXPECT_EQ(cleared.GetHeader()->m_tmCreation, saved.GetHeader()->m_tmCreation);
  EXPECT_EQ(cleared.GetHeader()->m_guid, saved.GetHeader()->m_guid);
  EXPECT_EQ(cleared.GetHeader()->m_eContentType, 534);
  EXPECT_EQ(cleared.GetMetaData()->m_strExpName, "kept");
  EXPECT_EQ(cleared.GetCatalog()->m_lNextIndex, 0);
  EXPECT_EQ(cleared.GetCatalog()->m_merCodingSchemeInfo, std::make_pair(true, -1));
  EXPECT_TRUE(cleared.GetFileData()->empty());
  EXPECT_EQ(session.GetLogInfo(), cleared.GetLogInfo());
}

}  // namespace

namespace {

int FailingRename(int, const char*, int, const char*) {
  errno = EIO;
  return -1;
}

TEST(LogSession, ClearThatCannotWriteLogXmlDeletesNothing) {
  glps_test::TempDir dir;
  KECGlpsLogSession session(dir.path(), kBase, "", KECGlpsLogInfo());
  ASSERT_TRUE(session.WriteText("kept"));
  session.GetNextIndex();
  ASSERT_TRUE(session.Save());
  const std::vector<std::string> before = ListDirectory(dir.path());

  glps::platform::CurrentSysCalls().renameat = &FailingRename;
  const bool cleared = session.Clear();
  glps::platform::RestoreSysCalls();

  EXPECT_FALSE(cleared);
  EXPECT_EQ(ListDirectory(dir.path()), before);
  EXPECT_TRUE(session.IsValid());
  EXPECT_EQ(session.GetNextIndex(), 2) << "the catalog is kept";
  ASSERT_TRUE(session.WriteText(" and more"));
  ASSERT_TRUE(session.Close());
  KECGlpsLogSession reopened(dir.path(), kBase, "", session.GetLogInfo());
  EXPECT_FALSE(reopened.IsTampered());
  EXPECT_EQ(ReadFileBytes(dir / DocumentName(1)),
            "<I>(" + DocumentName(1) + ")<BR><BR></I>kept and more");
}

}  // namespace

namespace {

TEST(LogSession, OpeningRemovesTheTemporaryFilesOfInterruptedSavesOnly) {
  glps_test::TempDir dir;
  KECGlpsLogInfo info;
  {
    KECGlpsLogSession session(dir.path(), kBase, "", KECGlpsLogInfo());
    ASSERT_TRUE(session.Close());
    info = session.GetLogInfo();
  }
  const std::string sidecar = KECBaseNameUtils::MakeDefaultName(kBase, 1) + ".xml";
  const std::vector<std::string> leftovers = {".log.xml.tmp-Ab12Cd", "." + sidecar + ".tmp-zzzzzz",
                                              ".GLP-Menu.html.tmp-000000"};
  const std::vector<std::string> kept = {".log.xml.tmp-short", ".log.xml.tmp-Ab12Cd.bak",
                                         ".other.xml.tmp-Ab12Cd", "log.xml.tmp-Ab12Cd"};
  for (const std::string& name : leftovers) WriteFileBytes(dir / name, "partial");
  for (const std::string& name : kept) WriteFileBytes(dir / name, "not ours");
  ASSERT_EQ(symlink("log.xml", (dir / ".log.xml.tmp-Link00").c_str()), 0);

  KECGlpsLogSession session(dir.path(), kBase, "", info);
  EXPECT_FALSE(session.IsTampered());
  for (const std::string& name : leftovers)
    EXPECT_FALSE(glps::platform::PathExists(dir / name)) << name;
  for (const std::string& name : kept) EXPECT_EQ(ReadFileBytes(dir / name), "not ours") << name;
  EXPECT_TRUE(glps::platform::PathExists(dir / ".log.xml.tmp-Link00")) << "only regular files go";
}

}  // namespace
