// SPDX-License-Identifier: Apache-2.0
// Edits of log.xml, as anyone who can write a log's files may make them, after which the library
// must go on keeping every entry: record sets that break the rules the library writes by, archives
// too large to read back, a log.xml that matches the host's info but does not load, documents that
// shrank, and a host that runs out of file descriptors.
#include <dirent.h>
#include <gmock/gmock.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "filemanager/record_set.h"
#include "session/session_data_storage.h"
#include "support/host_fixture.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/stored_records.h"
#include "support/tree_snapshot.h"

namespace {

using glps_test::CountTamperTitles;
using glps_test::Documents;
using glps_test::InfoOf;
using glps_test::LoadRecords;
using glps_test::ReadFileBytes;
using glps_test::TreeSnapshot;
using glps_test::WriteFileBytes;
using ::testing::HasSubstr;
using ::testing::Not;
using Records = std::vector<KECGlpsFileManagerData>;

const char kDocument1[] = "GLP-Log-Exp_0001.html";
const char kDocument2[] = "GLP-Log-Exp_0002.html";
const Glps::ELogEntity kEntityType = static_cast<Glps::ELogEntity>(1);

// Changes the records of the log.xml in `dir` as an editor would, and saves it.
void EditRecords(const std::string& dir, const std::function<void(Records&)>& change) {
  KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
  ASSERT_TRUE(storage.Load());
  change(*storage.GetFileData());
  ASSERT_TRUE(storage.Save());
}

KECGlpsFileManagerData* Find(Records& records, const std::string& name) {
  for (KECGlpsFileManagerData& record : records) {
    if (record.m_strFileName == name) return &record;
  }
  return nullptr;
}

// The text of every document of a directory, one after another.
std::string AllDocuments(const std::string& dir) {
  std::string text;
  for (const std::string& document : Documents(dir)) text += ReadFileBytes(dir + "/" + document);
  return text;
}

class HostileRecordsTest : public glps_test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    glps_test::PlantSentinels(tmp_.path());
  }
  std::string Dir() const { return tmp_ / "log"; }
  TreeSnapshot Outside() const { return TreeSnapshot(tmp_.path(), Dir()); }

  // A saved log with a linked file and an entity; with `documents` 2, a first document full enough
  // that the second opening started a second one, with the index pages.
  KECGlpsLogInfo MakeLog(int documents) {
    mkdir(Dir().c_str(), 0755);
    WriteFileBytes(Dir() + "/data.csv", "sample,mass\nS1,1.0032\n");
    KECGlpsLogInfo info;
    EXPECT_TRUE(OpenExp(Dir(), info));
    EXPECT_TRUE(service_->LogExpLink("data.csv"));
    EXPECT_TRUE(
        service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(kEntityType, 7, KCGenGUID(true))));
    EXPECT_TRUE(service_->LogExpMsg("weighed S1"));
    if (documents == 2) {
      EXPECT_TRUE(service_->LogExpMsg(std::string(1 << 20, 'f')));
      EXPECT_TRUE(service_->LogExpExit(&info));
      EXPECT_TRUE(OpenExp(Dir(), info));
      EXPECT_TRUE(service_->LogExpMsg("weighed S2"));
    }
    EXPECT_TRUE(service_->LogExpExit(&info));
    EXPECT_EQ(Documents(Dir()).size(), static_cast<std::size_t>(documents));
    return info;
  }
};

