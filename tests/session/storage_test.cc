// SPDX-License-Identifier: Apache-2.0
// KECGlpsLogSessionDataStorage: log.xml written and read back, its exact element layout, line ends,
// class versions, damaged and hostile files, failed saves, status and log info.
#include "session/session_data_storage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <regex>
#include <string>
#include <vector>

#include "glps/host/gen.h"
#include "gtest/gtest.h"
#include "platform/platform.h"
#include "platform/platform_syscalls.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"

// ---- Allocation probe ---------------------------------------------------------------------------
// The largest single allocation made while the probe is armed, to show that a count read from a
// file reserves nothing. Replaces the global allocation functions of this test program.

namespace {
std::atomic<bool> g_probeArmed{false};
std::atomic<std::size_t> g_largestAllocation{0};
}  // namespace

void* operator new(std::size_t size) {
  if (g_probeArmed.load(std::memory_order_relaxed)) {
    std::size_t seen = g_largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {
    }
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// Not inlined: the compiler would otherwise see memory from operator new handed to free.
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using glps_test::CatalogDifference;
using glps_test::HeaderDifference;
using glps_test::ListDirectory;
using glps_test::MetaDataDifference;
using glps_test::ReadFileBytes;
using glps_test::RecordsDifference;
using glps_test::SysCallsGuard;
using glps_test::TempDir;
using glps_test::WriteFileBytes;
using Records = std::vector<KECGlpsFileManagerData>;

const char kGuidText[] = "{D15149F8-F127-4781-B1F6-3C762D712E15}";

KECGlpsLogHeader SampleHeader() {
  KECGlpsLogHeader h;
  h.m_eContentType = static_cast<KCGenStandardFileHeader::EContentType>(-7);
  h.m_usContentVersion = 65535;
  h.m_tmCreation = KCGenTime::FromMicroseconds(1765349128123456);
  h.m_strUserCreation = "O'Neil & \"Sons\" <lab>";
  h.m_tmModification = KCGenTime(false);  // the null time
  h.m_strUserModification = "line one\nline two\r\nline three\rend";
  h.m_strSource = "\xC3\xA4\xFF\x80 \x01\x1f bytes";
  h.m_eDescription = static_cast<KCGenStandardFileHeader::EDescription>(2147483647);
  h.m_strDescription = "  blanks around \t ";
  h.m_guid = KCGenGUID(kGuidText);
  return h;
}

KECGlpsLogMetaData SampleMetaData() {
  KECGlpsLogMetaData m;
  m.m_strVersionOriginal = "4.0.1 <beta>";
  m.m_guidOriginal = KCGenGUID("{00000000-0000-0000-0000-000000000001}");
  m.m_strExpName = "";
  return m;
}

KECGlpsLogCatalog SampleCatalog() {
  KECGlpsLogCatalog c;
  c.m_lNextIndex = 41;
  c.m_merCodingSchemeInfo = {false, -2147483647 - 1};
  return c;
}

Records SampleRecords(std::size_t count) {
  const Records all = {
      {Glps::FileLog, "a&b<c>.html", "1B2M2Y8AsgTpgAmY7PhCfg==", 5000000000LL, true},
      {Glps::FileLink, "\xE4\xF6\xFC link\n.dat", "", 4294967296LL, false},
      {Glps::FileIndexMenu, "GLP-Menu.html", "", 0, false},
  };
  return Records(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count));
}

void PutSample(KECGlpsLogSessionDataStorage* storage, std::size_t recordCount) {
  storage->PutHeader(boost::shared_ptr<KECGlpsLogHeader>(new KECGlpsLogHeader(SampleHeader())));
  storage->PutMetaData(
      boost::shared_ptr<KECGlpsLogMetaData>(new KECGlpsLogMetaData(SampleMetaData())));
  storage->PutCatalog(boost::shared_ptr<KECGlpsLogCatalog>(new KECGlpsLogCatalog(SampleCatalog())));
  storage->PutFileData(boost::shared_ptr<Records>(new Records(SampleRecords(recordCount))));
}

void ExpectSample(const KECGlpsLogSessionDataStorage& s, std::size_t recordCount) {
  EXPECT_EQ(HeaderDifference(*s.GetHeader(), SampleHeader()), "");
  EXPECT_EQ(MetaDataDifference(*s.GetMetaData(), SampleMetaData()), "");
  EXPECT_EQ(CatalogDifference(*s.GetCatalog(), SampleCatalog()), "");
  EXPECT_EQ(RecordsDifference(*s.GetFileData(), SampleRecords(recordCount)), "");
}

void ExpectDefaults(const KECGlpsLogSessionDataStorage& s) {
  EXPECT_EQ(HeaderDifference(*s.GetHeader(), KECGlpsLogHeader()), "");
  EXPECT_EQ(MetaDataDifference(*s.GetMetaData(), KECGlpsLogMetaData()), "");
  EXPECT_EQ(CatalogDifference(*s.GetCatalog(), KECGlpsLogCatalog()), "");
  EXPECT_TRUE(s.GetFileData()->empty());
}

std::string LfOnly(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// Replaces the version attribute of the first start tag `tag` after `anchor`.
std::string WithVersion(std::string text, const std::string& anchor, const std::string& tag,
                        int version) {
  const std::size_t from = text.find(anchor);
  EXPECT_NE(from, std::string::npos) << anchor;
  const std::size_t start = text.find("<" + tag + " ", from);
  EXPECT_NE(start, std::string::npos) << tag;
  const std::size_t end = text.find('>', start);
  const std::string tagText = text.substr(start, end - start);
  const std::string changed = std::regex_replace(tagText, std::regex(" version=\"\\d+\""),
                                                 " version=\"" + std::to_string(version) + "\"");
  EXPECT_NE(tagText, changed) << tag;
  return text.replace(start, end - start, changed);
}

std::string ReplacedOnce(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at == std::string::npos) return text;
  return text.replace(at, from.size(), to);
}

class StorageTest : public ::testing::Test {
 protected:
  // Writes the sample with `recordCount` records and returns the file's bytes.
  std::string SaveSample(std::size_t recordCount) {
    KECGlpsLogSessionDataStorage storage(path_);
    PutSample(&storage, recordCount);
    EXPECT_TRUE(storage.Save());
    return ReadFileBytes(path_);
  }
  bool LoadText(const std::string& bytes, KECGlpsLogSessionDataStorage* into) {
    WriteFileBytes(path_, bytes);
    return into->Load();
  }
  bool LoadText(const std::string& bytes) {
    KECGlpsLogSessionDataStorage fresh(path_);
    return LoadText(bytes, &fresh);
  }

  TempDir dir_;
  const std::string path_ = dir_ / "log.xml";
};

// ---- Writing and reading back -------------------------------------------------------------------

TEST_F(StorageTest, SavedFileReadsBackMemberByMember) {
  const std::string bytes = SaveSample(3);
  // Special characters are escaped, line breaks inside values are written as a text stream
  // writes them, and other bytes pass as they are.
  EXPECT_NE(bytes.find("<m_strFileName>a&amp;b&lt;c&gt;.html</m_strFileName>"), std::string::npos);
  EXPECT_NE(bytes.find("line one\r\nline two\r\r\nline three\rend<"), std::string::npos);
  EXPECT_NE(bytes.find("\xC3\xA4\xFF\x80 \x01\x1f bytes"), std::string::npos);
  EXPECT_NE(bytes.find("<m_nSize>5000000000</m_nSize>"), std::string::npos);
  EXPECT_NE(bytes.find("<second>-2147483648</second>"), std::string::npos);

  KECGlpsLogSessionDataStorage loaded(path_);
  ASSERT_TRUE(loaded.Load());
  ExpectSample(loaded, 3);
}

TEST_F(StorageTest, EveryLineEndsInCrLfAndLfOnlyFilesReadTheSame) {
  const std::string bytes = SaveSample(2);
  std::size_t lineEnds = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    ++lineEnds;
    EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
  }
  EXPECT_GT(lineEnds, 40u);
  ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

  const std::string lfOnly = LfOnly(bytes);
  ASSERT_EQ(lfOnly.size() + lineEnds, bytes.size());
  KECGlpsLogSessionDataStorage loaded(path_);
  ASSERT_TRUE(LoadText(lfOnly, &loaded));
  // The value with "\r\n" inside cannot survive the loss of its CR, but everything else does.
  KECGlpsLogHeader expected = SampleHeader();
  expected.m_strUserModification = "line one\nline two\nline three\rend";
  EXPECT_EQ(HeaderDifference(*loaded.GetHeader(), expected), "");
  EXPECT_EQ(RecordsDifference(*loaded.GetFileData(), SampleRecords(2)), "");
}

