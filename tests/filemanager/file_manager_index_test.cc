// SPDX-License-Identifier: Apache-2.0
// The manager finds records by name through an index instead of a scan, and judges changes of the
// records without checking the whole set again. These tests hold it to the plain rules (the sound
// record of that name, by the rules of the record set checked afresh on every record) through every
// change of the records.
#include <boost/make_shared.hpp>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "filemanager/file_manager.h"
#include "filemanager/record_set.h"
#include "files/glps_file_hashed.h"
#include "gtest/gtest.h"
#include "support/records.h"
#include "support/temp_dir.h"

namespace {

using glps_test::MakeRecord;
using glps_test::SameRecords;
using glps_test::TempDir;
using Records = std::vector<KECGlpsFileManagerData>;

// The records as the manager must keep them, with the lookup done by a scan and the rules of the
// record set checked afresh on the whole set.
struct Model {
  Records records;

  // The sound record of that name.
  KECGlpsFileManagerData* Find(const std::string& name) {
    const std::vector<glps::RecordFault> faults = glps::CheckRecordSet(records);
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (records[i].m_strFileName == name && faults[i] == glps::RecordFault::kNone) {
        return &records[i];
      }
    }
    return nullptr;
  }
  // Takes the record when the manager must: it replaces the sound record of its name and kind, or
  // it is new and, the whole set checked again, every record keeps its standing and it is sound;
  // a new document besides needs its sidecar's name free of records (its sidecar is written there).
  bool Set(const KECGlpsFileManagerData& record) {
    const std::vector<glps::RecordFault> before = glps::CheckRecordSet(records);
    if (glps::CheckRecordAlone(record) != glps::RecordFault::kNone) return false;
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (records[i].m_strFileName != record.m_strFileName) continue;
      if (before[i] != glps::RecordFault::kNone || records[i].m_eType != record.m_eType) {
        return false;
      }
      records[i] = record;
      return true;
    }
    if (record.m_eType == Glps::FileLog) {
      for (const KECGlpsFileManagerData& other : records) {
        if (other.m_strFileName == glps::SidecarNameOf(record.m_strFileName)) return false;
      }
    }
    Records with = records;
    with.push_back(record);
    std::vector<glps::RecordFault> expected = before;
    expected.push_back(glps::RecordFault::kNone);
    if (glps::CheckRecordSet(with) != expected) return false;
    records = with;
    return true;
  }
  bool Update(const std::string& name, const std::string& hash, std::int64_t size) {
    KECGlpsFileManagerData* record = Find(name);
    if (record == nullptr) return false;
    record->m_strHash = hash;
    record->m_nSize = size;
    return true;
  }
};

