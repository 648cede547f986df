// SPDX-License-Identifier: Apache-2.0
// Hostile and unusual input through the public interface: odd messages, names, log directories, and
// log.xml files and sidecars changed by someone else. Each must end in a clear false result or a
// log reported tampered; nothing may crash, and nothing outside the log directory may change.
#include <gmock/gmock.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
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
using glps_test::ListDirectory;
using glps_test::ReadFileBytes;
using glps_test::TreeSnapshot;
using glps_test::WriteFileBytes;
using ::testing::HasSubstr;
using ::testing::Not;

const char kDocument[] = "GLP-Log-Exp_0001.html";
const char kSidecar[] = "GLP-Log-Exp_0001.xml";
const Glps::ELogEntity kEntityType = static_cast<Glps::ELogEntity>(1);

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A root with sentinels around the log directory "<root>/log"; `outside` is taken when the test
// has set up its directory.
class HostileInputTest : public glps_test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    glps_test::PlantSentinels(tmp_.path());
  }
  std::string Dir() const { return tmp_ / "log"; }
  TreeSnapshot Outside() const { return TreeSnapshot(tmp_.path(), Dir()); }

  // A saved log: one document with two entries, a linked file and a sidecar with one entity.
  KECGlpsLogInfo MakeLog() {
    mkdir(Dir().c_str(), 0755);
    WriteFileBytes(Dir() + "/data.csv", "a,b\n");
    KECGlpsLogInfo info;
    EXPECT_TRUE(OpenExp(Dir(), info));
    EXPECT_TRUE(service_->LogExpLink("data.csv"));
    EXPECT_TRUE(
        service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(kEntityType, 7, KCGenGUID(true))));
    EXPECT_TRUE(service_->LogExpMsg("first"));
    EXPECT_TRUE(service_->LogExpMsg("second"));
    EXPECT_TRUE(service_->LogExpExit(&info));
    return info;
  }
};

TEST_F(HostileInputTest, OddMessagesAreWrittenAsInertTextAndVerifyAfterwards) {
  struct Case {
    const char* what;
    std::string message;
    std::string html;  // what the entry's message must read as in the document
  };
  const std::string big(10 << 20, 'm');
  const std::vector<Case> cases = {
      {"NUL bytes", std::string("be\0fore\0", 8), "<B>be&#65533;fore&#65533;</B>"},
      {"invalid UTF-8", "\xff\xfe\xc0\xaf x \xe2\x82",
       "<B>&#65533;&#65533;&#65533;&#65533; x &#65533;</B>"},
      {"markup", "<script>alert(1)</script><!--",
       "<B>&lt;script&gt;alert(1)&lt;/script&gt;&lt;!--</B>"},
      {"line ends and controls", "a\r\nb\x1b[31m", "<B>a\r\nb&#65533;[31m</B>"},
      {"10 MB", big, "<B>" + big + "</B>"},
  };
  mkdir(Dir().c_str(), 0755);
  const TreeSnapshot outside = Outside();
  ASSERT_TRUE(OpenExp(Dir(), KECGlpsLogInfo()));
  const std::string document = Dir() + "/" + kDocument;
  const std::int64_t sizeBefore = KCGenFileUtils::FileGetSize(document);
  EXPECT_TRUE(service_->LogExpMsg(""));
  EXPECT_EQ(KCGenFileUtils::FileGetSize(document), sizeBefore) << "an empty message writes nothing";
  for (const Case& c : cases) EXPECT_TRUE(service_->LogExpMsg(c.message)) << c.what;
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpExit(&info));

  const std::string html = ReadFileBytes(document);
  for (const Case& c : cases) {
    EXPECT_NE(html.find(c.html), std::string::npos) << c.what;
  }
  EXPECT_EQ(html.find('\0'), std::string::npos);
  EXPECT_THAT(html, Not(HasSubstr("<script")));
  // The whole trail is 7-bit text: nothing a browser could read in another character set.
  for (unsigned char ch : html) ASSERT_LT(ch, 0x80);

  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_TRUE(service_->LogExpExit(&info));
  EXPECT_EQ(CountTamperTitles(Dir()), 0);
  EXPECT_EQ(Documents(Dir()).size(), 2u) << "the 10 MB document is full: a second one follows";
  EXPECT_TRUE(Outside() == outside);
}

