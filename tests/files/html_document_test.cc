// SPDX-License-Identifier: Apache-2.0
#include "files/glps_file_html.h"

#include <sys/stat.h>

#include <boost/make_shared.hpp>

#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "filemanager/file_manager.h"
#include "gtest/gtest.h"
#include "support/records.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"

namespace {

using glps_test::EntitiesDifference;
using glps_test::OpensslMd5Base64;
using glps_test::ReadFileBytes;
using glps_test::TempDir;
using glps_test::WriteFileBytes;

const Glps::ELogEntity kTypeA = static_cast<Glps::ELogEntity>(7);
const Glps::ELogEntity kTypeB = static_cast<Glps::ELogEntity>(9);

KECGlpsFileHtmlMetaDataEntity Entity(Glps::ELogEntity type, std::int32_t handle, const char* guid) {
  return KECGlpsFileHtmlMetaDataEntity(KECGlpsLogMetaDataEntity(type, handle, KCGenGUID(guid)));
}

const char kGuid1[] = "{11111111-2222-3333-4444-555555555555}";
const char kGuid2[] = "{A0A0A0A0-B1B1-C2C2-D3D3-E4E4E4E4E4E4}";

// Every line feed of the text is preceded by a carriage return.
bool AllLinesEndInCrLf(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return text.find('\n') != std::string::npos;
}

// Every start and end tag of the element `from` renamed to `to`.
std::string Renamed(std::string text, const std::string& from, const std::string& to) {
  for (const std::string prefix : {"<", "</"}) {
    for (size_t at = text.find(prefix + from); at != std::string::npos;
         at = text.find(prefix + from, at + 1)) {
      text.replace(at + prefix.size(), from.size(), to);
    }
  }
  return text;
}

// A log directory with a file manager and one registered, empty document "doc.html".
class HtmlDocumentTest : public ::testing::Test {
 protected:
  HtmlDocumentTest()
      : records_(boost::make_shared<std::vector<KECGlpsFileManagerData>>()),
        manager_(new KECGlpsFileManager(dir_.path(), records_)) {
    manager_->AddFile("doc.html", Glps::FileLog, true);
  }

  std::string DocPath() const { return dir_ / "doc.html"; }
  std::string SidecarPath() const { return dir_ / "doc.xml"; }

  const KECGlpsFileManagerData* Record(const std::string& name) const {
    for (const auto& record : *records_) {
      if (record.m_strFileName == name) return &record;
    }
    return nullptr;
  }

  // Writes through the document and refreshes its record, as the log session does.
  void Append(KECGlpsFileHtml& doc, const std::string& text) {
    ASSERT_TRUE(doc.Write(text).first);
    ASSERT_TRUE(manager_->UpdateFileInfo(doc));
  }

  // A sidecar with two entities, as a document writes it.
  std::string ValidSidecar() {
    auto doc = manager_->GetDocument("doc.html");
    doc->AddEntity(Entity(kTypeA, 1, kGuid1));
    doc->AddEntity(Entity(kTypeB, -5, kGuid2));
    EXPECT_TRUE(doc->Flush());
    manager_->CloseAllDocuments();
    return ReadFileBytes(SidecarPath());
  }