// Records that break the rules the library writes by (items 1 and 2 of the attack): the log is
// reported tampered once, every entry is kept (the next ones in a document of the library's own
// where the current document's record is among them), the records stay in log.xml as evidence,
// and no file is ever opened, cut, extended, written or deleted on their account, nor named in an
// index page.
TEST_F(HostileRecordsTest, RecordSetsThatBreakTheRulesAreReportedOnceAndNeverActedOn) {
  struct Case {
    const char* what;
    std::function<void(Records&)> edit;
    KECGlpsFileManagerData offending;  // the record that must stay in log.xml
    bool newDocument;                  // the next entries go into a new document
  };
  const auto record = [](int kind, const std::string& name, const std::string& hash,
                         std::int64_t size, bool hashed) {
    KECGlpsFileManagerData r;
    r.m_eType = static_cast<Glps::EFileType>(kind);
    r.m_strFileName = name;
    r.m_strHash = hash;
    r.m_nSize = size;
    r.m_bHashed = hashed;
    return r;
  };
  const KECGlpsFileManagerData staleLink = record(Glps::FileLink, kDocument2, "", 40, true);
  const KECGlpsFileManagerData unknown =
      record(99, "notes.txt", glps_test::Fingerprint("old notes"), 9, true);
  const KECGlpsFileManagerData markup =
      record(Glps::FileLog, "GLP-Log-Exp_0003\"><script>.html", "", 0, true);
  const KECGlpsFileManagerData lock = record(Glps::FileLink, "log.lock", "", 0, true);
  const Case cases[] = {
      {"a linked file ahead of the current document under its name",
       [&](Records& r) { r.insert(r.begin(), staleLink); }, staleLink, true},
      {"the current document's record renamed to log.xml",
       [](Records& r) { Find(r, kDocument2)->m_strFileName = "log.xml"; },
       record(Glps::FileLog, "log.xml", "", -1, true), true},
      {"a record of an unknown kind", [&](Records& r) { r.push_back(unknown); }, unknown, false},
      {"a last document named with markup", [&](Records& r) { r.push_back(markup); }, markup,
       false},
      {"the current document made unprotected",
       [](Records& r) { Find(r, kDocument2)->m_bHashed = false; },
       record(Glps::FileLog, kDocument2, "", -1, false), true},
      {"a record of the log's lock", [&](Records& r) { r.push_back(lock); }, lock, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KECGlpsLogInfo info = MakeLog(2);
    WriteFileBytes(Dir() + "/notes.txt", "notes of the host");
    EditRecords(Dir(), c.edit);
    const TreeSnapshot outside = Outside();
    std::map<std::string, std::string> before;
    for (const std::string& name : glps_test::ListDirectory(Dir())) {
      if (name != "log.xml") before[name] = ReadFileBytes(Dir() + "/" + name);
    }

    ASSERT_TRUE(OpenExp(Dir(), info));
    EXPECT_TRUE(service_->LogExpMsg("after the edit"));
    ASSERT_TRUE(service_->LogExpExit(&info));
    EXPECT_EQ(CountTamperTitles(Dir()), 1);
    EXPECT_EQ(Documents(Dir()).size(), c.newDocument ? 3u : 2u);
    ASSERT_TRUE(OpenExp(Dir(), info));
    EXPECT_TRUE(service_->LogExpMsg("at the next opening"));
    ASSERT_TRUE(service_->LogExpExit(&info));
    EXPECT_EQ(CountTamperTitles(Dir()), 1) << "reported again";

    const std::string all = AllDocuments(Dir());
    for (const char* entry :
         {"weighed S1", "weighed S2", "after the edit", "at the next opening"}) {
      EXPECT_THAT(all, HasSubstr(entry));
    }
    EXPECT_EQ(all.find('\0'), std::string::npos);
    // Files as they were, or grown (the current document): nothing cut, padded or replaced.
    for (const auto& file : before) {
      const std::string now = ReadFileBytes(Dir() + "/" + file.first);
      if (file.first == "GLP-Main.html" || file.first == "GLP-Menu.html") continue;
      EXPECT_EQ(now.compare(0, file.second.size(), file.second), 0) << file.first;
      if (file.first != kDocument2 || c.newDocument) {
        EXPECT_EQ(now, file.second) << file.first;
      }
    }
    EXPECT_THAT(ReadFileBytes(Dir() + "/GLP-Menu.html"), Not(HasSubstr("script")));
    // The evidence stays in log.xml.
    bool loaded = false;
    const Records records = LoadRecords(Dir(), &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [&c](const KECGlpsFileManagerData& r) {
                              return r.m_eType == c.offending.m_eType &&
                                     r.m_strFileName == c.offending.m_strFileName &&
                                     r.m_bHashed == c.offending.m_bHashed;
                            }),
              1);

    // Clearing deletes the log's files, and none on the account of the offending records.
    ASSERT_TRUE(OpenExp(Dir(), info));
    EXPECT_TRUE(service_->ClearLogExp());
    ASSERT_TRUE(service_->LogExpExit(&info));
    EXPECT_EQ(ReadFileBytes(Dir() + "/notes.txt"), "notes of the host");
    if (c.offending.m_strFileName == kDocument2 && c.newDocument) {
      EXPECT_EQ(ReadFileBytes(Dir() + "/" + kDocument2), before[kDocument2]);
    }
    EXPECT_TRUE(Outside() == outside);
    std::filesystem::remove_all(Dir());
  }
}