TEST_F(HostileInputTest, HostileExperimentNamesMakePlainDocumentNames) {
  const std::vector<std::string> names = {"../../outside",
                                          "a/b\\c",
                                          "..",
                                          "-rf",
                                          "--help",
                                          std::string(300, 'n'),
                                          std::string("nul\0x", 5),
                                          "",
                                          "line\nbreak",
                                          "$(touch pwned)",
                                          "*?[",
                                          "\xff\xfe"};
  mkdir(Dir().c_str(), 0755);
  const TreeSnapshot outside = Outside();
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(OpenExp(Dir(), KECGlpsLogInfo(), nullptr, name));
    ASSERT_TRUE(service_->LogExpMsg("entry"));
    KECGlpsLogInfo info;
    ASSERT_TRUE(service_->LogExpExit(&info));
    for (const std::string& file : ListDirectory(Dir())) {
      EXPECT_LE(file.size(), 255u);
      EXPECT_NE(file[0], '-');
      EXPECT_EQ(file.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                       "0123456789_-."),
                std::string::npos)
          << file;
    }
    ASSERT_TRUE(OpenExp(Dir(), info, nullptr, name));
    ASSERT_TRUE(service_->LogExpExit(nullptr));
    EXPECT_EQ(CountTamperTitles(Dir()), 0);
    for (const std::string& file : ListDirectory(Dir())) unlink((Dir() + "/" + file).c_str());
  }
  EXPECT_TRUE(Outside() == outside);
}

TEST_F(HostileInputTest, HostileLinkNamesAreRefusedWithoutEffect) {
  const KECGlpsLogInfo info = MakeLog();
  WriteFileBytes(Dir() + "/-rf", "a file with an unfortunate name");
  ASSERT_EQ(symlink((tmp_ / "secret.html").c_str(), (Dir() + "/outside-link").c_str()), 0);
  mkdir((Dir() + "/subdir").c_str(), 0755);
  const TreeSnapshot outside = Outside();
  struct Case {
    std::string name;
    bool result;
  };
  const std::vector<Case> cases = {
      {"-rf", true},  // a plain name, however it reads to a shell
      {"../sentinel.txt", false},
      {tmp_ / "sentinel.txt", false},
      {"a/b", false},
      {"..", false},
      {".", false},
      {"", false},
      {std::string("data.csv\0../x", 13), false},
      {std::string(300, 'l'), false},
      {"outside-link", false},  // a symbolic link is never followed
      {"subdir", false},
      // The log's own files are not links.
      {"log.xml", false},
      {kDocument, false},
      {kSidecar, false},
      {"GLP-Main.html", false},
      {"GLP-Menu.html", false},
  };
  ASSERT_TRUE(OpenExp(Dir(), info));
  for (const Case& c : cases) {
    EXPECT_EQ(service_->LogExpLink(c.name), c.result) << c.name;
  }
  KECGlpsLogInfo after;
  ASSERT_TRUE(service_->LogExpExit(&after));
  // Refused names leave no trace: the log reopens untampered, with its one document.
  ASSERT_TRUE(OpenExp(Dir(), after));
  EXPECT_TRUE(service_->LogExpMsg("after the links"));
  ASSERT_TRUE(service_->LogExpExit(&after));
  EXPECT_EQ(CountTamperTitles(Dir()), 0);
  EXPECT_EQ(Documents(Dir()), std::vector<std::string>{kDocument});
  EXPECT_THAT(ReadFileBytes(Dir() + "/" + kDocument), HasSubstr("<B>after the links</B>"));
  EXPECT_TRUE(Outside() == outside);
}

