// SPDX-License-Identifier: Apache-2.0
// The built glps command run as a child process: usage and exit statuses, JSON output, the
// read-only guarantee of verify and show, the demo across runs, progress on a terminal.
#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "glps/glps.h"
#include "json_reader.h"
#include "support/log_reading.h"
#include "support/temp_dir.h"
#include "tool_runner.h"

namespace {

using glps_test::Json;
using glps_test::ParseJson;
using glps_test::PlainText;
using glps_test::ReadFileBytes;
using glps_test::RunTool;
using glps_test::TempDir;
using glps_test::ToolResult;
using glps_test::WriteFileBytes;
using ::testing::HasSubstr;
using ::testing::Not;

std::string InfoArg(const KECGlpsLogInfo& info) {
  return info.m_strLogHash + ":" + std::to_string(info.m_nLogSize);
}

// Writes an experiment log through the library into `dir`: a document, its sidecar and the linked
// files `links` (created with the given content). Returns the info the host keeps.
KECGlpsLogInfo MakeLog(const std::string& dir, const std::map<std::string, std::string>& links) {
  mkdir(dir.c_str(), 0755);
  KCGenUserInfo::Instance()->SetCurrentUserName("tester");
  KECGlpsServices* service = KECGlpsServices::Instance();
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = "Assay";
  KECGlpsLogInfo info;
  EXPECT_TRUE(
      service->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), experiment, nullptr, nullptr));
  for (const auto& link : links) {
    WriteFileBytes(dir + "/" + link.first, link.second);
    EXPECT_TRUE(service->LogExpLink(link.first));
  }
  EXPECT_TRUE(service->LogExpMsg("pipetted 20 µl"));
  EXPECT_TRUE(service->LogExpMetaDataEntity(
      KECGlpsLogMetaDataEntity(static_cast<Glps::ELogEntity>(1), 7, KCGenGUID(true))));
  EXPECT_TRUE(service->LogExpExit(&info));
  KECGlpsServices::Destroy();
  KCGenUserInfo::Instance()->ClearOverrides();
  return info;
}

std::string DocumentOf(const std::string& dir) {
  for (const std::string& name : glps_test::ListDirectory(dir)) {
    if (glps_test::EndsWith(name, ".html")) return dir + "/" + name;
  }
  return "";
}

Json ParsedOrFail(const std::string& text) {
  Json json;
  EXPECT_TRUE(ParseJson(text, &json)) << text;
  return json;
}

TEST(CommandTest, UsageErrorsGoToStandardErrorWithExitStatusTwo) {
  TempDir tmp;
  const std::string dir = tmp.path();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;  // expected in standard output ("" when it must stay empty)
    const char* err;  // expected in standard error ("" when it must stay empty)
  };
  const Case cases[] = {
      {{}, 2, "", "no command given"},
      {{"--help"}, 0, "glps verify DIR", ""},
      {{"verify", "--help"}, 0, "--info HASH:SIZE", ""},
      {{"show", "-h"}, 0, "usage: glps show", ""},
      {{"demo", "--help"}, 0, "--messages N", ""},
      {{"--version"}, 0, "glps ", ""},
      {{"frobnicate"}, 2, "", "unknown command 'frobnicate'"},
      {{"verify"}, 2, "", "no log directory given"},
      {{"verify", dir, dir}, 2, "", "more than one"},
      {{"verify", dir, "--bogus"}, 2, "", "unknown option '--bogus'"},
      {{"verify", dir, "--info"}, 2, "", "--info needs a value"},
      {{"verify", dir, "--info", "no-colon"}, 2, "", "--info wants HASH:SIZE"},
      {{"verify", dir, "--json", "--json"}, 2, "", "given twice"},
      {{"show"}, 2, "", "no log directory given"},
      {{"show", dir, "--json=yes"}, 2, "", "takes no value"},
      {{"demo"}, 2, "", "no directory given"},
      {{"demo", dir, "--messages", "many"}, 2, "", "--messages wants a number"},
      {{"demo", dir, "--runs", "0"}, 2, "", "--runs wants a number"},
      {{"demo", dir, "--experiment", "..."}, 2, "", "--experiment wants a name"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const ToolResult result = RunTool(c.args);
    EXPECT_EQ(result.status, c.status);
    if (*c.out == '\0') {
      EXPECT_EQ(result.out, "");
    } else {
      EXPECT_THAT(result.out, HasSubstr(c.out));
    }
    if (*c.err == '\0') {
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_THAT(result.err, HasSubstr(c.err));
    }
    if (c.status == 2) {
      EXPECT_THAT(result.err, HasSubstr("usage: glps"));
    }
  }
  EXPECT_EQ(glps_test::ListDirectory(dir), std::vector<std::string>()) << "nothing was created";
}