TEST_F(StorageTest, DefaultObjectsSaveAsDocumentedAndReadBack) {
  KECGlpsLogSessionDataStorage storage(path_);
  ASSERT_TRUE(storage.Save());
  const std::string bytes = ReadFileBytes(path_);
  for (const char* expected :
       {"<m_lNextIndex>0</m_lNextIndex>", "<first>1</first>", "<second>-1</second>",
        "<count>0</count>", "<item_version>0</item_version>"}) {
    EXPECT_NE(bytes.find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(bytes.find("<item"), bytes.find("<item_version>"));

  KECGlpsLogSessionDataStorage loaded(path_);
  PutSample(&loaded, 2);
  ASSERT_TRUE(loaded.Load());
  ExpectDefaults(loaded);
}

// The start tags of log.xml in document order, with their depth below the archive's outermost
// element and their attributes; values of count and item_version checked too.
TEST_F(StorageTest, ElementTreeAndClassInformationMatchTheFormat) {
  const std::string bytes = SaveSample(2);
  const std::string text = LfOnly(bytes);
  EXPECT_EQ(text.find("<?xml version=\"1.0\""), 0u);
  EXPECT_NE(text.find("\n<!DOCTYPE boost_serialization>\n"), std::string::npos);
  EXPECT_TRUE(std::regex_search(
      text, std::regex("\n<boost_serialization signature=\"serialization::archive\" "
                       "version=\"\\d+\">\n")));

  std::vector<std::string> tags;
  int depth = -1;
  const std::regex tagPattern("<(/?)([A-Za-z_][A-Za-z0-9_]*)([^>]*)>");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), tagPattern);
       it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    if (m[1] == "/") {
      --depth;
      continue;
    }
    ++depth;
    if (depth > 0) tags.push_back(std::to_string(depth) + " " + m[2].str() + m[3].str());
  }
  EXPECT_EQ(depth, -1);

  const std::vector<std::string> recordMembers = {"5 m_eType", "5 m_strFileName", "5 m_strHash",
                                                  "5 m_nSize", "5 m_bHashed"};
  std::vector<std::string> expected = {
      "1 Session class_id=\"0\" tracking_level=\"0\" version=\"0\"",
      "2 m_ptrHeader class_id=\"1\" tracking_level=\"0\" version=\"1\"",
      "3 px class_id=\"2\" tracking_level=\"1\" version=\"0\" object_id=\"_0\"",
      "4 m_eContentType",
      "4 m_usContentVersion",
      "4 m_tmCreation",
      "4 m_strUserCreation",
      "4 m_tmModification",
      "4 m_strUserModification",
      "4 m_strSource",
      "4 m_eDescription",
      "4 m_strDescription",
      "4 m_guid",
      "2 m_ptrMetaData class_id=\"3\" tracking_level=\"0\" version=\"1\"",
      "3 px class_id=\"4\" tracking_level=\"1\" version=\"0\" object_id=\"_1\"",
      "4 m_strVersionOriginal",
      "4 m_guidOriginal",
      "4 m_strExpName",
      "2 m_ptrCatalog class_id=\"5\" tracking_level=\"0\" version=\"1\"",
      "3 px class_id=\"6\" tracking_level=\"1\" version=\"1\" object_id=\"_2\"",
      "4 m_lNextIndex",
      "4 m_merCodingSchemeInfo class_id=\"7\" tracking_level=\"0\" version=\"0\"",
      "5 first",
      "5 second",
      "2 m_ptrFileData class_id=\"8\" tracking_level=\"0\" version=\"1\"",
      "3 px class_id=\"9\" tracking_level=\"1\" version=\"0\" object_id=\"_3\"",
      "4 count",
      "4 item_version",
      "4 item class_id=\"10\" tracking_level=\"0\" version=\"0\""};
  expected.insert(expected.end(), recordMembers.begin(), recordMembers.end());
  expected.push_back("4 item");
  expected.insert(expected.end(), recordMembers.begin(), recordMembers.end());
  EXPECT_EQ(tags, expected);

  EXPECT_NE(text.find("<count>2</count>"), std::string::npos);
  EXPECT_NE(text.find("<item_version>0</item_version>"), std::string::npos);
  EXPECT_NE(text.find(std::string("<m_guid>") + kGuidText + "</m_guid>"), std::string::npos);
}