// A long random run of registrations, replacements, refreshes, deletions and reopenings; a
// reopening adds a second record of a name already there, as an edited log.xml may hold one.
// After every step the manager's records equal the model's, every registration was taken or refused
// as the model's, and every refresh went to the record the model chose.
TEST(FileManagerIndexTest, LookupsFollowEveryChangeOfTheRecords) {
  TempDir dir;
  const std::vector<std::string> names = {"a.html",   "a.xml",  "b.html", "b.xml", "GLP-Main.html",
                                          "link.bin", "c.html", "d.html", "e.html"};
  Model model;
  auto records = boost::make_shared<Records>();
  std::unique_ptr<KECGlpsFileManager> manager(new KECGlpsFileManager(dir.path(), records));

  std::mt19937 random(20240501);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  int duplicates = 0;
  int refreshesOfDuplicates = 0;
  int taken = 0;
  int refused = 0;
  const auto protectedKind = [](Glps::EFileType kind) {
    return kind != Glps::FileIndexMain && kind != Glps::FileIndexMenu;
  };
  for (int step = 0; step < 5000; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    const std::string name = names[pick(names.size())];
    const Glps::EFileType kind = static_cast<Glps::EFileType>(2 + pick(5));
    const std::size_t operation = pick(40);
    if (operation == 0) {
      manager->DeleteAllFiles();
      model.records.clear();
    } else if (operation < 4 && !model.records.empty()) {
      KECGlpsFileManagerData again = model.records[pick(model.records.size())];
      again.m_nSize = -step;
      model.records.push_back(again);
      ++duplicates;
      manager.reset();
      records = boost::make_shared<Records>(model.records);
      manager.reset(new KECGlpsFileManager(dir.path(), records));
    } else if (operation < 16) {
      // Mostly protected as the kind has it, sometimes not.
      const bool hashed = pick(8) == 0 ? !protectedKind(kind) : protectedKind(kind);
      const KECGlpsFileManagerData record =
          MakeRecord(kind, name, "h" + std::to_string(step), step, hashed);
      const bool expected = model.Set(record);
      EXPECT_EQ(manager->SetFileData(record), expected);
      ++(expected ? taken : refused);
    } else if (operation < 22) {
      const bool expected = model.Set(MakeRecord(kind, name, "", 0, false));
      EXPECT_EQ(manager->AddFile(name, kind, false), expected);
    } else {
      // A refresh from an open file of that name, grown by a few bytes.
      KECGlpsFileHashed file(dir / name);
      ASSERT_TRUE(file.IsOpen());
      ASSERT_TRUE(file.Write(std::string(1 + pick(5), 'x')).first);
      int copies = 0;
      for (const KECGlpsFileManagerData& record : model.records)
        copies += record.m_strFileName == name;
      refreshesOfDuplicates += copies > 1;
      const bool expected = model.Update(name, file.GetHash(), file.GetSize());
      EXPECT_EQ(manager->UpdateFileInfo(file), expected);
    }
    ASSERT_TRUE(SameRecords(*records, model.records));
  }
  // The run did meet what it is about.
  EXPECT_GT(duplicates, 100);
  EXPECT_GT(refreshesOfDuplicates, 100);
  EXPECT_GT(taken, 100);
  EXPECT_GT(refused, 100);
}

// The vector is shared with the storage; should anyone change its length or move records behind
// the manager's back, lookups still find the sound record of a name.
TEST(FileManagerIndexTest, LookupsSurviveChangesMadeBehindTheManagersBack) {
  TempDir dir;
  auto records = boost::make_shared<Records>();
  records->push_back(MakeRecord(Glps::FileLog, "one.html", "", 0, true));
  records->push_back(MakeRecord(Glps::FileLog, "two.html", "", 0, true));
  KECGlpsFileManager manager(dir.path(), records);

  KECGlpsFileHashed file(dir / "three.html");
  ASSERT_TRUE(file.Write("abc").first);
  EXPECT_FALSE(manager.UpdateFileInfo(file));

  // Appended behind the manager's back: found.
  records->push_back(MakeRecord(Glps::FileLog, "three.html", "", 0, true));
  ASSERT_TRUE(manager.UpdateFileInfo(file));
  EXPECT_EQ(records->back().m_nSize, 3);

  // Moved to the front by someone else: found at its new place, and registering it again replaces
  // it there instead of adding a second record.
  std::rotate(records->begin(), records->end() - 1, records->end());
  ASSERT_TRUE(file.Write("de").first);
  ASSERT_TRUE(manager.UpdateFileInfo(file));
  EXPECT_EQ(records->front().m_strFileName, "three.html");
  EXPECT_EQ(records->front().m_nSize, 5);
  EXPECT_TRUE(manager.SetFileData(MakeRecord(Glps::FileLog, "three.html", "h", 9, true)));
  ASSERT_EQ(records->size(), 3u);
  EXPECT_EQ(records->front().m_strHash, "h");

  // A second record of the name put in behind the manager's back: neither counts any more.
  records->push_back(records->front());
  EXPECT_FALSE(manager.UpdateFileInfo(file));
  EXPECT_FALSE(manager.IsRecordSetSound());
  records->pop_back();

  // Emptied behind the manager's back: nothing is found, and a registration starts a new vector
  // of one record.
  records->clear();
  EXPECT_FALSE(manager.UpdateFileInfo(file));
  EXPECT_TRUE(manager.SetFileData(MakeRecord(Glps::FileLog, "one.html", "", 0, true)));
  EXPECT_EQ(records->size(), 1u);
}

}  // namespace