TEST(CommandTest, VerifyExitStatusTableAndJson) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const KECGlpsLogInfo info = MakeLog(dir, {{"data.csv", "a,b\n1,2\n"}});
  KECGlpsLogInfo wrong = info;
  wrong.m_nLogSize += 1;

  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    const char* table;  // in the table output
  };
  const Case cases[] = {
      {"intact, no info", {"verify", dir}, 0, "log.xml not checked against an info"},
      {"intact, matching info",
       {"verify", dir, "--info", InfoArg(info)},
       0,
       "all 3 protected files intact; log.xml matches the info"},
      {"info given with '='", {"verify", dir, "--info=" + InfoArg(info)}, 0, "INTACT"},
      {"another info",
       {"verify", dir, "--info", InfoArg(wrong)},
       1,
       "log.xml differs from the info"},
      {"no such directory", {"verify", tmp / "absent"}, 2, "cannot verify"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolResult table = RunTool(c.args);
    EXPECT_EQ(table.status, c.status);
    EXPECT_THAT(table.out, HasSubstr(c.table));
    EXPECT_EQ(table.err.empty(), c.status != 2) << table.err;

    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const ToolResult json = RunTool(args);
    EXPECT_EQ(json.status, c.status);
    const Json report = ParsedOrFail(json.out);
    EXPECT_EQ(report["exit_status"].number, c.status);
    EXPECT_EQ(report["intact"].boolean, c.status == 0);
    if (c.status == 2) {
      EXPECT_EQ(report["error"].type, Json::Type::kString);
      continue;
    }
    const Json& records = report["records"];
    ASSERT_EQ(records.items.size(), 3u);
    std::vector<std::string> kinds;
    for (const Json& record : records.items) {
      kinds.push_back(record["kind"].text);
      EXPECT_EQ(record["status"].text, "intact");
      EXPECT_EQ(record["found_size"].number, record["recorded_size"].number);
      EXPECT_EQ(record["found_hash"].text, record["recorded_hash"].text);
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"log", "link", "metadata"}));
    EXPECT_EQ(report["log_xml"]["size"].number, info.m_nLogSize);
    EXPECT_EQ(report["log_xml"]["hash"].text, info.m_strLogHash);
  }

  // One changed byte in the document: exit status 1 and the document named as modified.
  std::string bytes = ReadFileBytes(DocumentOf(dir));
  bytes[bytes.size() - 3] ^= 0x01;
  WriteFileBytes(DocumentOf(dir), bytes);
  const ToolResult tampered = RunTool({"verify", dir, "--info", InfoArg(info), "--json"});
  EXPECT_EQ(tampered.status, 1);
  const Json report = ParsedOrFail(tampered.out);
  EXPECT_EQ(report["records"].items.at(0)["status"].text, "modified");
  EXPECT_EQ(report["protected_intact"].number, 2);
}

TEST(CommandTest, NamesWithControlCharactersAndForeignBytesAreEscaped) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const std::string odd = std::string("odd\x01\xff \"q\" Müller.csv");
  MakeLog(dir, {{odd, "x"}});

  const ToolResult json = RunTool({"verify", dir, "--json"});
  EXPECT_EQ(json.status, 0);
  const Json report = ParsedOrFail(json.out);
  ASSERT_EQ(report["records"].items.size(), 3u);
  EXPECT_EQ(report["records"].items[1]["name"].text, "odd\x01\xc3\xbf \"q\" Müller.csv")
      << "the byte 0xFF reads back as U+00FF, valid UTF-8 unchanged";

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"verify", dir}, std::vector<std::string>{"show", dir}}) {
    const ToolResult table = RunTool(args);
    EXPECT_EQ(table.status, 0);
    EXPECT_THAT(table.out, HasSubstr("odd\\x01\\xFF \"q\" Müller.csv"));
    EXPECT_EQ(table.out.find('\x01'), std::string::npos) << "no raw control character";
  }
  const ToolResult show = RunTool({"show", dir, "--json"});
  EXPECT_EQ(ParsedOrFail(show.out)["records"].items.at(1)["name"].text,
            "odd\x01\xc3\xbf \"q\" Müller.csv");
}