// ---- Class versions
// ------------------------------------------------------------------------------

TEST_F(StorageTest, CatalogOfVersionZeroLoadsWithTheDefaultCodingScheme) {
  std::string text = LfOnly(SaveSample(2));
  text = WithVersion(text, "<m_ptrCatalog", "px", 0);
  // Without the pair, the classes after it take the ids one lower, as a version-0 writer gives.
  const std::size_t pairStart = text.find("<m_merCodingSchemeInfo");
  const std::string pairEnd = "</m_merCodingSchemeInfo>\n";
  const std::size_t pairStop = text.find(pairEnd) + pairEnd.size();
  text.erase(text.rfind('\n', pairStart) + 1, pairStop - (text.rfind('\n', pairStart) + 1));
  text = ReplacedOnce(text, "class_id=\"8\"", "class_id=\"7\"");
  text = ReplacedOnce(text, "class_id=\"9\"", "class_id=\"8\"");
  text = ReplacedOnce(text, "class_id=\"10\"", "class_id=\"9\"");
  ASSERT_EQ(text.find("m_merCodingSchemeInfo"), std::string::npos);

  KECGlpsLogSessionDataStorage loaded(path_);
  ASSERT_TRUE(LoadText(text, &loaded));
  EXPECT_EQ(loaded.GetCatalog()->m_lNextIndex, 41);
  EXPECT_EQ(loaded.GetCatalog()->m_merCodingSchemeInfo, std::make_pair(true, -1));
  EXPECT_EQ(RecordsDifference(*loaded.GetFileData(), SampleRecords(2)), "");
}