// What a host tries on an experiment log in `dir` that cannot be used; a bit set in the result for
// each step that did not fail as it must.
int TryUnusableLog(KECGlpsServices* service, const std::string& dir) {
  unsigned error = 0;
  bool opened = false;
  KECGlpsLogInfo info;
  int failures = 0;
  if (service->LogExpInit(dir, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                          glps_test::Experiment("Exp"), &error, &opened)) {
    failures |= 1;
  }
  if (error != glps_test::kErrorUnusable) failures |= 2;
  if (service->LogExpMsg("nowhere to go")) failures |= 4;
  if (service->LogExpSave("", &info)) failures |= 8;
  if (service->ClearLogExp()) failures |= 16;
  if (service->LogExpExit(&info)) failures |= 32;
  if (info.IsValid()) failures |= 64;
  return failures;
}

TEST_F(HostileInputTest, UnusableLogDirectories) {
  struct Case {
    const char* what;
    std::function<std::string()> prepare;  // returns the directory to open
    bool withoutRoot;  // tried in a child process that has given up root's rights
  };
  const Case cases[] = {
      {"missing", [this]() { return tmp_ / "missing"; }, false},
      {"below a missing directory", [this]() { return tmp_ / "missing/log"; }, false},
      {"a regular file",
       [this]() {
         WriteFileBytes(tmp_ / "file", "not a directory");
         return tmp_ / "file";
       },
       false},
      // Permissions do not stop root: as root, the host is played by a child that is not.
      {"read-only",
       [this]() {
         mkdir(Dir().c_str(), 0755);
         chmod(Dir().c_str(), 0555);
         chmod(tmp_.path().c_str(), 0755);
         return Dir();
       },
       true},
      {"the open application log's directory",
       [this]() {
         EXPECT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
         return AppDir();
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = c.prepare();
    const TreeSnapshot before(tmp_.path(), "");
    if (c.withoutRoot && geteuid() == 0) {
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        const uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(255);
        _exit(TryUnusableLog(service_, dir));
      }
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
    } else {
      EXPECT_EQ(TryUnusableLog(service_, dir), 0);
    }
    EXPECT_TRUE(TreeSnapshot(tmp_.path(), "") == before) << "something was written";
  }
  // The application log was not disturbed by the refused experiment log in its directory.
  KECGlpsLogInfo app;
  ASSERT_TRUE(service_->LogAppExit(&app));
  ASSERT_TRUE(service_->LogAppInit(app));
  EXPECT_FALSE(service_->IsLogAppTampered());
}

TEST_F(HostileInputTest, DirectoryFullOfLeftoversIsUsedAroundThem) {
  mkdir(Dir().c_str(), 0755);
  WriteFileBytes(Dir() + "/" + kDocument, "an earlier log's document");
  WriteFileBytes(Dir() + "/" + kSidecar, "an earlier log's sidecar");
  WriteFileBytes(Dir() + "/GLP-Log-Exp_0005.xml", "a host's file named like a sidecar");
  WriteFileBytes(Dir() + "/GLP-Menu.html", "stale page");
  ASSERT_EQ(mkfifo((Dir() + "/GLP-Log-Exp_0002.html").c_str(), 0644), 0);
  ASSERT_EQ(symlink((tmp_ / "secret.html").c_str(), (Dir() + "/GLP-Log-Exp_0003.html").c_str()), 0);
  mkdir((Dir() + "/GLP-Log-Exp_0004.html").c_str(), 0755);
  WriteFileBytes(Dir() + "/GLP-Log-Exp_0004.html/inside", "x");
  const TreeSnapshot leftovers(tmp_.path(), "");
  // The temporary file of an interrupted save of log.xml is the log's own: its opening removes it.
  WriteFileBytes(Dir() + "/.log.xml.tmp-AbCdEf", "<half");

  ASSERT_TRUE(OpenExp(Dir(), KECGlpsLogInfo()));
  EXPECT_FALSE(glps::platform::PathExists(Dir() + "/.log.xml.tmp-AbCdEf"));
  ASSERT_TRUE(service_->LogExpMsg("in a new document"));
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpSave("", &info));
  EXPECT_THAT(ReadFileBytes(Dir() + "/GLP-Log-Exp_0006.html"), HasSubstr("in a new document"));
  ASSERT_TRUE(service_->ClearLogExp());
  ASSERT_TRUE(service_->LogExpExit(&info));
  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(CountTamperTitles(Dir()), 0);

  // Every leftover is as it was: not emptied, followed, deleted or replaced.
  for (const char* name :
       {"GLP-Log-Exp_0006.html", "GLP-Log-Exp_0006.xml", "log.xml", "log.lock"}) {
    unlink((Dir() + "/" + name).c_str());
  }
  EXPECT_TRUE(TreeSnapshot(tmp_.path(), "") == leftovers);
}