TEST(CommandTest, ShowPrintsHeaderMetadataCatalogAndRecords) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  MakeLog(dir, {{"data.csv", "1,2\n"}});
  const std::string document = DocumentOf(dir);
  const std::string documentName = document.substr(document.rfind('/') + 1);

  const ToolResult text = RunTool({"show", dir});
  EXPECT_EQ(text.status, 0);
  for (const std::string& expected :
       {std::string("534 (experiment log)"), std::string("{D15149F8-F127-4781-B1F6-3C762D712E15}"),
        std::string("last message number  1"), documentName, std::string("data.csv"),
        std::string("records (3)")}) {
    EXPECT_THAT(text.out, HasSubstr(expected));
  }

  const ToolResult json = RunTool({"show", dir, "--json"});
  EXPECT_EQ(json.status, 0);
  const Json log = ParsedOrFail(json.out);
  EXPECT_EQ(log["header"]["content_type"].number, 534);
  EXPECT_EQ(log["header"]["content_version"].number, 410);
  EXPECT_EQ(log["catalog"]["last_message_number"].number, 1);
  EXPECT_EQ(log["catalog"]["coding_scheme"].items.size(), 2u);
  ASSERT_EQ(log["records"].items.size(), 3u);
  EXPECT_EQ(log["records"].items[0]["name"].text, documentName);
  EXPECT_EQ(log["records"].items[0]["size"].number,
            static_cast<double>(ReadFileBytes(document).size()));
  EXPECT_EQ(log["records"].items[0]["hash"].text.size(), 24u);

  const ToolResult missing = RunTool({"show", tmp / "absent"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_THAT(missing.err, HasSubstr("absent"));
}

// Everything about the entries of a directory tree that a reader could change by accident.
struct EntryState {
  mode_t mode;
  off_t size;
  std::int64_t mtimeNs;
  std::string bytes;
  bool operator==(const EntryState& o) const {
    return mode == o.mode && size == o.size && mtimeNs == o.mtimeNs && bytes == o.bytes;
  }
};

std::map<std::string, EntryState> Snapshot(const std::string& root) {
  std::map<std::string, EntryState> entries;
  std::vector<std::string> paths = {root};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    paths.push_back(entry.path().string());
  }
  for (const std::string& path : paths) {
    struct stat st;
    lstat(path.c_str(), &st);
    EntryState state{st.st_mode, st.st_size,
                     std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec, ""};
    if (S_ISREG(st.st_mode)) state.bytes = ReadFileBytes(path);
    entries[path.substr(root.size())] = state;
  }
  return entries;
}

void TakeWritePermission(const std::string& root) {
  std::vector<std::string> paths = {root};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    paths.push_back(entry.path().string());
  }
  for (const std::string& path : paths) {
    struct stat st;
    stat(path.c_str(), &st);
    chmod(path.c_str(), st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
  }
}

// The records part of verify's JSON report, which names no directory.
std::vector<std::string> RecordLines(const Json& report) {
  std::vector<std::string> lines;
  for (const Json& r : report["records"].items) {
    lines.push_back(r["name"].text + " " + r["status"].text + " " +
                    std::to_string(r["found_size"].number) + " " + r["found_hash"].text);
  }
  for (const Json& u : report["unregistered"].items) lines.push_back("? " + u["name"].text);
  return lines;
}