TEST_F(StorageTest, ClassVersionsNewerThanWrittenDoNotLoad) {
  const std::string text = SaveSample(2);
  ASSERT_TRUE(LoadText(text));
  struct Case {
    const char* anchor;
    const char* tag;
    int version;
  };
  const Case cases[] = {
      {"<boost_serialization", "Session", 1},
      {"<Session", "m_ptrHeader", 2},
      {"<Session", "m_ptrMetaData", 2},
      {"<m_ptrHeader", "px", 1},
      {"<m_ptrMetaData", "px", 1},
      {"<m_ptrCatalog", "px", 2},
      {"<m_ptrCatalog", "m_merCodingSchemeInfo", 1},
      {"<m_ptrFileData", "px", 1},
      {"<m_ptrFileData", "item", 1},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(LoadText(WithVersion(text, c.anchor, c.tag, c.version)))
        << c.tag << " after " << c.anchor << " of version " << c.version;
  }
  EXPECT_FALSE(LoadText(ReplacedOnce(text, "<item_version>0<", "<item_version>1<")));
}

TEST_F(StorageTest, FailureKeepsWhatWasReadBeforeItAndDefaultsAfter) {
  const std::string text = SaveSample(2);
  KECGlpsLogSessionDataStorage loaded(path_);
  ASSERT_FALSE(LoadText(WithVersion(text, "<m_ptrCatalog", "px", 2), &loaded));
  EXPECT_EQ(HeaderDifference(*loaded.GetHeader(), SampleHeader()), "");
  EXPECT_EQ(MetaDataDifference(*loaded.GetMetaData(), SampleMetaData()), "");
  EXPECT_EQ(CatalogDifference(*loaded.GetCatalog(), KECGlpsLogCatalog()), "");
  EXPECT_TRUE(loaded.GetFileData()->empty());

  // A record vector that breaks off after its first item is not taken either.
  KECGlpsLogSessionDataStorage cut(path_);
  ASSERT_FALSE(LoadText(ReplacedOnce(text, "<count>2<", "<count>3<"), &cut));
  EXPECT_EQ(CatalogDifference(*cut.GetCatalog(), SampleCatalog()), "");
  EXPECT_TRUE(cut.GetFileData()->empty());
}