// Archives that loading would refuse are never written (item 3): a metadata name larger than any
// log.xml that is read back. The save returns false and keeps the last log.xml; the next opening
// with the info handed over continues the log instead of starting it afresh.
TEST_F(HostileRecordsTest, ASaveNeverWritesALogXmlThatLoadingRefuses) {
  KECGlpsLogInfo info = MakeLog(1);
  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_TRUE(service_->LogExpMetaDataName("Titration 7"));
  ASSERT_TRUE(service_->LogExpMsg("saved"));
  ASSERT_TRUE(service_->LogExpSave("", &info));
  const std::string saved = ReadFileBytes(Dir() + "/log.xml");
  ASSERT_TRUE(service_->LogExpMetaDataName(std::string(257 << 20, 'n')));
  EXPECT_TRUE(service_->LogExpMsg("not saved"));
  KECGlpsLogInfo handed = info;
  EXPECT_FALSE(service_->LogExpSave("", &handed));
  EXPECT_EQ(handed, info);
  EXPECT_FALSE(service_->LogExpExit(&handed));
  EXPECT_EQ(handed, info);
  EXPECT_EQ(ReadFileBytes(Dir() + "/log.xml"), saved);

  ASSERT_TRUE(OpenExp(Dir(), handed));
  EXPECT_EQ(service_->GetLogExpMetaData().m_strExpName, "Titration 7");
  EXPECT_TRUE(service_->LogExpMsg("continued"));
  ASSERT_TRUE(service_->LogExpExit(&handed));
  EXPECT_EQ(Documents(Dir()), std::vector<std::string>{kDocument1});
  const std::string html = ReadFileBytes(Dir() + "/" + kDocument1);
  EXPECT_THAT(html, HasSubstr("saved"));
  EXPECT_THAT(html, HasSubstr("continued"));
  // The entry that no save covered was reported as an unsaved tail and cut; numbering goes on from
  // the last save: "weighed S1" was 1, "saved" 2, "continued" 3.
  EXPECT_THAT(html, Not(HasSubstr("not saved")));
  EXPECT_EQ(CountTamperTitles(Dir()), 1);
  std::vector<int> numbers;
  const std::regex prefix(R"((\d+)  \d{4}-\d\d-\d\d  )");
  const std::string text = glps_test::PlainText(html);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), prefix);
       it != std::sregex_iterator(); ++it) {
    numbers.push_back(std::stoi((*it)[1]));
  }
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
}