TEST(CommandTest, VerifyAndShowChangeNothingAndReadAReadOnlyCopyAlike) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const KECGlpsLogInfo info = MakeLog(dir, {{"data.csv", "a,b\n1,2\n"}, {"empty.csv", ""}});
  // A tampered log: a changed document byte, an unsaved tail on a link, a deleted empty link, a
  // stray file.
  std::string bytes = ReadFileBytes(DocumentOf(dir));
  bytes[bytes.size() / 2] ^= 0x20;
  WriteFileBytes(DocumentOf(dir), bytes);
  WriteFileBytes(dir + "/data.csv", ReadFileBytes(dir + "/data.csv") + "3,4\n");
  unlink((dir + "/empty.csv").c_str());
  WriteFileBytes(dir + "/stray.txt", "?");

  const std::string copy = tmp / "copy";
  std::filesystem::copy(dir, copy, std::filesystem::copy_options::recursive);
  TakeWritePermission(copy);
  const auto before = Snapshot(copy);
  const auto originalBefore = Snapshot(dir);

  const ToolResult original = RunTool({"verify", dir, "--info", InfoArg(info), "--json"});
  const ToolResult readOnly = RunTool({"verify", copy, "--info", InfoArg(info), "--json"});
  EXPECT_EQ(original.status, 1);
  EXPECT_EQ(readOnly.status, 1);
  EXPECT_EQ(RecordLines(ParsedOrFail(readOnly.out)), RecordLines(ParsedOrFail(original.out)));
  const std::vector<std::string> lines = RecordLines(ParsedOrFail(readOnly.out));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_THAT(lines[0], HasSubstr(" modified "));
  EXPECT_THAT(lines[1], HasSubstr("data.csv grown-intact "));
  EXPECT_THAT(lines[2], HasSubstr("empty.csv missing "));
  EXPECT_THAT(lines[3], HasSubstr(" intact "));
  EXPECT_EQ(lines[4], "? stray.txt");
  EXPECT_EQ(RunTool({"verify", copy}).status, 1);
  EXPECT_EQ(RunTool({"show", copy}).status, 0);
  EXPECT_EQ(RunTool({"show", copy, "--json"}).status, 0);

  EXPECT_TRUE(Snapshot(copy) == before) << "bytes, sizes, modes and modification times as before";
  EXPECT_TRUE(Snapshot(dir) == originalBefore);
}

TEST(CommandTest, ProgressShowsOnATerminalOnly) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  MakeLog(dir, {{"big.bin", std::string(6 << 20, 'x')}});

  std::string out;
  std::string terminal;
  EXPECT_EQ(glps_test::RunToolOnTerminal({"verify", dir}, &out, &terminal), 0);
  EXPECT_THAT(terminal, HasSubstr("glps verify: hashing"));
  EXPECT_THAT(out, HasSubstr("INTACT"));
  EXPECT_THAT(out, Not(HasSubstr("hashing")));

  const ToolResult piped = RunTool({"verify", dir});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
}

// --- The demo --------------------------------------------------------------------------------

// The infos in the demo's state file: directory (relative) -> "HASH:SIZE".
std::map<std::string, std::string> DemoInfos(const std::string& dir) {
  std::map<std::string, std::string> infos;
  std::istringstream in(ReadFileBytes(dir + "/demo-state.txt"));
  std::string key, directory, hash, size;
  while (in >> key) {
    if (key == "log" && in >> directory >> hash >> size)
      infos[directory] = hash + ":" + size;
    else if (key != "log")
      std::getline(in, size);
  }
  return infos;
}

int TitleCount(const std::string& dir) {
  int count = 0;
  const std::string title = Txts::GetString(18631);
  for (const std::string& name : glps_test::ListDirectory(dir)) {
    if (!glps_test::EndsWith(name, ".html")) continue;
    const std::string text = PlainText(ReadFileBytes(dir + "/" + name));
    for (auto at = text.find(title); at != std::string::npos; at = text.find(title, at + 1))
      ++count;
  }
  return count;
}