// ---- Damaged and hostile files
// -------------------------------------------------------------------

TEST_F(StorageTest, HugeCountFailsWithoutReservingForIt) {
  const std::string text = SaveSample(2);
  // Baseline: the probe sees the allocations of a normal load.
  g_largestAllocation = 0;
  g_probeArmed = true;
  const bool baseline = LoadText(text);
  g_probeArmed = false;
  ASSERT_TRUE(baseline);
  ASSERT_GT(g_largestAllocation.load(), 0u);

  for (const char* count : {"200000000", "4611686018427387903", "18446744073709551615", "-1"}) {
    const std::string damaged =
        ReplacedOnce(text, "<count>2</count>", std::string("<count>") + count + "</count>");
    KECGlpsLogSessionDataStorage loaded(path_);
    WriteFileBytes(path_, damaged);
    g_largestAllocation = 0;
    g_probeArmed = true;
    const bool result = loaded.Load();
    g_probeArmed = false;
    EXPECT_FALSE(result) << count;
    EXPECT_LT(g_largestAllocation.load(), std::size_t{1} << 20) << count;
    EXPECT_TRUE(loaded.GetFileData()->empty());
  }
}

TEST_F(StorageTest, FileCutAtAnyByteFailsUntilTheArchiveIsComplete) {
  const std::string text = SaveSample(2);
  const std::string closing = "</boost_serialization>";
  const std::size_t complete = text.rfind(closing) + closing.size();
  for (std::size_t length = 0; length < text.size(); ++length) {
    KECGlpsLogSessionDataStorage loaded(path_);
    const bool result = LoadText(text.substr(0, length), &loaded);
    ASSERT_EQ(result, length >= complete) << "cut at " << length;
    ASSERT_TRUE(loaded.GetHeader() && loaded.GetMetaData() && loaded.GetCatalog() &&
                loaded.GetFileData());
  }
}

TEST_F(StorageTest, MalformedFilesFail) {
  const std::string text = SaveSample(2);
  const std::string cases[] = {
      "",
      "not xml at all",
      ReplacedOnce(text, "serialization::archive", "serialization::other"),
      ReplacedOnce(text, "</m_strHash>", "</m_strHush>"),
      ReplacedOnce(text, "<m_nSize>5000000000<", "<m_nSize>5e9<"),
      ReplacedOnce(text, "<m_lNextIndex>41<", "<m_lNextIndex>99999999999<"),
      ReplacedOnce(text, "<m_tmCreation>", "<m_tmCreation>yesterday"),
      ReplacedOnce(text, std::string("<m_guid>") + kGuidText, "<m_guid>{D15149F8}"),
      ReplacedOnce(text, "a&amp;b", "a&b"),
      text + "<trailing/>",
  };
  for (std::size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    KECGlpsLogSessionDataStorage loaded(path_);
    EXPECT_FALSE(LoadText(cases[i], &loaded)) << "case " << i;
  }
}

