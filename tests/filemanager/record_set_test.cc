// SPDX-License-Identifier: Apache-2.0
// The rules of a log's record set: each rule finds the records that break it, and the changes the
// file manager admits keep the standing of every record.
#include "filemanager/record_set.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/records.h"

namespace {

using glps::RecordFault;
using Records = std::vector<KECGlpsFileManagerData>;

// A record protected as the library protects its kind.
KECGlpsFileManagerData Record(Glps::EFileType kind, const std::string& name) {
  return glps_test::MakeRecord(kind, name, "", 0,
                               kind != Glps::FileIndexMain && kind != Glps::FileIndexMenu);
}

KECGlpsFileManagerData Unprotected(KECGlpsFileManagerData record) {
  record.m_bHashed = !record.m_bHashed;
  return record;
}

// What the library itself records for a log of two documents with their sidecars, the index pages
// and two linked files.
Records OwnSet() {
  return {Record(Glps::FileLog, "GLP-Log-Exp_0001.html"),
          Record(Glps::FileMetaData, "GLP-Log-Exp_0001.xml"),
          Record(Glps::FileLink, "data.csv"),
          Record(Glps::FileLog, "GLP-Log-Exp_0002.html"),
          Record(Glps::FileIndexMain, "GLP-Main.html"),
          Record(Glps::FileIndexMenu, "GLP-Menu.html"),
          Record(Glps::FileMetaData, "GLP-Log-Exp_0002.xml"),
          Record(Glps::FileLink, "-rf"),
          Record(Glps::FileLink, "GLP-Log-Exp_0009.html")};
}

TEST(RecordSetTest, TheLibrarysOwnSetIsSound) {
  const std::vector<RecordFault> faults = glps::CheckRecordSet(OwnSet());
  EXPECT_TRUE(glps::IsSoundSet(faults));
  EXPECT_EQ(faults.size(), OwnSet().size());
  EXPECT_TRUE(glps::IsSoundSet(glps::CheckRecordSet(Records())));
}

// Each case adds records to the library's own set; the added records, and only the records named,
// break the rules with the fault given.
TEST(RecordSetTest, EachRuleFindsTheRecordsThatBreakIt) {
  struct Case {
    const char* what;
    Records added;
    // Position in the whole set (own set first) and fault, for every record that breaks a rule.
    std::vector<std::pair<std::size_t, RecordFault>> faults;
  };
  const std::size_t n = OwnSet().size();
  const Case cases[] = {
      {"unknown kinds",
       {Record(static_cast<Glps::EFileType>(0), "a"), Record(static_cast<Glps::EFileType>(1), "b"),
        Record(static_cast<Glps::EFileType>(7), "c"), Record(static_cast<Glps::EFileType>(99), "d"),
        Record(static_cast<Glps::EFileType>(-2), "e")},
       {{n, RecordFault::kUnknownKind},
        {n + 1, RecordFault::kUnknownKind},
        {n + 2, RecordFault::kUnknownKind},
        {n + 3, RecordFault::kUnknownKind},
        {n + 4, RecordFault::kUnknownKind}}},
      {"names that are not plain",
       {Record(Glps::FileLink, "../x"), Record(Glps::FileLink, ""),
        Record(Glps::FileLink, std::string(256, 'x')), Record(Glps::FileLog, "a/b.html")},
       {{n, RecordFault::kBadName},
        {n + 1, RecordFault::kBadName},
        {n + 2, RecordFault::kBadName},
        {n + 3, RecordFault::kBadName}}},
      {"the library's own names",
       {Record(Glps::FileLog, "log.xml"), Record(Glps::FileLink, "log.lock"),
        Record(Glps::FileLink, ".log.xml.tmp-AbC123"), Record(Glps::FileLink, "GLP-Menu.html"),
        Record(Glps::FileLog, "GLP-Main.html"), Record(Glps::FileLink, "log.seal"),
        Record(Glps::FileLink, "log.seal-key")},
       {{n, RecordFault::kReservedName},
        {n + 1, RecordFault::kReservedName},
        {n + 2, RecordFault::kReservedName},
        {n + 3, RecordFault::kReservedName},
        {n + 4, RecordFault::kReservedName},
        {n + 5, RecordFault::kReservedName},
        {n + 6, RecordFault::kReservedName},
        {4, RecordFault::kDuplicateName},
        {5, RecordFault::kDuplicateName}}},
      // A link ahead of the document under the document's name: neither can be told to be the
      // real one, and the document's sidecar loses its document.
      {"two records of one name",
       {Record(Glps::FileLink, "GLP-Log-Exp_0001.html")},
       {{0, RecordFault::kDuplicateName},
        {1, RecordFault::kOrphanSidecar},
        {n, RecordFault::kDuplicateName}}},
      {"protection not as the kind has it",
       {Unprotected(Record(Glps::FileLog, "GLP-Log-Exp_0003.html")),
        Unprotected(Record(Glps::FileLink, "plain.txt"))},
       {{n, RecordFault::kWrongProtection}, {n + 1, RecordFault::kWrongProtection}}},
      {"documents not named as documents are",
       {Record(Glps::FileLog, "notes.htm"), Record(Glps::FileLog, "a\"><script>.html"),
        Record(Glps::FileLog, "a<b.html"), Record(Glps::FileLog, "log.html"),
        Record(Glps::FileLog, "line\nbreak.html"), Record(Glps::FileLog, "x&amp.html")},
       {{n, RecordFault::kBadDocumentName},
        {n + 1, RecordFault::kBadDocumentName},
        {n + 2, RecordFault::kBadDocumentName},
        {n + 3, RecordFault::kBadDocumentName},
        {n + 4, RecordFault::kBadDocumentName},
        {n + 5, RecordFault::kBadDocumentName}}},
      {"an index page's kind under another name",
       {Record(Glps::FileIndexMain, "main.html")},
       {{n, RecordFault::kMisnamedIndexPage}}},
      {"sidecars without their document",
       {Record(Glps::FileMetaData, "GLP-Log-Exp_0007.xml"), Record(Glps::FileMetaData, "data.bin"),
        Record(Glps::FileLog, "doc\".html"), Record(Glps::FileMetaData, "doc\".xml")},
       {{n, RecordFault::kOrphanSidecar},
        {n + 1, RecordFault::kOrphanSidecar},
        {n + 2, RecordFault::kBadDocumentName},
        {n + 3, RecordFault::kOrphanSidecar}}},
      {"a linked file under a document's sidecar name",
       {Record(Glps::FileLog, "GLP-Log-Exp_0003.html"),
        Record(Glps::FileLink, "GLP-Log-Exp_0003.xml")},
       {{n + 1, RecordFault::kLinkUnderOwnName}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Records records = OwnSet();
    records.insert(records.end(), c.added.begin(), c.added.end());
    std::vector<RecordFault> expected(records.size(), RecordFault::kNone);
    for (const auto& fault : c.faults) expected[fault.first] = fault.second;
    const std::vector<RecordFault> faults = glps::CheckRecordSet(records);
    ASSERT_EQ(faults.size(), expected.size());
    for (std::size_t i = 0; i < faults.size(); ++i) {
      EXPECT_EQ(faults[i], expected[i])
          << i << " " << records[i].m_strFileName << ": " << glps::RecordFaultName(faults[i]);
    }
    EXPECT_FALSE(glps::IsSoundSet(faults));
  }
}

// CheckChange judges a change through lookups only; whatever it admits leaves every record's
// fault as CheckRecordSet gives it for the whole set, and the new record sound. Tried on a set
// with records that break the rules, with changes that would give them a standing or take one.
TEST(RecordSetTest, AdmittedChangesKeepTheStandingOfEveryRecord) {
  Records records = OwnSet();
  records.push_back(Record(Glps::FileLink, "GLP-Log-Exp_0001.html"));     // duplicate of document 1
  records.push_back(Record(Glps::FileMetaData, "GLP-Log-Exp_0005.xml"));  // orphan
  records.push_back(Record(static_cast<Glps::EFileType>(99), "odd.bin"));
  struct Change {
    KECGlpsFileManagerData record;
    bool admitted;
  };
  const Change changes[] = {
      {Record(Glps::FileLog, "GLP-Log-Exp_0003.html"), true},
      {Record(Glps::FileMetaData, "GLP-Log-Exp_0003.xml"), true},
      {Record(Glps::FileLink, "GLP-Log-Exp_0002.html"), false},  // a document's kind changed
      {Record(Glps::FileLink, "GLP-Log-Exp_0002.xml"), false},   // a sidecar's kind changed
      {Record(Glps::FileLink, "GLP-Log-Exp_0004.xml"), true},    // no document 4 yet
      {Record(Glps::FileLog, "GLP-Log-Exp_0004.html"), false},   // its sidecar name is a link's
      {Record(Glps::FileLog, "GLP-Log-Exp_0005.html"), false},   // would adopt the orphan
      {Record(Glps::FileLink, "GLP-Log-Exp_0001.html"), false},  // a duplicate is never touched
      {Record(Glps::FileLog, "GLP-Log-Exp_0001.html"), false},
      {Record(Glps::FileMetaData, "GLP-Log-Exp_0006.xml"), false},  // no document 6
      {Record(Glps::FileLink, "odd.bin"), false},
      {Record(Glps::FileLink, "log.xml"), false},
      {Record(Glps::FileLink, "log.seal-key"), false},
      {Record(Glps::FileLink, "GLP-Main.html"), false},
      {Unprotected(Record(Glps::FileLink, "data.csv")), false},
      {Record(Glps::FileLink, "data.csv"), true},  // registered again
      {Record(Glps::FileIndexMain, "GLP-Main.html"), true},
      {Record(Glps::FileLog, "GLP-Log-Exp_0010.html"), true},
      {Record(Glps::FileLink, "GLP-Log-Exp_0010.xml"), false},  // document 10's sidecar name
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.record.m_strFileName + " kind " + std::to_string(change.record.m_eType));
    const std::vector<RecordFault> before = glps::CheckRecordSet(records);
    const glps::RecordLookup lookup = [&records, &before](const std::string& name, bool* sound) {
      for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].m_strFileName != name) continue;
        *sound = before[i] == RecordFault::kNone;
        return static_cast<const KECGlpsFileManagerData*>(&records[i]);
      }
      *sound = false;
      return static_cast<const KECGlpsFileManagerData*>(nullptr);
    };
    const bool admitted = glps::CheckChange(change.record, lookup) == RecordFault::kNone;
    EXPECT_EQ(admitted, change.admitted);
    if (!admitted) continue;
    std::vector<RecordFault> expected = before;
    bool replaced = false;
    for (KECGlpsFileManagerData& record : records) {
      if (record.m_strFileName == change.record.m_strFileName) {
        record = change.record;
        replaced = true;
      }
    }
    if (!replaced) {
      records.push_back(change.record);
      expected.push_back(RecordFault::kNone);
    }
    EXPECT_EQ(glps::CheckRecordSet(records), expected);
  }
}

}  // namespace