// A log.xml that the host's info vouches for but that does not load (here cut short, as a save of
// an earlier version could leave it), and one too large to be read, are not taken for a new log
// (item 3): the log is not usable (0xE02A2711), nothing in its directory changes, and the host is
// handed the info of the log.xml that is there.
TEST_F(HostileRecordsTest, ALogXmlThatDoesNotLoadIsNeverReplacedByANewLog) {
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> damage;
    bool readable;  // within the size limit: its info can be handed over
  };
  const Case cases[] = {
      {"cut short",
       [](const std::string& path) {
         const std::string bytes = ReadFileBytes(path);
         WriteFileBytes(path, bytes.substr(0, bytes.size() / 2));
       },
       true},
      {"larger than any log.xml read",
       [](const std::string& path) { ASSERT_EQ(truncate(path.c_str(), 257 << 20), 0); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeLog(1);
    c.damage(Dir() + "/log.xml");
    const KECGlpsLogInfo vouched = InfoOf(Dir() + "/log.xml");
    const TreeSnapshot before(tmp_.path(), "");
    unsigned error = 0;
    EXPECT_FALSE(OpenExp(Dir(), vouched, &error));
    EXPECT_EQ(error, glps_test::kErrorUnusable);
    EXPECT_FALSE(service_->LogExpMsg("nowhere"));
    KECGlpsLogInfo handed;
    EXPECT_FALSE(service_->LogExpSave("", &handed));
    EXPECT_FALSE(service_->ClearLogExp());
    EXPECT_FALSE(service_->LogExpExit(&handed));
    EXPECT_TRUE(TreeSnapshot(tmp_.path(), "") == before) << "something was written";
    EXPECT_EQ(handed, c.readable ? vouched : KECGlpsLogInfo());
    std::filesystem::remove_all(Dir());
  }
}

// A document shorter than its record, or gone (item 5): the same outcome whatever the recorded
// size (the bound of 64 MiB on re-basing is gone): reported once, the document kept as found with
// nothing added to it, the next opening clean. The records claim sizes the host's info vouches for.
TEST_F(HostileRecordsTest, AShrunkOrMissingDocumentIsReportedOnceWhateverItsSize) {
  for (const std::int64_t size : {std::int64_t{60} << 20, std::int64_t{70} << 20}) {
    for (const bool deleted : {false, true}) {
      SCOPED_TRACE(std::to_string(size >> 20) + " MiB, " + (deleted ? "deleted" : "shrunk"));
      MakeLog(1);
      const std::string document = Dir() + "/" + kDocument1;
      const std::string bytes = ReadFileBytes(document);
      EditRecords(Dir(), [size](Records& r) { Find(r, kDocument1)->m_nSize = size; });
      KECGlpsLogInfo info = InfoOf(Dir() + "/log.xml");
      if (deleted) {
        ASSERT_EQ(unlink(document.c_str()), 0);
      } else {
        WriteFileBytes(document, bytes.substr(0, bytes.size() / 2));
      }
      ASSERT_TRUE(OpenExp(Dir(), info));
      EXPECT_TRUE(service_->LogExpMsg("after the loss"));
      ASSERT_TRUE(service_->LogExpExit(&info));
      ASSERT_TRUE(OpenExp(Dir(), info));
      EXPECT_TRUE(service_->LogExpMsg("at the next opening"));
      ASSERT_TRUE(service_->LogExpExit(&info));
      EXPECT_EQ(CountTamperTitles(Dir()), 1);
      const std::string now = ReadFileBytes(document);
      EXPECT_EQ(now.find('\0'), std::string::npos) << "zeros stand in for the lost bytes";
      EXPECT_LT(now.size(), std::size_t{1} << 20);
      if (!deleted) {
        EXPECT_EQ(now.compare(0, bytes.size() / 2, bytes.substr(0, bytes.size() / 2)), 0);
      }
      EXPECT_NE(now.find("at the next opening"), std::string::npos);
      std::filesystem::remove_all(Dir());
    }
  }
}

// The lowest limit on descriptor numbers that leaves exactly `free` numbers free below it.
rlim_t LimitLeavingFree(int free) {
  std::set<int> open;
  if (DIR* fds = opendir("/proc/self/fd")) {
    const int own = dirfd(fds);
    while (const dirent* entry = readdir(fds)) {
      if (entry->d_name[0] == '.') continue;
      const int fd = std::stoi(entry->d_name);
      if (fd != own) open.insert(fd);
    }
    closedir(fds);
  }
  int limit = 0;
  for (int left = free; left > 0; ++limit) {
    if (open.count(limit) == 0) --left;
  }
  return static_cast<rlim_t>(limit);
}

// A host near its limit of file descriptors (item 4): entity queries read the documents' sidecars
// one at a time without holding documents open, so a query answers whole with a few descriptors to
// spare; with none to spare it says that it cannot answer, instead of answering short; a save that
// fails then hands over a whole info or the default one, never a hash without its size.
TEST_F(HostileRecordsTest, EntityQueriesHoldNoDocumentsOpenAndNeverAnswerShort) {
  const int kDocuments = 12;
  mkdir(Dir().c_str(), 0755);
  KECGlpsLogInfo info;
  for (int i = 0; i < kDocuments; ++i) {
    ASSERT_TRUE(OpenExp(Dir(), info));
    ASSERT_TRUE(
        service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(kEntityType, 7, KCGenGUID(true))));
    ASSERT_TRUE(service_->LogExpMsg(std::string(1 << 20, 'm')));
    ASSERT_TRUE(service_->LogExpExit(&info));
  }
  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_TRUE(
      service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(kEntityType, 7, KCGenGUID(true))));
  ASSERT_EQ(Documents(Dir()).size(), static_cast<std::size_t>(kDocuments + 1));

  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const auto limit = [&saved](rlim_t soft) {
    rlimit lowered = saved;
    lowered.rlim_cur = soft;
    return setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  };
  std::vector<std::pair<std::string, KCGenGUID>> entities;
  ASSERT_TRUE(limit(LimitLeavingFree(4)));
  const bool whole = service_->GetLogExpMetaDataEntity(kEntityType, 7, &entities);
  KECGlpsLogInfo handed;
  const bool savedNearTheLimit = service_->LogExpSave("", &handed);
  ASSERT_TRUE(limit(LimitLeavingFree(0)));
  std::vector<std::pair<std::string, KCGenGUID>> starved = {{"left over", KCGenGUID(true)}};
  const bool answered = service_->GetLogExpMetaDataEntity(kEntityType, 7, &starved);
  const auto starvedOld = service_->GetLogExpMetaDataEntity(kEntityType, 7);
  KECGlpsLogInfo starvedInfo = handed;
  const bool savedAtTheLimit = service_->LogExpSave("", &starvedInfo);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

  EXPECT_TRUE(whole);
  EXPECT_EQ(entities.size(), static_cast<std::size_t>(kDocuments + 1));
  EXPECT_TRUE(savedNearTheLimit);
  EXPECT_EQ(handed, InfoOf(Dir() + "/log.xml"));
  EXPECT_FALSE(answered);
  EXPECT_TRUE(starved.empty());
  EXPECT_TRUE(starvedOld.empty());
  EXPECT_FALSE(savedAtTheLimit);
  EXPECT_EQ(starvedInfo.m_strLogHash.empty(), starvedInfo.m_nLogSize == 0);
  EXPECT_TRUE(starvedInfo == handed || starvedInfo == KECGlpsLogInfo());

  ASSERT_TRUE(service_->LogExpExit(&info));
  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_TRUE(service_->GetLogExpMetaDataEntity(kEntityType, 7, &entities));
  EXPECT_EQ(entities.size(), static_cast<std::size_t>(kDocuments + 1));
  ASSERT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(CountTamperTitles(Dir()), 0);
}

}  // namespace