// A pointer's element names an earlier object instead of holding one, or claims to be null: the
// archive's own pointer reading would hand back the header as metadata, or an empty pointer.
TEST_F(StorageTest, PointerElementsWithoutTheirObjectFail) {
  const std::string text = LfOnly(SaveSample(2));
  const std::size_t start = text.find("<px", text.find("<m_ptrMetaData"));
  const std::size_t stop = text.find("</px>", start) + 5;
  const std::string replacements[] = {
      "<px class_id=\"4\" tracking_level=\"1\" version=\"0\" object_id_reference=\"_0\"></px>",
      "<px class_id_reference=\"2\" object_id_reference=\"_0\"></px>",
      "<px class_id=\"-1\"></px>",
  };
  for (const std::string& replacement : replacements) {
    std::string hostile = text;
    hostile.replace(start, stop - start, replacement);
    KECGlpsLogSessionDataStorage loaded(path_);
    EXPECT_FALSE(LoadText(hostile, &loaded)) << replacement;
    ASSERT_TRUE(loaded.GetMetaData());
    EXPECT_EQ(MetaDataDifference(*loaded.GetMetaData(), KECGlpsLogMetaData()), "");
    EXPECT_NE(static_cast<const void*>(loaded.GetMetaData().get()),
              static_cast<const void*>(loaded.GetHeader().get()));
  }
  // Class ids in the file are not used to look anything up: an id far beyond the known ones on a
  // complete object reads as usual.
  KECGlpsLogSessionDataStorage loaded(path_);
  EXPECT_TRUE(
      LoadText(ReplacedOnce(text, "<px class_id=\"4\"", "<px class_id=\"100000\""), &loaded));
  EXPECT_EQ(MetaDataDifference(*loaded.GetMetaData(), SampleMetaData()), "");
}

TEST_F(StorageTest, LoadEmptiesTheSharedRecordVectorFirst) {
  KECGlpsLogSessionDataStorage storage(path_);
  boost::shared_ptr<Records> shared(new Records(SampleRecords(2)));
  storage.PutFileData(shared);
  EXPECT_FALSE(storage.Load());  // no file
  EXPECT_EQ(storage.GetFileData(), shared);
  EXPECT_TRUE(shared->empty());
  EXPECT_EQ(HeaderDifference(*storage.GetHeader(), KECGlpsLogHeader()), "");
}

// ---- Saving
// --------------------------------------------------------------------------------------

int g_injectedErrno = 0;
ssize_t WriteFailing(int, const void*, size_t) {
  errno = g_injectedErrno = ENOSPC;
  return -1;
}
int FsyncFailing(int) {
  errno = g_injectedErrno = EIO;
  return -1;
}
int RenameFailing(int, const char*, int, const char*) {
  errno = g_injectedErrno = EXDEV;
  return -1;
}

TEST_F(StorageTest, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
  const std::string old = SaveSample(2);
  struct Case {
    const char* name;
    void (*inject)(glps::platform::SysCalls&);
  };
  const Case cases[] = {
      {"write", [](glps::platform::SysCalls& c) { c.write = WriteFailing; }},
      {"fdatasync", [](glps::platform::SysCalls& c) { c.fdatasync = FsyncFailing; }},
      {"rename", [](glps::platform::SysCalls& c) { c.renameat = RenameFailing; }},
  };
  for (const Case& c : cases) {
    KECGlpsLogSessionDataStorage storage(path_);  // default objects: other content than `old`
    g_injectedErrno = 0;
    {
      SysCallsGuard guard;
      c.inject(guard.calls());
      EXPECT_FALSE(storage.Save()) << c.name;
    }
    EXPECT_NE(g_injectedErrno, 0) << c.name << " was not reached";
    EXPECT_EQ(ReadFileBytes(path_), old) << c.name;
    EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{"log.xml"}) << c.name;
  }

  // An empty pointer would write a file that cannot be read back into a usable log.
  KECGlpsLogSessionDataStorage storage(path_);
  storage.PutCatalog(boost::shared_ptr<KECGlpsLogCatalog>());
  EXPECT_FALSE(storage.Save());
  EXPECT_EQ(ReadFileBytes(path_), old);
  EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{"log.xml"});
}