  TempDir dir_;
  boost::shared_ptr<std::vector<KECGlpsFileManagerData>> records_;
  std::unique_ptr<KECGlpsFileManager> manager_;
};

TEST_F(HtmlDocumentTest, FirstFlushWritesEmptySidecarAndRegistersIt) {
  auto doc = manager_->GetDocument("doc.html");
  ASSERT_TRUE(doc && doc->IsOpen());
  EXPECT_EQ(doc->GetMetaDataFileName(), SidecarPath());
  EXPECT_EQ(Record("doc.xml"), nullptr);

  ASSERT_TRUE(doc->Flush());

  const std::string xml = ReadFileBytes(SidecarPath());
  EXPECT_TRUE(AllLinesEndInCrLf(xml)) << xml;
  EXPECT_NE(xml.find("<m_meta class_id=\"0\" tracking_level=\"0\" version=\"0\">"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<m_vEntity class_id=\"1\" tracking_level=\"0\" version=\"0\">"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<count>0</count>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<item_version>0</item_version>"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("<item>"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("<item "), std::string::npos) << xml;

  const KECGlpsFileManagerData* sidecar = Record("doc.xml");
  ASSERT_NE(sidecar, nullptr);
  EXPECT_EQ(sidecar->m_eType, Glps::FileMetaData);
  EXPECT_TRUE(sidecar->m_bHashed);
  EXPECT_EQ(sidecar->m_strHash, OpensslMd5Base64(SidecarPath()));
  EXPECT_EQ(sidecar->m_nSize, static_cast<std::int64_t>(xml.size()));
  // The sidecar's record is refreshed in place by later flushes.
  doc->AddEntity(Entity(kTypeA, 1, kGuid1));
  ASSERT_TRUE(doc->Flush());
  EXPECT_EQ(records_->size(), 2u);
  EXPECT_EQ(Record("doc.xml")->m_strHash, OpensslMd5Base64(SidecarPath()));
}

// A flush replaces the sidecar only when its content changed since this document saved it: a new
// entity, or a document object that has not saved it yet. A sidecar left as it was keeps its file.
TEST_F(HtmlDocumentTest, AnUnchangedSidecarIsNotReplaced) {
  const auto inode = [this] {
    struct stat st;
    return stat(SidecarPath().c_str(), &st) == 0 ? st.st_ino : 0;
  };
  auto doc = manager_->GetDocument("doc.html");
  ASSERT_TRUE(doc->Flush());
  const ino_t first = inode();
  ASSERT_NE(first, 0u);
  Append(*doc, "<P>entry</P>");
  ASSERT_TRUE(doc->Flush());
  EXPECT_EQ(inode(), first) << "no entity added: not replaced";
  doc->AddEntity(Entity(kTypeA, 1, kGuid1));
  ASSERT_TRUE(doc->Flush());
  const ino_t second = inode();
  EXPECT_NE(second, first);
  EXPECT_EQ(Record("doc.xml")->m_strHash, OpensslMd5Base64(SidecarPath()));
  ASSERT_TRUE(doc->Flush());
  EXPECT_EQ(inode(), second);

  // Opened again, the document saves the sidecar at its first flush.
  doc.reset();
  manager_->CloseAllDocuments();
  doc = manager_->GetDocument("doc.html");
  ASSERT_TRUE(doc->Flush());
  EXPECT_NE(inode(), second);
  EXPECT_EQ(doc->GetEntities(kTypeA, 1).size(), 1u);
}

TEST_F(HtmlDocumentTest, EntitiesAreMatchedByTypeAndHandleAndRoundTripInOrder) {
  auto doc = manager_->GetDocument("doc.html");
  doc->AddEntity(Entity(kTypeA, 1, kGuid1));
  doc->AddEntity(Entity(kTypeB, 1, kGuid2));
  doc->AddEntity(Entity(kTypeA, 1, kGuid1));
  doc->AddEntity(Entity(kTypeA, 2, kGuid2));

  EXPECT_EQ(doc->GetEntities(kTypeA, 1), std::vector<KCGenGUID>(2, KCGenGUID(kGuid1)));
  EXPECT_EQ(doc->GetEntities(kTypeA, 2), std::vector<KCGenGUID>(1, KCGenGUID(kGuid2)));
  EXPECT_TRUE(doc->GetEntities(kTypeA, 3).empty());
  EXPECT_TRUE(doc->GetEntities(kTypeB, 2).empty());

  ASSERT_TRUE(doc->Flush());
  const std::vector<KECGlpsFileHtmlMetaDataEntity> written = doc->GetMetaData().m_vEntity;
  const std::string xml = ReadFileBytes(SidecarPath());
  EXPECT_NE(xml.find("<count>4</count>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<item class_id=\"2\" tracking_level=\"0\" version=\"0\">\r\n"
                     "\t\t\t<m_eType>7</m_eType>\r\n"
                     "\t\t\t<m_nHandle>1</m_nHandle>\r\n"
                     "\t\t\t<m_guid>{11111111-2222-3333-4444-555555555555}</m_guid>\r\n"),
            std::string::npos)
      << xml;

  doc.reset();
  manager_->CloseAllDocuments();
  auto reopened = manager_->GetDocument("doc.html");
  EXPECT_EQ(EntitiesDifference(reopened->GetMetaData().m_vEntity, written), "");
  EXPECT_TRUE(reopened->LoadMetaData());
  EXPECT_EQ(EntitiesDifference(reopened->GetMetaData().m_vEntity, written), "");
}

TEST_F(HtmlDocumentTest, DefaultEntityHasNoHandleAndAFreshGuid) {
  KECGlpsFileHtmlMetaDataEntity a, b;
  EXPECT_EQ(a.m_eType, 0);
  EXPECT_EQ(a.m_nHandle, -1);
  EXPECT_FALSE(a.m_guid.IsNull());
  EXPECT_NE(a.m_guid, b.m_guid);
}

// Reopening continues the content its record vouches for; a tail nobody recorded is cut.
TEST_F(HtmlDocumentTest, ReopenBringsTheFileBackToItsRecordAndContinuesTheHash) {
  struct Case {
    const char* name;
    void (*change)(const std::string& path);
    std::string contentBeforeAppend;  // the document once reopened
  };
  const std::vector<Case> cases = {
      {"grown by another program", [](const std::string& path) { WriteFileBytes(path, "abcXYZ"); },
       "abc"},
      {"untouched", [](const std::string&) {}, "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    auto records = boost::make_shared<std::vector<KECGlpsFileManagerData>>();
    KECGlpsFileManager manager(dir.path(), records);
    ASSERT_TRUE(manager.AddFile("doc.html", Glps::FileLog, true));
    {
      auto doc = manager.GetDocument("doc.html");
      ASSERT_TRUE(doc->Write("abc").first);
      ASSERT_TRUE(manager.UpdateFileInfo(*doc));
      // Written but never recorded: not vouched for.
      ASSERT_TRUE(doc->Write("unrecorded").first);
      manager.CloseAllDocuments();
    }
    c.change(dir / "doc.html");

    auto doc = manager.GetDocument("doc.html");
    ASSERT_TRUE(doc->IsOpen());
    EXPECT_EQ(doc->GetSize(), 3);
    EXPECT_EQ(ReadFileBytes(dir / "doc.html"), c.contentBeforeAppend);
    ASSERT_TRUE(doc->Write("def").first);
    ASSERT_TRUE(manager.UpdateFileInfo(*doc));
    manager.CloseAllDocuments();
    doc.reset();

    EXPECT_EQ(ReadFileBytes(dir / "doc.html"), c.contentBeforeAppend + "def");
    EXPECT_EQ(records->front().m_nSize, 6);
    EXPECT_EQ(records->front().m_strHash, OpensslMd5Base64(dir / "doc.html"));
    KECGlpsFileHashed fresh(dir / "doc.html");
    EXPECT_EQ(records->front().m_strHash, fresh.GetHash());
  }
}

// A document whose recorded content is no longer intact, or that must not be written, is handed
// out not open: nothing is created, cut or appended, and its entities are still read.
TEST_F(HtmlDocumentTest, ADocumentThatIsNotWhatItsRecordSaysIsNotWrittenInto) {
  struct Case {
    const char* name;
    void (*change)(const std::string& path);
  };
  const Case cases[] = {
      {"deleted", [](const std::string& path) { ASSERT_EQ(unlink(path.c_str()), 0); }},
      {"byte changed", [](const std::string& path) { WriteFileBytes(path, "aXcunrecorded"); }},
      {"cut short", [](const std::string& path) { WriteFileBytes(path, "ab"); }},
      {"given a second name",
       [](const std::string& path) { ASSERT_EQ(link(path.c_str(), (path + ".2").c_str()), 0); }},
      {"read-only", [](const std::string& path) { ASSERT_EQ(chmod(path.c_str(), 0444), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    auto records = boost::make_shared<std::vector<KECGlpsFileManagerData>>();
    KECGlpsFileManager manager(dir.path(), records);
    ASSERT_TRUE(manager.AddFile("doc.html", Glps::FileLog, true));
    {
      auto doc = manager.GetDocument("doc.html");
      ASSERT_TRUE(doc->Write("abc").first);
      ASSERT_TRUE(manager.UpdateFileInfo(*doc));
      ASSERT_TRUE(doc->Write("unrecorded").first);
      doc->AddEntity(Entity(kTypeA, 1, kGuid1));
      ASSERT_TRUE(doc->Flush());
      manager.CloseAllDocuments();
    }
    const KECGlpsFileManagerData before = records->front();
    c.change(dir / "doc.html");
    const bool existed = std::filesystem::exists(dir / "doc.html");
    const std::string bytes = existed ? ReadFileBytes(dir / "doc.html") : "";

    auto doc = manager.GetDocument("doc.html");
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->IsOpen());
    EXPECT_FALSE(doc->Write("def").first);
    EXPECT_EQ(doc->GetEntities(kTypeA, 1).size(), 1u);
    EXPECT_EQ(std::filesystem::exists(dir / "doc.html"), existed);
    if (existed) {
      EXPECT_EQ(ReadFileBytes(dir / "doc.html"), bytes);
    }
    EXPECT_EQ(records->front().m_strHash, before.m_strHash);
    EXPECT_EQ(records->front().m_nSize, before.m_nSize);
  }
}

TEST_F(HtmlDocumentTest, DestroyWithoutFlushLeavesTheSidecarOfTheLastFlush) {
  auto doc = manager_->GetDocument("doc.html");
  doc->AddEntity(Entity(kTypeA, 1, kGuid1));
  ASSERT_TRUE(doc->Flush());
  const std::string flushed = ReadFileBytes(SidecarPath());
  const KECGlpsFileManagerData record = *Record("doc.xml");

  doc->AddEntity(Entity(kTypeA, 2, kGuid2));
  doc.reset();
  manager_->CloseAllDocuments();

  EXPECT_EQ(ReadFileBytes(SidecarPath()), flushed);
  EXPECT_EQ(Record("doc.xml")->m_strHash, record.m_strHash);
  EXPECT_EQ(manager_->GetDocument("doc.html")->GetMetaData().m_vEntity.size(), 1u);
}

// A sidecar is read item by item: a broken or hostile one fails without crashing, allocating for
// its count, or dropping the entities read before the error.
TEST_F(HtmlDocumentTest, BrokenSidecarsFailKeepingTheEntitiesReadBeforeTheError) {
  const std::string valid = ValidSidecar();
  auto replaced = [&valid](const std::string& from, const std::string& to) {
    std::string text = valid;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  };
  std::string lfOnly;
  for (char ch : valid) {
    if (ch != '\r') lfOnly += ch;
  }
  const size_t secondItem = valid.find("<item>");
  ASSERT_NE(secondItem, std::string::npos);

  struct Case {
    const char* name;
    std::string text;
    bool loads;
    size_t entities;
  };
  const std::vector<Case> cases = {
      {"as written", valid, true, 2},
      {"line feeds only", lfOnly, true, 2},
      {"not XML", "this is no archive\r\n", false, 0},
      {"empty file", "", false, 0},
      {"cut inside the second item", valid.substr(0, secondItem + 20), false, 1},
      {"cut before the closing tag", valid.substr(0, valid.rfind("</boost_serialization>")), false,
       2},
      {"count far beyond the items",
       replaced("<count>2</count>", "<count>4611686018427387903</count>"), false, 2},
      {"count of two hundred million", replaced("<count>2</count>", "<count>200000000</count>"),
       false, 2},
      {"count below the items", replaced("<count>2</count>", "<count>1</count>"), false, 1},
      {"newer metadata version",
       replaced("<m_meta class_id=\"0\" tracking_level=\"0\" version=\"0\">",
                "<m_meta class_id=\"0\" tracking_level=\"0\" version=\"1\">"),
       false, 0},
      {"newer list version",
       replaced("<m_vEntity class_id=\"1\" tracking_level=\"0\" version=\"0\">",
                "<m_vEntity class_id=\"1\" tracking_level=\"0\" version=\"1\">"),
       false, 0},
      {"newer entity version",
       replaced("<item class_id=\"2\" tracking_level=\"0\" version=\"0\">",
                "<item class_id=\"2\" tracking_level=\"0\" version=\"1\">"),
       false, 0},
      {"newer item version",
       replaced("<item_version>0</item_version>", "<item_version>1</item_version>"), false, 0},
      // The list is read whole before its end tag is found misnamed.
      {"misnamed list", Renamed(valid, "m_vEntity", "m_vList"), false, 2},
      {"misnamed entity member", Renamed(valid, "m_nHandle", "m_nId"), false, 0},
      {"bad GUID in the second item", replaced("<m_guid>{A0A0", "<m_guid>{Z0A0"), false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(SidecarPath(), c.text);
    KECGlpsFileHtml doc(DocPath(), Record("doc.html")->m_strHash, Record("doc.html")->m_nSize,
                        nullptr);
    ASSERT_TRUE(doc.IsOpen());
    EXPECT_EQ(doc.GetMetaData().m_vEntity.size(), c.entities);
    EXPECT_EQ(doc.LoadMetaData(), c.loads);
    EXPECT_EQ(doc.GetMetaData().m_vEntity.size(), c.entities);
    if (c.entities >= 1) {
      EXPECT_EQ(doc.GetEntities(kTypeA, 1), std::vector<KCGenGUID>(1, KCGenGUID(kGuid1)));
    }
  }
}

TEST_F(HtmlDocumentTest, MissingSidecarLeavesTheEntitiesAsTheyAre) {
  auto doc = manager_->GetDocument("doc.html");
  doc->AddEntity(Entity(kTypeA, 1, kGuid1));
  EXPECT_FALSE(doc->LoadMetaData());
  EXPECT_EQ(doc->GetMetaData().m_vEntity.size(), 1u);
}

TEST_F(HtmlDocumentTest, FlushFailures) {
  // A document that does not open (read-only, which holds for root too): its Flush fails but still
  // writes and registers the sidecar.
  {
    ASSERT_EQ(chmod(DocPath().c_str(), 0444), 0);
    KECGlpsFileHtml second(DocPath(), Record("doc.html")->m_strHash, Record("doc.html")->m_nSize,
                           manager_.get());
    EXPECT_FALSE(second.IsOpen());
    EXPECT_FALSE(second.Flush());
    EXPECT_NE(ReadFileBytes(SidecarPath()).find("<count>0</count>"), std::string::npos);
    ASSERT_NE(Record("doc.xml"), nullptr);
    ASSERT_EQ(chmod(DocPath().c_str(), 0644), 0);
  }
  // A sidecar that cannot be replaced (read-only, which holds for root too): Flush fails, the
  // sidecar and its record stay as they were.
  {
    auto doc = manager_->GetDocument("doc.html");
    const std::string before = ReadFileBytes(SidecarPath());
    const KECGlpsFileManagerData record = *Record("doc.xml");
    ASSERT_EQ(chmod(SidecarPath().c_str(), 0444), 0);
    doc->AddEntity(Entity(kTypeA, 1, kGuid1));
    EXPECT_FALSE(doc->Flush());
    EXPECT_EQ(ReadFileBytes(SidecarPath()), before);
    EXPECT_EQ(Record("doc.xml")->m_strHash, record.m_strHash);
    EXPECT_EQ(Record("doc.xml")->m_nSize, record.m_nSize);
  }
}

// A sidecar larger than any that is read back is never written: the save fails, and the sidecar
// and its record stay as last saved, so that the entities saved before are read back, not none.
TEST_F(HtmlDocumentTest, ASidecarTooLargeToBeReadBackIsNotWritten) {
  auto doc = manager_->GetDocument("doc.html");
  doc->AddEntity(Entity(kTypeA, 1, kGuid1));
  ASSERT_TRUE(doc->Flush());
  const std::string saved = ReadFileBytes(SidecarPath());
  const KECGlpsFileManagerData record = *Record("doc.xml");
  // About 130 bytes each: past the archive size limit.
  for (std::int32_t i = 0; i < 2100000; ++i) doc->AddEntity(Entity(kTypeB, i, kGuid2));
  EXPECT_FALSE(doc->Flush());
  EXPECT_EQ(ReadFileBytes(SidecarPath()), saved);
  EXPECT_EQ(Record("doc.xml")->m_strHash, record.m_strHash);
  EXPECT_EQ(Record("doc.xml")->m_nSize, record.m_nSize);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                          std::filesystem::directory_iterator()),
            2)
      << "the document and its sidecar, and no temporary file";
  doc.reset();
  manager_->CloseAllDocuments();
  EXPECT_EQ(manager_->GetDocument("doc.html")->GetEntities(kTypeA, 1).size(), 1u);
}

// A document named with the sidecar's extension would be its own sidecar: the rules of the record
// set keep it from being registered as a document, and a document opened under such a name all the
// same never writes its sidecar over itself.
TEST_F(HtmlDocumentTest, DocumentWithTheSidecarExtensionNeverOverwritesItself) {
  EXPECT_FALSE(manager_->AddFile("notes.xml", Glps::FileLog, true));
  EXPECT_FALSE(manager_->GetDocument("notes.xml"));
  EXPECT_EQ(Record("notes.xml"), nullptr);
  KECGlpsFileHtml doc(dir_ / "notes.xml", std::string(), 0, manager_.get());
  ASSERT_TRUE(doc.IsOpen());
  ASSERT_TRUE(doc.Write("<P>entry</P>").first);
  EXPECT_FALSE(doc.SaveMetaData());
  EXPECT_FALSE(doc.Flush());
  EXPECT_EQ(ReadFileBytes(dir_ / "notes.xml"), "<P>entry</P>");
  EXPECT_EQ(Record("notes.xml"), nullptr);
}

}  // namespace