// log.xml changed by someone else, opened with the info of the log.xml the library wrote.
TEST_F(HostileInputTest, ChangedLogXmlGivesATamperedLogOrAFalseResult) {
  const auto records = [](const std::function<void(std::vector<KECGlpsFileManagerData>&)>& change) {
    return [change](const std::string& dir) {
      KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
      ASSERT_TRUE(storage.Load());
      change(*storage.GetFileData());
      ASSERT_TRUE(storage.Save());
    };
  };
  const auto text = [](const std::function<std::string(const std::string&)>& change) {
    return [change](const std::string& dir) {
      WriteFileBytes(dir + "/log.xml", change(ReadFileBytes(dir + "/log.xml")));
    };
  };
  const auto field = [](const std::string& name, std::int64_t value) {
    return [name, value](std::vector<KECGlpsFileManagerData>& files) {
      for (KECGlpsFileManagerData& record : files) {
        if (record.m_strFileName == name) record.m_nSize = value;
      }
    };
  };
  const auto rename = [](const std::string& from, const std::string& to) {
    return [from, to](std::vector<KECGlpsFileManagerData>& files) {
      for (KECGlpsFileManagerData& record : files) {
        if (record.m_strFileName == from) record.m_strFileName = to;
      }
    };
  };
  const auto linkOut = [this](const std::string& name) {
    return [this, name](const std::string& dir) {
      unlink((dir + "/" + name).c_str());
      ASSERT_EQ(symlink((tmp_ / "secret.html").c_str(), (dir + "/" + name).c_str()), 0);
    };
  };
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "<px>";
  std::string laughs = "<!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"" + std::string(10, '&') + "\">";
  }
  laughs += "]>";

  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> change;
    bool valid;  // the log stays usable (then it must be reported tampered)
  };
  const Case cases[] = {
      {"empty", text([](const std::string&) { return std::string(); }), true},
      {"truncated", text([](const std::string& t) { return t.substr(0, t.size() / 2); }), true},
      {"not XML", text([](const std::string&) { return std::string("\x89PNG\r\n\x1a\n garbage"); }),
       true},
      {"deeply nested",
       text([&](const std::string& t) { return Replace(t, "<px", nested + "<px"); }), true},
      {"entity declarations", text([&](const std::string& t) {
         return Replace(t, "<!DOCTYPE boost_serialization>", laughs);
       }),
       true},
      {"record count far beyond its items", text([](const std::string& t) {
         return Replace(t, "<count>3</count>", "<count>4000000000</count>");
       }),
       true},
      {"class version from the future", text([](const std::string& t) {
         return Replace(t, "version=\"1\" object_id=\"_2\"", "version=\"9\" object_id=\"_2\"");
       }),
       true},
      {"document size negative", records(field(kDocument, -5)), true},
      {"document size huge", records(field(kDocument, std::int64_t{1} << 40)), true},
      {"document size largest", records(field(kDocument, INT64_MAX)), true},
      {"sidecar size huge", records(field(kSidecar, std::int64_t{1} << 40)), true},
      {"linked file size negative", records(field("data.csv", -1)), true},
      // The record breaks the rules of the record set: logging goes on in a new document.
      {"document renamed to a path outside", records(rename(kDocument, "../secret.html")), true},
      {"document renamed to an absolute path", records(rename(kDocument, tmp_ / "secret.html")),
       true},
      {"link renamed to a path outside", records(rename("data.csv", "../sentinel.txt")), true},
      {"sidecar renamed to a path outside", records(rename(kSidecar, "../neighbour/data.csv")),
       true},
      {"names empty, dot-dot and 300 characters",
       records([](std::vector<KECGlpsFileManagerData>& files) {
         files[1].m_strFileName = "";
         files[2].m_strFileName = "..";
         KECGlpsFileManagerData extra = files[1];
         extra.m_strFileName = std::string(300, 'x');
         files.push_back(extra);
       }),
       true},
      {"document is a link to a file outside", linkOut(kDocument), false},
      {"sidecar is a link to a file outside", linkOut(kSidecar), true},
      {"linked file is a link to a file outside", linkOut("data.csv"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const KECGlpsLogInfo info = MakeLog();
    const TreeSnapshot outside = Outside();
    c.change(Dir());
    unsigned error = 0;
    const bool opened = OpenExp(Dir(), info, &error);
    EXPECT_EQ(opened, c.valid);
    if (c.valid) {
      EXPECT_EQ(CountTamperTitles(Dir()), 1) << "not reported tampered";
      EXPECT_TRUE(service_->LogExpMsg("after the change"));
    } else {
      EXPECT_EQ(error, glps_test::kErrorUnusable);
    }
    service_->GetLogExpMetaDataEntity(kEntityType, 7);
    const std::string exported = Dir() + "/exported";
    mkdir(exported.c_str(), 0755);
    service_->ExportLogExp(exported);
    for (const std::string& name : ListDirectory(exported)) {
      EXPECT_NE(ReadFileBytes(exported + "/" + name), ReadFileBytes(tmp_ / "secret.html")) << name;
    }
    // Clearing deletes the log's files, never what a record or a link points at outside.
    service_->ClearLogExp();
    service_->LogExpExit(nullptr);
    for (const std::string& name : ListDirectory(Dir())) {
      EXPECT_LT(KCGenFileUtils::FileGetSize(Dir() + "/" + name), 1 << 20) << name;
    }
    EXPECT_TRUE(Outside() == outside) << "something outside the log directory changed";
    std::filesystem::remove_all(Dir());
  }
}

// A sidecar changed by someone else: the log is reported tampered and opens with whatever entities
// could be read.
TEST_F(HostileInputTest, ChangedSidecarGivesATamperedLog) {
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "<item>";
  struct Case {
    const char* what;
    std::function<std::string(const std::string&)> change;
    std::size_t entities;  // read back for the handle 7
  };
  const Case cases[] = {
      {"empty", [](const std::string&) { return std::string(); }, 0},
      {"truncated", [](const std::string& t) { return t.substr(0, t.size() - 40); }, 1},
      {"not XML", [](const std::string&) { return std::string(4096, '\xff'); }, 0},
      {"deeply nested",
       [&](const std::string& t) { return Replace(t, "<item ", nested + "<item "); }, 0},
      {"count far beyond its items",
       [](const std::string& t) {
         return Replace(t, "<count>1</count>", "<count>4294967295</count>");
       },
       1},
      {"handle out of range",
       [](const std::string& t) {
         return Replace(t, "<m_nHandle>7<", "<m_nHandle>99999999999999999999<");
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const KECGlpsLogInfo info = MakeLog();
    const TreeSnapshot outside = Outside();
    const std::string sidecar = Dir() + "/" + kSidecar;
    WriteFileBytes(sidecar, c.change(ReadFileBytes(sidecar)));
    ASSERT_TRUE(OpenExp(Dir(), info));
    EXPECT_EQ(CountTamperTitles(Dir()), 1);
    EXPECT_EQ(service_->GetLogExpMetaDataEntity(kEntityType, 7).size(), c.entities);
    KECGlpsLogInfo after;
    EXPECT_TRUE(service_->LogExpExit(&after));
    // Saved anew, the sidecar verifies again.
    ASSERT_TRUE(OpenExp(Dir(), after));
    ASSERT_TRUE(service_->LogExpExit(nullptr));
    EXPECT_EQ(CountTamperTitles(Dir()), 1);
    EXPECT_TRUE(Outside() == outside);
    std::filesystem::remove_all(Dir());
  }
}

}  // namespace