TEST_F(StorageTest, ReadOnlyFileIsNotReplacedButLoads) {
  const std::string old = SaveSample(2);
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  KECGlpsLogSessionDataStorage storage(path_);
  EXPECT_EQ(storage.GetStatus(), 2);
  EXPECT_FALSE(storage.Save());  // also when running as root
  EXPECT_EQ(ReadFileBytes(path_), old);
  EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{"log.xml"});
  ASSERT_TRUE(storage.Load());
  ExpectSample(storage, 2);
}

TEST_F(StorageTest, SaveIntoMissingDirectoryFails) {
  KECGlpsLogSessionDataStorage storage(dir_ / "missing/log.xml");
  EXPECT_FALSE(storage.Save());
  EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{});
}

TEST_F(StorageTest, SaveReplacesTheWholeFile) {
  SaveSample(3);
  KECGlpsLogSessionDataStorage storage(path_);
  ASSERT_TRUE(storage.Save());
  KECGlpsLogSessionDataStorage loaded(path_);
  ASSERT_TRUE(loaded.Load());
  ExpectDefaults(loaded);
  EXPECT_EQ(ListDirectory(dir_.path()), std::vector<std::string>{"log.xml"});
}

// ---- Status and log info
// -------------------------------------------------------------------------

TEST_F(StorageTest, StatusTellsMissingWritableAndReadOnly) {
  WriteFileBytes(dir_ / "file", "x");
  ASSERT_EQ(mkdir((dir_ / "directory").c_str(), 0755), 0);
  ASSERT_EQ(symlink((dir_ / "file").c_str(), (dir_ / "link").c_str()), 0);
  WriteFileBytes(dir_ / "readonly", "x");
  ASSERT_EQ(chmod((dir_ / "readonly").c_str(), 0444), 0);
  struct Case {
    const char* name;
    int status;
  };
  for (const Case& c : {Case{"missing", 1}, Case{"file", 0}, Case{"readonly", 2},
                        Case{"directory", 1}, Case{"link", 1}}) {
    EXPECT_EQ(KECGlpsLogSessionDataStorage(dir_ / c.name).GetStatus(), c.status) << c.name;
  }
}

TEST_F(StorageTest, LogInfoOfMissingFileIsTheNoLogInfoValue) {
  KECGlpsLogSessionDataStorage storage(path_);
  EXPECT_EQ(storage.GetLogInfo(), KECGlpsLogInfo());
  EXPECT_TRUE(storage.MatchesLogInfo(KECGlpsLogInfo()));
  KECGlpsLogInfo withSize;
  withSize.m_nLogSize = 1;
  KECGlpsLogInfo withHash;
  withHash.m_strLogHash = "x";
  EXPECT_FALSE(storage.MatchesLogInfo(withSize));
  EXPECT_FALSE(storage.MatchesLogInfo(withHash));
}

TEST_F(StorageTest, LogInfoIdentifiesTheFileOnDisk) {
  const std::string bytes = SaveSample(2);
  KECGlpsLogSessionDataStorage storage(path_);
  const KECGlpsLogInfo info = storage.GetLogInfo();
  EXPECT_EQ(info.m_nLogSize, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(info.m_strLogHash, KCGenCryptUtils::Instance()->GetFileHash(path_));
  EXPECT_FALSE(info.m_strLogHash.empty());
  EXPECT_TRUE(storage.MatchesLogInfo(info));

  std::string changed = bytes;
  changed[changed.find("<m_lNextIndex>41<") + 14] = '5';
  WriteFileBytes(path_, changed);
  EXPECT_FALSE(storage.MatchesLogInfo(info));
  KECGlpsLogInfo lowerCase = storage.GetLogInfo();
  std::transform(lowerCase.m_strLogHash.begin(), lowerCase.m_strLogHash.end(),
                 lowerCase.m_strLogHash.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_FALSE(storage.MatchesLogInfo(lowerCase));
}

}  // namespace