TEST(DemoTest, RunsContinueTheLogsAndTamperingShowsInTheNextRun) {
  TempDir tmp;
  const std::string demo = tmp / "demo";
  const std::string expDir = demo + "/experiments/Titration_7";

  ToolResult run = RunTool({"demo", demo});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_THAT(run.out, HasSubstr("run 1:  application log intact; experiment log intact"));
  EXPECT_THAT(run.out,
              HasSubstr("open in a browser: " + expDir + "/GLP-Log-Titration_7_0001.html"));
  run = RunTool({"demo", demo});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("run 2:  application log intact; experiment log intact"));

  // The logs are intact against the infos the demo kept, as `make run` checks them.
  const std::map<std::string, std::string> infos = DemoInfos(demo);
  ASSERT_EQ(infos.size(), 2u);
  for (const auto& log : infos) {
    const ToolResult verify = RunTool({"verify", demo + "/" + log.first, "--info", log.second});
    EXPECT_EQ(verify.status, 0) << log.first << "\n" << verify.out;
  }
  const std::string document = expDir + "/GLP-Log-Titration_7_0001.html";
  const std::string text = PlainText(ReadFileBytes(document));
  EXPECT_THAT(text, HasSubstr("Label as typed: <b>&\" is not markup"));
  EXPECT_THAT(ReadFileBytes(document), HasSubstr("&lt;b&gt;&amp;"));
  EXPECT_THAT(text, HasSubstr("Sample 20 weighed: "));
  EXPECT_THAT(text, HasSubstr("Balance reading stable:  'Balance B-3'"));
  EXPECT_EQ(TitleCount(expDir), 0);

  run = RunTool({"demo", demo, "--tamper"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("run 3:  application log intact; experiment log intact"));
  EXPECT_THAT(run.out, HasSubstr("tampered:          changed byte "));
  EXPECT_EQ(
      RunTool({"verify", expDir, "--info", DemoInfos(demo).at("experiments/Titration_7")}).status,
      1);

  run = RunTool({"demo", demo});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("run 4:  application log intact; experiment log found tampered, "
                                 "tamper entry written"));
  EXPECT_EQ(TitleCount(expDir), 1) << "the library wrote the tamper entry";
  EXPECT_EQ(
      RunTool({"verify", expDir, "--info", DemoInfos(demo).at("experiments/Titration_7")}).status,
      0)
      << "the library took the change in";

  run = RunTool({"demo", demo, "--crash", "--tamper"});
  ASSERT_EQ(run.status, 0) << run.err;
  run = RunTool({"demo", demo, "--crash"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out,
              HasSubstr("run 6:  application log intact; experiment log found tampered "
                        "(the crash entry stands in for the tamper entry); crash reported"));
  EXPECT_THAT(
      PlainText(ReadFileBytes(document)),
      HasSubstr("The previous run of the demo host ended abnormally.\n     while weighing"));
  EXPECT_EQ(TitleCount(expDir), 1) << "a crash report suppresses the tamper entry";
}

TEST(DemoTest, EnoughMessagesRollOverIntoASecondDocument) {
  TempDir tmp;
  const std::string demo = tmp / "demo";
  const std::string expDir = demo + "/experiments/Roll";
  ASSERT_EQ(RunTool({"demo", demo, "--experiment", "Roll", "--messages", "10000"}).status, 0);
  const ToolResult second = RunTool({"demo", demo, "--experiment", "Roll", "--messages", "1"});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_THAT(second.out, HasSubstr("open in a browser: " + expDir + "/GLP-Main.html"));

  const ToolResult verify =
      RunTool({"verify", expDir, "--info", DemoInfos(demo).at("experiments/Roll"), "--json"});
  EXPECT_EQ(verify.status, 0);
  std::map<std::string, int> statuses;
  const Json report = ParsedOrFail(verify.out);
  for (const Json& record : report["records"].items) {
    ++statuses[record["kind"].text + " " + record["status"].text];
  }
  const std::map<std::string, int> expected = {{"log intact", 2},
                                               {"metadata intact", 2},
                                               {"link intact", 2},
                                               {"index-main unprotected", 1},
                                               {"index-menu unprotected", 1}};
  EXPECT_EQ(statuses, expected);
}

TEST(DemoTest, AStateFileNotInTheDemosFormatStopsIt) {
  TempDir tmp;
  const std::string demo = tmp / "demo";
  ASSERT_EQ(RunTool({"demo", demo}).status, 0);
  WriteFileBytes(demo + "/demo-state.txt", "runs 1\nlog applog\n");
  const auto before = Snapshot(demo);
  const ToolResult run = RunTool({"demo", demo});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("demo-state.txt: line 2 is not in the demo's format"));
  EXPECT_TRUE(Snapshot(demo) == before) << "the logs were not opened";
}

}  // namespace
