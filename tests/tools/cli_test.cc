// SPDX-License-Identifier: Apache-2.0
// The built glps command run as a child process: usage and exit statuses, the verdicts with and
// without an info, JSON output against docs/json.md, the read-only guarantee, many logs at once,
// the trail read back, help, the man page and completion, the demo across runs, progress on a
// terminal.
#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "glps/glps.h"
#include "json_out.h"
#include "log.h"
#include "support/deep_tree.h"
#include "support/file_racer.h"
#include "support/log_reading.h"
#include "support/pdf_reading.h"
#include "support/records.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "tool_runner.h"
#include "verify.h"

namespace {

using glps_test::PlainText;
using glps_test::ReadFileBytes;
using glps_test::RunTool;
using glps_test::SnapshotOptions;
using glps_test::TempDir;
using glps_test::ToolResult;
using glps_test::TreeSnapshot;
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
  const KECGlpsLogInfoExperiment experiment = glps_test::Experiment("Assay");
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

// The info of the log.xml in `dir` as it is now.
KECGlpsLogInfo InfoOfLog(const std::string& dir) { return glps_test::InfoOf(dir + "/log.xml"); }

std::string DocumentOf(const std::string& dir) {
  for (const std::string& name : glps_test::ListDirectory(dir)) {
    if (glps_test::EndsWith(name, ".html")) return dir + "/" + name;
  }
  return "";
}

using Json = nlohmann::json;

// The one JSON value of `text` (null, and a failure, when it is not exactly one).
Json ParsedOrFail(const std::string& text) {
  try {
    return Json::parse(text);
  } catch (const Json::exception& e) {
    ADD_FAILURE() << e.what() << "\n" << text;
    return Json();
  }
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
      {{"--help"}, 0, "Exit status:", ""},
      {{"verify", "--help"}, 0, "--require-info", ""},
      {{"help", "verify"}, 0, "--require-info", ""},
      {{"help", "log"}, 0, "--grep", ""},
      {{"help", "frobnicate"}, 2, "", "no command 'frobnicate'"},
      {{"show", "-h"}, 0, "--json", ""},
      {{"demo", "--help"}, 0, "--messages", ""},
      {{"--version"}, 0, "glps ", ""},
      {{"frobnicate"}, 2, "", "frobnicate"},
      {{"verify"}, 2, "", "DIR"},
      {{"verify", dir, "--bogus"}, 2, "", "--bogus"},
      {{"verify", dir, "--info"}, 2, "", "--info"},
      {{"verify", dir, "--info", "no-colon"}, 2, "", "--info wants HASH:SIZE"},
      {{"verify", dir, dir, "--info", "a:1"}, 2, "", "--info-file"},
      {{"verify", dir, "--info", "a:1", "--info-file", "f"}, 2, "", "excludes"},
      {{"verify", dir, "--info-file", tmp / "absent"}, 2, "", "cannot be read"},
      {{"verify", dir, "--jobs", "0"}, 2, "", "--jobs"},
      {{"show"}, 2, "", "DIR"},
      {{"show", dir, dir}, 2, "", ""},
      {{"log", dir, "--csv", "--json"}, 2, "", "excludes"},
      {{"demo"}, 2, "", "DIR"},
      {{"demo", dir, "--messages", "many"}, 2, "", "--messages"},
      {{"demo", dir, "--runs", "0"}, 2, "", "--runs"},
      {{"demo", dir, "--experiment", "..."}, 2, "", "a name with at least one letter or digit"},
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
    if (*c.err == '\0' && c.status != 2) {
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
    const char* verdict;
    const char* table;  // in the table output
  };
  const Case cases[] = {
      {"intact, no info",
       {"verify", dir},
       3,
       "not-authenticated",
       "CONSISTENT, NOT AUTHENTICATED: no info given"},
      {"intact, no info, info required",
       {"verify", dir, "--require-info"},
       1,
       "not-intact",
       "NOT AUTHENTICATED: no info given and --require-info"},
      {"intact, matching info",
       {"verify", dir, "--info", InfoArg(info)},
       0,
       "intact",
       "INTACT and authenticated: all 3 protected files intact, log.xml matches the info"},
      {"info given with '='", {"verify", dir, "--info=" + InfoArg(info)}, 0, "intact", "INTACT"},
      {"another info",
       {"verify", dir, "--info", InfoArg(wrong)},
       1,
       "not-intact",
       "NOT INTACT: log.xml was changed since the info was taken: its size differs from the "
       "info's"},
      {"no such directory", {"verify", tmp / "absent"}, 4, "unreadable", "CANNOT VERIFY: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolResult table = RunTool(c.args);
    EXPECT_EQ(table.status, c.status);
    EXPECT_THAT(table.out, HasSubstr(c.table));
    EXPECT_EQ(table.err.empty(), c.status != 4) << table.err;

    std::vector<std::string> quiet = c.args;
    quiet.push_back("--quiet");
    const ToolResult silent = RunTool(quiet);
    EXPECT_EQ(silent.status, c.status);
    EXPECT_EQ(silent.out + silent.err, "");

    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const ToolResult json = RunTool(args);
    EXPECT_EQ(json.status, c.status);
    const Json report = ParsedOrFail(json.out);
    EXPECT_EQ(report["exit_status"], c.status);
    EXPECT_EQ(report["verdict"], c.verdict);
    if (c.status == 4) {
      EXPECT_TRUE(report["error"].is_string());
      EXPECT_TRUE(report["log_xml"].is_null());
      continue;
    }
    EXPECT_TRUE(report["error"].is_null());
    const Json& records = report["records"];
    ASSERT_EQ(records.size(), 3u);
    std::vector<std::string> kinds;
    for (const Json& record : records) {
      kinds.push_back(record["kind"]);
      EXPECT_EQ(record["status"], "intact");
      EXPECT_EQ(record["found_size"], record["recorded_size"]);
      EXPECT_EQ(record["found_hash"], record["recorded_hash"]);
      EXPECT_TRUE(record["reason"].is_null());
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"log", "link", "metadata"}));
    EXPECT_EQ(report["log_xml"]["size"], info.m_nLogSize);
    EXPECT_EQ(report["log_xml"]["hash"], info.m_strLogHash);
    EXPECT_EQ(report["algorithms"]["log_xml_hash"], "SHA-256");
  }

  // One changed byte in the document: exit status 1 and the document named as modified.
  std::string bytes = ReadFileBytes(DocumentOf(dir));
  bytes[bytes.size() - 3] ^= 0x01;
  WriteFileBytes(DocumentOf(dir), bytes);
  const ToolResult tampered = RunTool({"verify", dir, "--info", InfoArg(info), "--json"});
  EXPECT_EQ(tampered.status, 1);
  const Json report = ParsedOrFail(tampered.out);
  EXPECT_EQ(report["records"].at(0)["status"], "modified");
  EXPECT_EQ(report["protected_intact"], 2);
  const ToolResult words = RunTool({"verify", dir, "--info", InfoArg(info)});
  EXPECT_THAT(words.out, HasSubstr("NOT INTACT: 1 file modified"));
}

// The words name the cause: each kind of difference with its count of files, and a log.xml that is
// not the info's first, with what differs, as what the comparisons of the files rest on.
TEST(CommandTest, EachKindOfDifferenceHasItsOwnWords) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const KECGlpsLogInfo info =
      MakeLog(dir, {{"a.csv", "1\n"}, {"b.csv", "2\n"}, {"c.csv", "3\n"}, {"d.csv", "4\n"}});
  WriteFileBytes(dir + "/a.csv", "1\n3\n");  // grown, the recorded part intact
  WriteFileBytes(dir + "/b.csv", "9\n");     // same size, other content
  WriteFileBytes(dir + "/c.csv", "8\n");
  ToolResult result = RunTool({"verify", dir, "--info", InfoArg(info)});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.out, HasSubstr("NOT INTACT: 2 files modified; 1 file grown with the recorded "
                                    "part intact (an unsaved tail)\n"));
  EXPECT_THAT(result.out, Not(HasSubstr("log.xml was changed")));

  // A record's size raised in log.xml (d.csv's "4\n" recorded as 20 bytes): the file is shorter
  // than its record, and it is log.xml that changed.
  std::string logXml = ReadFileBytes(dir + "/log.xml");
  const std::string name = "<m_strFileName>d.csv</m_strFileName>";
  const std::size_t size = logXml.find("<m_nSize>2</m_nSize>", logXml.find(name));
  ASSERT_NE(size, std::string::npos);
  logXml.replace(size, 20, "<m_nSize>20</m_nSize>");
  WriteFileBytes(dir + "/log.xml", logXml);
  const KECGlpsLogInfo changed = InfoOfLog(dir);
  struct Case {
    const char* what;
    KECGlpsLogInfo info;
    const char* result;
  };
  KECGlpsLogInfo sameSize = info;
  sameSize.m_nLogSize = changed.m_nLogSize;
  const Case cases[] = {
      {"no info",
       {},
       "NOT INTACT: 2 files modified; 1 file grown with the recorded part intact (an unsaved "
       "tail); 1 file shorter than recorded\n"},
      {"the info of before", info,
       "NOT INTACT: log.xml was changed since the info was taken: its size differs from the info's "
       "("},
      {"an info of log.xml's size", sameSize,
       "NOT INTACT: log.xml was changed since the info was taken: same size as the info, another "
       "SHA-256 hash; against its changed records, 2 files modified; 1 file grown with the "
       "recorded "
       "part intact (an unsaved tail); 1 file shorter than recorded\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"verify", dir};
    if (c.info.m_nLogSize != 0) args.push_back("--info=" + InfoArg(c.info));
    result = RunTool(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.out, HasSubstr(c.result));
    if (c.info.m_nLogSize != 0) {
      EXPECT_THAT(result.out, HasSubstr("The records below are those of the changed log.xml"));
      args.push_back("--json");
      const Json json = ParsedOrFail(RunTool(args).out);
      EXPECT_EQ(json["info"]["size_matches"], c.info.m_nLogSize == changed.m_nLogSize);
      EXPECT_EQ(json["info"]["hash_matches"], false);
      EXPECT_EQ(json["info"]["value"], InfoArg(c.info));
      EXPECT_EQ(json["log_xml"]["info"], InfoArg(changed));
    }
  }
}

// A record the library would never have written, its file intact: named in the verdict, the JSON
// and the PDF copy, and counted nowhere as an intact protected file.
TEST(CommandTest, ARecordThatBreaksTheRulesIsNamedAndNotCountedAsProtected) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  MakeLog(dir, {{"data.csv", "1\n"}});
  // The linked file's record turned into one of a kind the library does not know.
  std::string logXml = ReadFileBytes(dir + "/log.xml");
  const std::string linkKind = "<m_eType>6</m_eType>";
  ASSERT_NE(logXml.find(linkKind), std::string::npos);
  logXml.replace(logXml.find(linkKind), linkKind.size(), "<m_eType>99</m_eType>");
  WriteFileBytes(dir + "/log.xml", logXml);
  const std::string info = InfoArg(InfoOfLog(dir));

  const ToolResult verify = RunTool({"verify", dir, "--info", info, "--json"});
  EXPECT_EQ(verify.status, 1);
  const Json report = ParsedOrFail(verify.out);
  std::size_t breaking = 0;
  for (const Json& record : report["records"]) {
    const bool foreign = record["name"] == "data.csv";
    EXPECT_EQ(record["breaks_rules"], foreign) << record["name"];
    if (foreign) {
      EXPECT_EQ(record["status"], "intact");
      EXPECT_EQ(record["kind"], "kind-99");
    }
    breaking += foreign ? 1 : 0;
  }
  EXPECT_EQ(breaking, 1u);
  // The document and its sidecar.
  EXPECT_EQ(report["protected_files"], 2);
  EXPECT_EQ(report["protected_intact"], 2);
  ASSERT_EQ(report["findings"].size(), 1u);
  EXPECT_EQ(report["findings"][0]["kind"], "record-breaks-rules");
  EXPECT_EQ(report["findings"][0]["document"], "data.csv");

  const ToolResult words = RunTool({"verify", dir, "--info", info});
  EXPECT_THAT(words.out, HasSubstr("NOT INTACT: 1 finding of the trail's consistency"));

  const std::string pdf = tmp / "copy.pdf";
  ASSERT_EQ(RunTool({"pdf", dir, "--info", info, "-o", pdf}).status, 0);
  std::string text;
  for (const std::string& page : glps_test::PdfPages(pdf)) text += glps_test::Words(page) + " ";
  EXPECT_THAT(text, HasSubstr("NOT INTACT: 1 finding of the trail's consistency"));
  EXPECT_THAT(text, HasSubstr("record-breaks-rules: data.csv"));
  EXPECT_THAT(text, HasSubstr("intact; breaks the record-set rules"));
}

TEST(CommandTest, NamesThatAreNotUtf8AreGivenExactlyBesideTheirDisplay) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const std::string odd = std::string("odd\x01\xff \"q\" Müller.csv");
  MakeLog(dir, {{odd, "x"}});
  WriteFileBytes(dir + "/stray-\xfe.txt", "?");
  WriteFileBytes(dir + "/stray-b.txt", "?");
  WriteFileBytes(dir + "/stray-a.txt", "?");

  const ToolResult json = RunTool({"verify", dir, "--json"});
  EXPECT_EQ(json.status, 3);
  const Json report = ParsedOrFail(json.out);
  ASSERT_EQ(report["records"].size(), 3u);
  EXPECT_EQ(report["records"][1]["name"], "odd\x01\xef\xbf\xbd \"q\" Müller.csv");
  std::string hex;
  for (unsigned char c : odd) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", c);
    hex += digits;
  }
  EXPECT_EQ(report["records"][1]["name_hex"], hex);
  EXPECT_TRUE(report["records"][0]["name_hex"].is_null());
  std::vector<std::string> unregistered;
  for (const Json& entry : report["unregistered"]) unregistered.push_back(entry["name"]);
  EXPECT_EQ(unregistered,
            (std::vector<std::string>{"stray-a.txt", "stray-b.txt", "stray-\xef\xbf\xbd.txt"}))
      << "sorted by the names' bytes";

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"verify", dir}, std::vector<std::string>{"show", dir}}) {
    const ToolResult table = RunTool(args);
    EXPECT_THAT(table.out, HasSubstr("odd\\x01\\xFF \"q\" Müller.csv"));
    EXPECT_EQ(table.out.find('\x01'), std::string::npos) << "no raw control character";
  }
  const ToolResult show = RunTool({"show", dir, "--json"});
  EXPECT_EQ(ParsedOrFail(show.out)["records"].at(1)["name_hex"], hex);
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
  EXPECT_EQ(log["header"]["content_type"], 534);
  EXPECT_EQ(log["header"]["content_version"], 410);
  EXPECT_TRUE(log["header"]["modification_time"].is_null());
  EXPECT_EQ(log["catalog"]["last_message_number"], 1);
  ASSERT_EQ(log["records"].size(), 3u);
  EXPECT_EQ(log["records"][0]["name"], documentName);
  EXPECT_EQ(log["records"][0]["size"], ReadFileBytes(document).size());
  EXPECT_EQ(log["records"][0]["hash"].get<std::string>().size(), 24u);

  const ToolResult missing = RunTool({"show", tmp / "absent"});
  EXPECT_EQ(missing.status, 4);
  EXPECT_EQ(missing.out, "");
  EXPECT_THAT(missing.err, HasSubstr("absent"));
}

// Everything about the entries of a directory tree that a reader could change by accident: kind,
// mode, size and modification time of every entry (the root and directories included), the bytes
// of files.
TreeSnapshot Snapshot(const std::string& root) {
  SnapshotOptions options;
  options.directoryTimes = true;
  options.root = true;
  return TreeSnapshot(root, options);
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
  for (const Json& r : report["records"]) {
    lines.push_back(r["name"].get<std::string>() + " " + r["status"].get<std::string>() + " " +
                    r["found_size"].dump() + " " + r["found_hash"].dump());
  }
  for (const Json& u : report["unregistered"]) lines.push_back("? " + u["name"].get<std::string>());
  return lines;
}

TEST(CommandTest, TheCommandsChangeNothingAndReadAReadOnlyCopyAlike) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const KECGlpsLogInfo info = MakeLog(dir, {{"data.csv", "a,b\n1,2\n"}, {"empty.csv", ""}});
  // A tampered log: a changed document byte, an unsaved tail on a link, a deleted empty link, a
  // stray file, and the log's lock file.
  std::string bytes = ReadFileBytes(DocumentOf(dir));
  bytes[bytes.size() / 2] ^= 0x20;
  WriteFileBytes(DocumentOf(dir), bytes);
  WriteFileBytes(dir + "/data.csv", ReadFileBytes(dir + "/data.csv") + "3,4\n");
  unlink((dir + "/empty.csv").c_str());
  WriteFileBytes(dir + "/stray.txt", "?");
  WriteFileBytes(dir + "/log.lock", "");
  chmod((dir + "/log.lock").c_str(), 0600);

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
  EXPECT_EQ(ParsedOrFail(readOnly.out)["lock_file"], true);
  const std::vector<std::string> lines = RecordLines(ParsedOrFail(readOnly.out));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_THAT(lines[0], HasSubstr(" modified "));
  EXPECT_THAT(lines[1], HasSubstr("data.csv grown-intact "));
  EXPECT_THAT(lines[2], HasSubstr("empty.csv missing "));
  EXPECT_THAT(lines[3], HasSubstr(" intact "));
  EXPECT_EQ(lines[4], "? stray.txt");
  EXPECT_EQ(RunTool({"verify", copy}).status, 1);
  EXPECT_EQ(RunTool({"verify", "-r", tmp.path()}).status, 1);
  EXPECT_EQ(RunTool({"show", copy}).status, 0);
  EXPECT_EQ(RunTool({"show", copy, "--json"}).status, 0);
  // The log's verdict, as verify gives it.
  EXPECT_EQ(RunTool({"log", copy}).status, 1);
  EXPECT_EQ(RunTool({"log", copy, "--json"}).status, 1);
  EXPECT_EQ(RunTool({"log", copy, "--csv"}).status, 1);

  EXPECT_TRUE(Snapshot(copy) == before) << "bytes, sizes, modes and modification times as before";
  EXPECT_TRUE(Snapshot(dir) == originalBefore);
}

TEST(CommandTest, ProgressShowsOnATerminalOnly) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  MakeLog(dir, {{"big.bin", std::string(6 << 20, 'x')}});

  std::string out;
  std::string terminal;
  EXPECT_EQ(glps_test::RunToolOnTerminal({"verify", dir}, &out, &terminal), 3);
  EXPECT_THAT(terminal, HasSubstr("glps verify: hashing"));
  EXPECT_THAT(out, HasSubstr("CONSISTENT, NOT AUTHENTICATED"));
  EXPECT_THAT(out, Not(HasSubstr("hashing")));

  terminal.clear();
  EXPECT_EQ(glps_test::RunToolOnTerminal({"verify", dir, "--no-progress"}, &out, &terminal), 3);
  EXPECT_THAT(terminal, Not(HasSubstr("hashing")));

  const ToolResult piped = RunTool({"verify", dir});
  EXPECT_EQ(piped.status, 3);
  EXPECT_EQ(piped.err, "");
}

// --- The demo --------------------------------------------------------------------------------

// The infos in the demo's state file, lines "HASH:SIZE  DIRECTORY" besides comments: directory
// (relative) -> "HASH:SIZE".
std::map<std::string, std::string> DemoInfos(const std::string& dir) {
  std::map<std::string, std::string> infos;
  std::istringstream in(ReadFileBytes(dir + "/demo-state.txt"));
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t blanks = line.find("  ");
    if (line.empty() || line[0] == '#' || blanks == std::string::npos) continue;
    infos[line.substr(blanks + 2)] = line.substr(0, blanks);
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
  // The state file, as it is, is an info file for verify.
  const ToolResult all =
      RunTool({"verify", "-r", demo, "--info-file", demo + "/demo-state.txt", "--require-info"});
  EXPECT_EQ(all.status, 0) << all.out << all.err;
  EXPECT_THAT(all.out, HasSubstr("2 logs: 2 intact,"));
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
      5)
      << "the library took the change in, and its trail records it";

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
  for (const Json& record : report["records"]) {
    ++statuses[record["kind"].get<std::string>() + " " + record["status"].get<std::string>()];
  }
  EXPECT_EQ(report["findings"], Json::array()) << "the index pages name recorded documents only";
  const std::map<std::string, int> expected = {{"log intact", 2},
                                               {"metadata intact", 2},
                                               {"link intact", 2},
                                               {"index-main unprotected", 1},
                                               {"index-menu unprotected", 1}};
  EXPECT_EQ(statuses, expected);
}

// What earlier versions kept ("runs N", "log DIRECTORY HASH SIZE") is read by the demo, which
// continues the logs, and by verify --info-file.
TEST(DemoTest, AStateFileOfAnEarlierVersionIsReadAsItStands) {
  TempDir tmp;
  const std::string demo = tmp / "demo";
  ASSERT_EQ(RunTool({"demo", demo}).status, 0);
  std::string earlier = "# glps demo\nruns 1\n";
  for (const auto& [directory, info] : DemoInfos(demo)) {
    const std::size_t colon = info.rfind(':');
    earlier +=
        "log " + directory + " " + info.substr(0, colon) + " " + info.substr(colon + 1) + "\n";
  }
  WriteFileBytes(demo + "/demo-state.txt", earlier);
  const ToolResult verify =
      RunTool({"verify", "-r", demo, "--info-file", demo + "/demo-state.txt", "--require-info"});
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
  const ToolResult run = RunTool({"demo", demo});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("run 2:  application log intact; experiment log intact"));
  EXPECT_THAT(ReadFileBytes(demo + "/demo-state.txt"), HasSubstr("\n# runs: 2\n"));
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

// --- The JSON schema of docs/json.md ---------------------------------------------------------

// The documented fields of one schema of docs/json.md: path ("records[].name") -> allowed types.
std::map<std::string, std::set<std::string>> DocumentedFields(const std::string& schema) {
  std::map<std::string, std::set<std::string>> fields;
  std::istringstream doc(ReadFileBytes(std::string(GLPS_SOURCE_DIR) + "/docs/json.md"));
  std::string line;
  bool inside = false;
  while (std::getline(doc, line)) {
    if (line.rfind("<!-- schema: ", 0) == 0) inside = line == "<!-- schema: " + schema + " -->";
    if (!inside || line.rfind("| `", 0) != 0) continue;
    const std::size_t close = line.find('`', 3);
    const std::string path = line.substr(3, close - 3);
    const std::size_t typeStart = line.find('|', close) + 1;
    std::string types = line.substr(typeStart, line.find('|', typeStart) - typeStart);
    std::set<std::string>& allowed = fields[path];
    std::istringstream words(types);
    std::string word;
    while (words >> word) {
      if (word != "or") allowed.insert(word);
    }
  }
  return fields;
}

std::string TypeOf(const Json& value) {
  if (value.is_null()) return "null";
  if (value.is_boolean()) return "boolean";
  if (value.is_number_integer()) return "integer";
  if (value.is_number()) return "number";
  if (value.is_string()) return "string";
  if (value.is_array()) return "array";
  return "object";
}

// Every field of `value` with the types it was seen with.
void Flatten(const Json& value, const std::string& path,
             std::map<std::string, std::set<std::string>>* seen) {
  // An array's items that are objects are described by their fields.
  const bool item = path.size() > 2 && path.compare(path.size() - 2, 2, "[]") == 0;
  if (!path.empty() && !(item && value.is_object())) (*seen)[path].insert(TypeOf(value));
  if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it) {
      Flatten(it.value(), path.empty() ? it.key() : path + "." + it.key(), seen);
    }
  } else if (value.is_array()) {
    for (const Json& item : value) Flatten(item, path + "[]", seen);
  }
}

void ExpectMatchesSchema(const std::vector<Json>& documents, const std::string& schema) {
  SCOPED_TRACE(schema);
  const auto documented = DocumentedFields(schema);
  ASSERT_FALSE(documented.empty());
  std::map<std::string, std::set<std::string>> seen;
  for (const Json& document : documents) Flatten(document, "", &seen);
  for (const auto& field : seen) {
    const auto it = documented.find(field.first);
    if (it == documented.end()) {
      ADD_FAILURE() << field.first << " is not in docs/json.md";
      continue;
    }
    for (const std::string& type : field.second) {
      EXPECT_EQ(it->second.count(type), 1u) << field.first << " is " << type;
    }
  }
  for (const auto& field : documented) {
    EXPECT_EQ(seen.count(field.first), 1u) << field.first << " documented but never written";
  }
  // The version the page states, which the command writes.
  const std::string doc = ReadFileBytes(std::string(GLPS_SOURCE_DIR) + "/docs/json.md");
  const std::string stated = "`schema_version` (the integer ";
  const std::size_t at = doc.find(stated);
  ASSERT_NE(at, std::string::npos);
  const int version = std::atoi(doc.c_str() + at + stated.size());
  EXPECT_EQ(version, glps_tool::kJsonSchemaVersion);
  for (const Json& document : documents) {
    if (document.contains("schema_version")) {
      EXPECT_EQ(document["schema_version"], version);
    }
  }
}

// The objects of JSON Lines, each line one (a failure for a line that is not).
std::vector<Json> JsonLines(const std::string& text) {
  std::vector<Json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(ParsedOrFail(line));
  return lines;
}

// The objects of `glps log --json` of the given type ("log", "entry", "summary").
std::vector<Json> LogLines(const std::string& text, const std::string& type) {
  std::vector<Json> selected;
  for (const Json& line : JsonLines(text)) {
    if (line["type"] == type) selected.push_back(line);
  }
  return selected;
}

TEST(JsonTest, OutputFollowsTheDocumentedSchema) {
  TempDir tmp;
  const std::string good = tmp / "good";
  const KECGlpsLogInfo info = MakeLog(good, {{"data.csv", "1\n"}});
  const std::string bad = tmp / std::string("bad-\xff");
  MakeLog(bad, {{"x.csv", "1\n"}});
  // Unreadable for the checks, unregistered, named like a document, a lock, a finding.
  WriteFileBytes(bad + "/x.csv", "changed\n");
  WriteFileBytes(bad + "/GLP-Log-Assay_0002.html", "");
  WriteFileBytes(bad + "/log.lock", "");
  // A document that is a symbolic link: a problem for `glps log`.
  const std::string document = DocumentOf(bad);
  ASSERT_EQ(rename(document.c_str(), (bad + "/moved").c_str()), 0);
  ASSERT_EQ(symlink("moved", document.c_str()), 0);

  // A sealed log saved once more, checked with its key after a sealed byte changed.
  const std::string sealed = tmp / "sealed";
  MakeLog(sealed, {});
  const ToolResult init = RunTool({"seal", "init", sealed});
  const std::string keyLine = "verification key: ";
  const std::size_t at = init.out.find(keyLine);
  ASSERT_NE(at, std::string::npos) << init.err;
  const std::size_t keyStart = at + keyLine.size();
  const std::string key = init.out.substr(keyStart, init.out.find('\n', keyStart) - keyStart);
  MakeLog(sealed, {});
  std::string sealedBytes = ReadFileBytes(DocumentOf(sealed));
  sealedBytes[sealedBytes.size() / 2] ^= 0x01;
  WriteFileBytes(DocumentOf(sealed), sealedBytes);

  std::vector<Json> verify;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"verify", good, "--info", InfoArg(info), "--json"},
        std::vector<std::string>{"verify", bad, "--json"},
        std::vector<std::string>{"verify", sealed, "--seal-key", key, "--json"},
        std::vector<std::string>{"verify", tmp / "absent", "--json"}}) {
    verify.push_back(ParsedOrFail(RunTool(args).out));
  }
  ExpectMatchesSchema({ParsedOrFail(RunTool({"show", good, "--json"}).out)}, "show");

  // A crash entry with detail lines and a context message, for every field of an entry.
  KCGenUserInfo::Instance()->SetCurrentUserName("tester");
  KECGlpsLogInfoCrash crash;
  crash.m_bCrashed = true;
  crash.m_strText = "crashed";
  crash.m_vLines = {"detail"};
  const KECGlpsLogInfoExperiment experiment = glps_test::Experiment("Assay");
  KECGlpsLogInfo next;
  KECGlpsServices* service = KECGlpsServices::Instance();
  ASSERT_TRUE(service->LogExpInit(good, true, info, crash, experiment, nullptr, nullptr));
  ASSERT_TRUE(service->LogExpMsgContext("weighed", "balance 3"));
  ASSERT_TRUE(service->LogExpExit(&next));
  KECGlpsServices::Destroy();
  KCGenUserInfo::Instance()->ClearOverrides();
  // With a crash entry, an event.
  verify.push_back(ParsedOrFail(RunTool({"verify", good, "--json"}).out));
  ExpectMatchesSchema(verify, "verify");
  std::string logs = RunTool({"log", good, "--json"}).out;
  logs += RunTool({"log", bad, "--json", "--from", "2999-01-01"}).out;
  // An unsaved tail, a tamper entry and a document no record holds.
  WriteFileBytes(DocumentOf(good), ReadFileBytes(DocumentOf(good)) + "appended<BR>\n");
  WriteFileBytes(good + "/GLP-Log-Assay_0009.html", "<H2>" + Txts::GetString(18631) + "</H2>");
  logs += RunTool({"log", good, "--json"}).out;
  ExpectMatchesSchema(LogLines(logs, "log"), "log");
  ExpectMatchesSchema(LogLines(logs, "entry"), "log-entry");
  ExpectMatchesSchema(LogLines(logs, "summary"), "log-summary");
}

// --- Many logs at once -------------------------------------------------------------------------

TEST(ManyLogsTest, RecursiveVerifyGivesALinePerLogAndTheWorstStatus) {
  TempDir tmp;
  const std::string root = tmp / "lab";
  std::filesystem::create_directories(root + "/group/deeper");
  std::string infos;
  for (const char* name : {"a", "b", "group/c", "group/deeper/d"}) {
    const KECGlpsLogInfo info = MakeLog(root + "/" + name, {{"data.csv", "1\n"}});
    infos += InfoArg(info) + " " + name + "\n";
  }
  WriteFileBytes(root + "/infos.txt", infos);
  std::filesystem::create_directories(root + "/not-a-log");
  ASSERT_EQ(symlink((root + "/a").c_str(), (root + "/link-to-a").c_str()), 0);

  ToolResult all = RunTool({"verify", "--recursive", root, "--info-file", root + "/infos.txt"});
  EXPECT_EQ(all.status, 0) << all.out << all.err;
  EXPECT_THAT(all.out, HasSubstr("4 logs: 4 intact, 0 not authenticated (no info), 0 with "
                                 "tampering recorded, 0 not intact, 0 cannot be read"));
  EXPECT_THAT(all.out, Not(HasSubstr("link-to-a"))) << "links are not followed";

  // One without an info, one changed, one whose log.xml is damaged: the worst status counts.
  WriteFileBytes(root + "/infos.txt", infos.substr(infos.find('\n') + 1));
  const ToolResult unauthenticated =
      RunTool({"verify", "-r", root, "--info-file", root + "/infos.txt"});
  EXPECT_EQ(unauthenticated.status, 3);
  WriteFileBytes(root + "/group/c/data.csv", "2\n");
  const ToolResult changed = RunTool({"verify", "-r", root, "--info-file", root + "/infos.txt"});
  EXPECT_EQ(changed.status, 1);
  WriteFileBytes(root + "/b/log.xml", "<not an archive>");
  // Two jobs, and one (verifying on the command's own thread), report the same in the same order.
  for (const char* jobs : {"2", "1"}) {
    SCOPED_TRACE(jobs);
    const ToolResult json =
        RunTool({"verify", "-r", root, "--info-file", root + "/infos.txt", "--json", "-j", jobs});
    EXPECT_EQ(json.status, 4);
    std::vector<std::string> lines;
    std::istringstream in(json.out);
    std::string line;
    while (std::getline(in, line)) {
      const Json log = ParsedOrFail(line);
      lines.push_back(log["verdict"].get<std::string>() + " " +
                      log["directory"].get<std::string>().substr(root.size()));
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"not-authenticated /a", "unreadable /b",
                                               "not-intact /group/c", "intact /group/deeper/d"}));
  }
  // The same logs named one by one.
  const ToolResult named = RunTool({"verify", root + "/a", root + "/group/deeper/d"});
  EXPECT_EQ(named.status, 3);
  EXPECT_THAT(named.out, HasSubstr("2 logs: 0 intact, 2 not authenticated"));
}

// The lines of a run over many logs without the summary, the verdict column's blanks squeezed to
// one and `root` shown as "ROOT".
std::vector<std::string> VerifyLines(const std::string& out, const std::string& root) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line) && !line.empty()) {
    const std::size_t end = line.find(' ');
    const std::size_t next = line.find_first_not_of(' ', end);
    if (end != std::string::npos && next != std::string::npos) {
      line = line.substr(0, end) + " " + line.substr(next);
    }
    for (std::size_t at = line.find(root); at != std::string::npos; at = line.find(root, at)) {
      line.replace(at, root.size(), "ROOT");
    }
    lines.push_back(line);
  }
  return lines;
}

// Two logs below `root`, "good" and "zzz", and the infos of both in infos.txt beside `root`, in the
// form the command writes, the paths relative to the file. Returns the info file's path.
std::string TwoListedLogs(const std::string& root) {
  std::filesystem::create_directories(root);
  const std::filesystem::path base(root);
  std::string infos;
  for (const char* name : {"good", "zzz"}) {
    infos += glps_tool::InfoLine(MakeLog(root + "/" + name, {{"data.csv", "1,2\n"}}),
                                 base.filename().string() + "/" + name);
  }
  const std::string infoFile = base.parent_path().string() + "/infos.txt";
  WriteFileBytes(infoFile, infos);
  return infoFile;
}

TEST(ManyLogsTest, ADirectoryHoldingALogsFilesIsNeverLeftOut) {
  struct Case {
    const char* what;
    std::function<void(const std::string& log)> change;
    const char* detail;
  };
  const Case cases[] = {
      {"log.xml a symbolic link to an intact copy",
       [](const std::string& log) {
         ASSERT_EQ(rename((log + "/log.xml").c_str(), (log + "/../intact.xml").c_str()), 0);
         ASSERT_EQ(symlink("../intact.xml", (log + "/log.xml").c_str()), 0);
       },
       "ROOT/zzz/log.xml: not a regular file"},
      {"log.xml a FIFO",
       [](const std::string& log) {
         ASSERT_EQ(unlink((log + "/log.xml").c_str()), 0);
         ASSERT_EQ(mkfifo((log + "/log.xml").c_str(), 0644), 0);
       },
       "ROOT/zzz/log.xml: not a regular file"},
      {"log.xml a directory",
       [](const std::string& log) {
         ASSERT_EQ(unlink((log + "/log.xml").c_str()), 0);
         ASSERT_EQ(mkdir((log + "/log.xml").c_str(), 0755), 0);
       },
       "ROOT/zzz/log.xml: not a regular file"},
      {"log.xml gone, the documents left",
       [](const std::string& log) { ASSERT_EQ(unlink((log + "/log.xml").c_str()), 0); },
       "ROOT/zzz: no log.xml here"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const std::string root = tmp / "lab";
    const std::string infoFile = TwoListedLogs(root);
    c.change(root + "/zzz");
    // Unlisted, too: found by its files alone.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--info-file", infoFile}, std::vector<std::string>{}}) {
      std::vector<std::string> args = {"verify", "-r", root};
      args.insert(args.end(), extra.begin(), extra.end());
      const ToolResult result = RunTool(args);
      EXPECT_EQ(result.status, 4) << result.out;
      const std::vector<std::string> lines = VerifyLines(result.out, root);
      ASSERT_EQ(lines.size(), 2u) << result.out;
      EXPECT_THAT(lines[1], HasSubstr(std::string("unreadable ROOT/zzz  ") + c.detail));
      EXPECT_THAT(result.out, HasSubstr("2 logs: "));
      EXPECT_THAT(result.out, HasSubstr(", 1 cannot be read"));
    }
  }
}

TEST(ManyLogsTest, AListedLogThatIsNotFoundFailsTheRunWithItsPath) {
  TempDir tmp;
  const std::string root = tmp / "lab";
  const std::string infoFile = TwoListedLogs(root);
  // Listed, but outside the directory verified: not looked for.
  WriteFileBytes(infoFile, ReadFileBytes(infoFile) + "abc=:1  elsewhere/log\n");
  const ToolResult all = RunTool({"verify", "-r", root, "--info-file", infoFile});
  EXPECT_EQ(all.status, 0) << all.out;

  std::filesystem::remove_all(root + "/zzz");
  ToolResult result = RunTool({"verify", "-r", root, "--info-file", infoFile});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(VerifyLines(result.out, root),
            (std::vector<std::string>{
                "intact ROOT/good  3 protected files intact",
                "missing ROOT/zzz  missing: listed in " + infoFile + ", not found"}));
  EXPECT_THAT(result.out, HasSubstr("2 logs: 1 intact, 0 not authenticated (no info), 0 with "
                                    "tampering recorded, 0 not intact, 1 cannot be read (1 of "
                                    "them missing)"));

  // A link in its place is not followed, and says so.
  ASSERT_EQ(symlink((root + "/good").c_str(), (root + "/zzz").c_str()), 0);
  result = RunTool({"verify", "-r", root, "--info-file", infoFile, "--json"});
  EXPECT_EQ(result.status, 4);
  std::istringstream lines(result.out);
  std::string line;
  std::vector<Json> reports;
  while (std::getline(lines, line)) reports.push_back(ParsedOrFail(line));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1]["kind"], "missing-log");
  EXPECT_EQ(reports[1]["directory"], root + "/zzz");
  EXPECT_EQ(reports[1]["verdict"], "unreadable");
  EXPECT_EQ(reports[1]["exit_status"], 4);
  EXPECT_THAT(reports[1]["error"].get<std::string>(),
              HasSubstr("not found: a symbolic link is there (not followed)"));
}

// Runs the command as an account without any rights of its own: `nobody` when the tests run as
// root, else the tests' own account (which permission bits keep out as well).
ToolResult RunToolUnprivileged(const std::vector<std::string>& args) {
  if (getuid() != 0) return RunTool(args);
  return RunTool(args, {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
}

TEST(ManyLogsTest, ADirectoryThatCannotBeReadIsReportedAndFailsTheRun) {
  if (getuid() == 0 && access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "running as root without /usr/bin/setpriv: no account to which a directory's "
                    "permissions can deny reading";
  }
  TempDir tmp;
  ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
  const std::string root = tmp / "lab";
  const std::string infoFile = TwoListedLogs(root);
  std::filesystem::create_directories(root + "/locked");
  MakeLog(root + "/locked/inner", {});
  for (const std::string& path : {root, root + "/good", root + "/zzz", root + "/locked/inner"}) {
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  }
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) chmod(entry.path().c_str(), 0644);
  }
  chmod(infoFile.c_str(), 0644);
  // Listed below the locked directory, too.
  WriteFileBytes(infoFile,
                 ReadFileBytes(infoFile) +
                     glps_tool::InfoLine(InfoOfLog(root + "/locked/inner"), "lab/locked/inner"));
  ASSERT_EQ(chmod((root + "/locked").c_str(), 0), 0);

  const ToolResult result = RunToolUnprivileged({"verify", "-r", root, "--info-file", infoFile});
  chmod((root + "/locked").c_str(), 0755);
  EXPECT_EQ(result.status, 4) << result.out << result.err;
  EXPECT_EQ(
      VerifyLines(result.out, root),
      (std::vector<std::string>{
          "intact ROOT/good  3 protected files intact",
          "unreadable ROOT/locked  this directory cannot be read (Permission denied): no log in "
          "it is verified",
          "intact ROOT/zzz  3 protected files intact",
          "missing ROOT/locked/inner  missing: listed in " + infoFile +
              ", not found: ROOT/locked cannot be read"}));
  EXPECT_THAT(result.out, HasSubstr("3 logs: 2 intact, 0 not authenticated (no info), 0 with "
                                    "tampering recorded, 0 not intact, 1 cannot be read (1 of "
                                    "them missing); 1 directory cannot be read"));
}

TEST(ManyLogsTest, ALogDeeperThanAPathCanNameIsVerifiedInLittleMemory) {
  TempDir tmp;
  const std::string root = tmp / "lab";
  const int depth = 6000;
  glps_test::DirectoryChain chain(root, "d", depth);
  const KECGlpsLogInfo info = MakeLog(tmp / "log", {{"data.csv", "1\n"}});
  ASSERT_TRUE(chain.MoveIn(tmp.path(), "log"));
  const std::string deepLog = chain.DeepestPath() + "/log";
  ASSERT_GT(deepLog.size(), static_cast<std::size_t>(PATH_MAX));
  WriteFileBytes(tmp / "infos.txt", glps_tool::InfoLine(info, deepLog));

  const ToolResult result = RunTool({"verify", "-r", root, "--info-file", tmp / "infos.txt"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(VerifyLines(result.out, deepLog),
            (std::vector<std::string>{"intact ROOT  3 protected files intact"}));
  // The walk keeps a name and a few numbers per level: well under a megabyte for this chain, on top
  // of what the command needs for one log. AddressSanitizer keeps up to 256 MiB of freed memory
  // resident (its quarantine), so the bound holds in the normal build only.
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(result.maxResidentKiB, 64 * 1024) << "KiB resident at most";
#endif
}

// Exchanges two names over and over (renameat2 with RENAME_EXCHANGE) on a thread of its own until
// it goes.
class Racer {
 public:
  Racer(std::string a, std::string b)
      : m_a(std::move(a)), m_b(std::move(b)), m_thread([this]() {
          while (!m_stop) {
            if (renameat2(AT_FDCWD, m_a.c_str(), AT_FDCWD, m_b.c_str(), RENAME_EXCHANGE) == 0) {
              ++m_swaps;
            }
          }
        }) {}
  ~Racer() {
    m_stop = true;
    m_thread.join();
  }
  long Swaps() const { return m_swaps; }

 private:
  const std::string m_a;
  const std::string m_b;
  std::atomic<bool> m_stop{false};
  std::atomic<long> m_swaps{0};
  std::thread m_thread;
};

// The attacks on the walk: a changed log's directory exchanged with a symbolic link to an intact
// copy outside the root, and its log.xml exchanged with a link to the copy's, as fast as the
// system goes, while the command runs. Whatever moment the command meets, it never reads the copy.
TEST(ManyLogsTest, NamesExchangedWhileTheWalkRunsNeverLeadOutsideTheRoot) {
  TempDir tmp;
  const std::string root = tmp / "lab";
  const std::string infoFile = TwoListedLogs(root);
  std::filesystem::copy(root + "/zzz", tmp / "intact", std::filesystem::copy_options::recursive);
  // One byte of the listed log's document changed.
  const std::string document = DocumentOf(root + "/zzz");
  std::string bytes = ReadFileBytes(document);
  bytes[bytes.size() / 2] ^= 0x01;
  WriteFileBytes(document, bytes);
  ASSERT_EQ(symlink((tmp / "intact").c_str(), (tmp / "link-to-intact").c_str()), 0);
  ASSERT_EQ(symlink((tmp / "intact/log.xml").c_str(), (tmp / "link-to-log-xml").c_str()), 0);

  for (const bool directory : {true, false}) {
    SCOPED_TRACE(directory ? "the log's directory exchanged" : "its log.xml exchanged");
    const std::string swapped = root + "/zzz" + (directory ? "" : "/log.xml");
    const std::string link = tmp / (directory ? "link-to-intact" : "link-to-log-xml");
    std::map<std::string, int> seen;
    {
      Racer racer(swapped, link);
      for (int run = 0; run < 40; ++run) {
        const ToolResult result = RunTool({"verify", "-r", root, "--info-file", infoFile});
        const std::vector<std::string> lines = VerifyLines(result.out, root);
        ASSERT_EQ(lines.size(), 2u) << result.out;
        EXPECT_EQ(lines[0], "intact ROOT/good  3 protected files intact");
        const std::string verdict = lines[1].substr(0, lines[1].find(' '));
        ++seen[verdict];
        EXPECT_TRUE(verdict == "not-intact" || verdict == "unreadable" || verdict == "missing")
            << lines[1];
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.status, 3);
      }
      EXPECT_GT(racer.Swaps(), 0);
    }
    // The names back in their places.
    struct stat st;
    ASSERT_EQ(lstat(swapped.c_str(), &st), 0);
    if (S_ISLNK(st.st_mode)) {
      ASSERT_EQ(renameat2(AT_FDCWD, swapped.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE), 0);
    }
    std::string outcomes;
    for (const auto& [verdict, count] : seen)
      outcomes += verdict + " " + std::to_string(count) + "; ";
    RecordProperty(directory ? "directory_outcomes" : "log_xml_outcomes", outcomes);
  }
}

TEST(ManyLogsTest, TheProgressLineIsClearedBeforeEachLineOfOutput) {
  TempDir tmp;
  const std::string root = tmp / "lab";
  ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
  for (const char* name : {"a", "b", "c"}) MakeLog(root + "/" + name, {});
  std::string out;
  std::string terminal;
  ASSERT_EQ(glps_test::RunToolOnTerminal({"verify", "-r", root}, &out, &terminal, true), 3);
  EXPECT_THAT(terminal, HasSubstr("logs checked")) << "progress is shown on a terminal";
  // The screen as a terminal leaves it: a carriage return goes back to the line's start, where the
  // next text overwrites what stood there.
  std::vector<std::string> screen(1);
  std::size_t column = 0;
  for (char c : terminal) {
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      screen.emplace_back();
      column = 0;
    } else {
      std::string& line = screen.back();
      if (column < line.size()) {
        line[column] = c;
      } else {
        line += c;
      }
      ++column;
    }
  }
  std::vector<std::string> shown;
  for (std::string& line : screen) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) shown.push_back(line);
  }
  ASSERT_EQ(shown.size(), 4u) << terminal;
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(shown[i].rfind("not-authenticated ", 0), 0u) << shown[i];
    EXPECT_THAT(shown[i], Not(HasSubstr("checked")));
  }
  EXPECT_EQ(shown[3].rfind("3 logs: ", 0), 0u) << shown[3];
}

// --- The trail read back ------------------------------------------------------------------------

TEST(LogCommandTest, TextCsvAndJsonWithTheirSelections) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  MakeLog(dir, {});
  KCGenUserInfo::Instance()->SetCurrentUserName("tester");
  const KECGlpsLogInfoExperiment experiment = glps_test::Experiment("Assay");
  KECGlpsLogInfo info;
  KECGlpsServices* service = KECGlpsServices::Instance();
  ASSERT_TRUE(service->LogExpInit(dir, true, InfoOfLog(dir), KECGlpsLogInfoCrash(), experiment,
                                  nullptr, nullptr));
  ASSERT_TRUE(service->LogExpMsgContext("a \"quoted\", comma", "ctx  two"));
  ASSERT_TRUE(service->LogExpMsg("Müller  <b>"));
  ASSERT_TRUE(service->LogExpExit(&info));
  KECGlpsServices::Destroy();
  KCGenUserInfo::Instance()->ClearOverrides();

  const std::string infoArg = InfoArg(info);
  const ToolResult text = RunTool({"log", dir, "--info", infoArg});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.err, "");
  EXPECT_THAT(text.out, HasSubstr("entries:       4 (3 messages"));
  EXPECT_THAT(text.out, HasSubstr("a \"quoted\", comma:  'ctx  two'"));
  EXPECT_THAT(text.out, HasSubstr("Müller  <b>"));
  EXPECT_THAT(text.out, HasSubstr("result:        INTACT and authenticated"));
  // Without the info, the verdict's status and its words on standard error.
  const ToolResult unauthenticated = RunTool({"log", dir});
  EXPECT_EQ(unauthenticated.status, 3);
  EXPECT_THAT(unauthenticated.err, HasSubstr("glps log: CONSISTENT, NOT AUTHENTICATED"));

  const ToolResult csv = RunTool({"log", dir, "--csv", "--info", infoArg});
  EXPECT_EQ(csv.status, 0);
  EXPECT_THAT(csv.out, HasSubstr("\"a \"\"quoted\"\", comma\",ctx  two,\r\n"));
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 5) << "a header and 4 entries";

  // JSON Lines: the log, an object per entry, the summary.
  const std::vector<Json> lines = JsonLines(RunTool({"log", dir, "--json"}).out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0]["type"], "log");
  EXPECT_EQ(lines[5]["type"], "summary");
  EXPECT_EQ(lines[5]["entries"], 4);
  EXPECT_EQ(lines[5]["verdict"], "not-authenticated");
  EXPECT_EQ(lines[4]["message"], "Müller  <b>");
  EXPECT_EQ(lines[4]["number"], 3);
  EXPECT_EQ(lines[3]["context"], "ctx  two");
  EXPECT_TRUE(lines[1]["number"].is_null()) << "the caption has no number";
  const std::string day = lines[2]["date"];

  struct Case {
    std::vector<std::string> args;
    std::size_t entries;
  };
  const Case cases[] = {
      {{"--grep", "M.ller"}, 1},
      {{"--grep", "MÜLLER"}, 0},
      {{"--grep", "MÜLLER", "-i"}, 1},
      {{"--grep", "ctx  two"}, 1},
      {{"--from", day}, 4},
      {{"--to", day}, 4},
      {{"--from", "2999-01-01"}, 0},
      {{"--to", "1999-12-31T23:59Z"}, 0},
      {{"--from", "1999-12-31T23:59:59+14:00", "--grep", "quoted"}, 1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"log", dir, "--json", "--info", infoArg};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const ToolResult result = RunTool(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(LogLines(result.out, "entry").size(), c.entries);
    const std::vector<Json> summary = LogLines(result.out, "summary");
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0]["entries"], c.entries);
  }
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--from", "yesterday"}, std::vector<std::string>{"--grep", "("},
        std::vector<std::string>{"--info", "no-colon"}}) {
    const ToolResult result = RunTool({"log", dir, bad[0], bad[1]});
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.err, HasSubstr(bad[0]));
  }
  EXPECT_EQ(RunTool({"log", tmp / "absent"}).status, 4);
}

// Wherever entries are shown, each says where the bytes it comes from stand: text marks every
// entry that is not intact, CSV and JSON give the standing of each, the verdict's status is the
// exit status and standard error warns.
TEST(LogCommandTest, EveryEntryShowsTheStandingOfItsBytes) {
  struct Case {
    const char* what;
    void (*change)(const std::string& dir);
    int status;
    std::vector<std::string> standings;  // of the entries, in order
    const char* mark;                    // in the text output
    const char* warning;                 // on standard error ("" when none)
  };
  const Case cases[] = {
      {"untouched", [](const std::string&) {}, 0, {"intact", "intact"}, "", ""},
      {"a byte changed",
       [](const std::string& dir) {
         std::string bytes = ReadFileBytes(DocumentOf(dir));
         bytes[bytes.find("pipetted")] = 'P';
         WriteFileBytes(DocumentOf(dir), bytes);
       },
       1,
       {"modified", "modified"},
       "message (MODIFIED)",
       "2 entries (2 in a modified recorded part)"},
      {"an entry appended",
       [](const std::string& dir) {
         WriteFileBytes(DocumentOf(dir), ReadFileBytes(DocumentOf(dir)) + "appended<BR>\n");
       },
       1,
       {"intact", "intact", "unsaved-tail"},
       "text (UNSAVED)",
       "1 entry (1 in an unsaved tail)"},
      {"a document no record holds",
       [](const std::string& dir) {
         WriteFileBytes(dir + "/GLP-Log-Assay_0002.html", "forged<BR>\n");
       },
       1,
       {"intact", "intact", "unrecorded-document"},
       "text (UNRECORDED)",
       "1 entry (1 in an unrecorded document)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const std::string dir = tmp / "log";
    const std::string info = InfoArg(MakeLog(dir, {}));
    c.change(dir);

    const ToolResult text = RunTool({"log", dir, "--info", info});
    EXPECT_EQ(text.status, c.status);
    if (*c.mark != '\0') {
      EXPECT_THAT(text.out, HasSubstr(c.mark));
    }
    if (*c.warning == '\0') {
      EXPECT_EQ(text.err, "");
      EXPECT_THAT(text.out, Not(HasSubstr("(MODIFIED)")));
    } else {
      EXPECT_THAT(text.err, HasSubstr("glps log: NOT INTACT"));
      EXPECT_THAT(text.err, HasSubstr("glps log: WARNING: " + std::string(c.warning)));
      EXPECT_THAT(text.out, HasSubstr("NOT INTACT:    " + std::string(c.warning)));
    }

    const ToolResult json = RunTool({"log", dir, "--info", info, "--json"});
    EXPECT_EQ(json.status, c.status);
    std::vector<std::string> standings;
    for (const Json& entry : LogLines(json.out, "entry")) standings.push_back(entry["standing"]);
    EXPECT_EQ(standings, c.standings);

    const ToolResult csv = RunTool({"log", dir, "--info", info, "--csv"});
    EXPECT_EQ(csv.status, c.status);
    std::istringstream rows(csv.out);
    std::string row;
    std::getline(rows, row);
    EXPECT_THAT(row, HasSubstr("saved,standing,kind"));
    standings.clear();
    while (std::getline(rows, row)) {
      std::vector<std::string> cells;
      std::istringstream split(row);
      for (std::string cell; std::getline(split, cell, ',');) cells.push_back(cell);
      standings.push_back(cells.at(4));
    }
    EXPECT_EQ(standings, c.standings);
  }
}

TEST(LogCommandTest, CsvCellsOpenAsTextInASpreadsheet) {
  struct Case {
    std::string text;
    std::string cell;
  };
  const Case cases[] = {
      {"=cmd|' /C calc'!A0", "'=cmd|' /C calc'!A0"},
      {"+1+1", "'+1+1"},
      {"-2+3", "'-2+3"},
      {"@SUM(1)", "'@SUM(1)"},
      {"\tTab", "\\x09Tab"},
      {"a=1", "a=1"},
      {"plain", "plain"},
      {"", ""},
      {"x,=y", "\"x,=y\""},
      {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},
      {"C1 \xc2\x9b"
       "31m",
       "C1 \\xC2\\x9B31m"},
      {"raw \x9b", "raw \\x9B"},
      {"=\"q\"", "\"'=\"\"q\"\"\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(glps_tool::CsvCell(c.text), c.cell);
  }
  EXPECT_EQ(glps_tool::CsvCell("=a\n+b", true), "\"'=a\n+b\"") << "detail lines stay lines";

  // Through the command: cells of messages that would be formulas, no raw control byte.
  TempDir tmp;
  const std::string dir = tmp / "log";
  MakeLog(dir, {});
  KCGenUserInfo::Instance()->SetCurrentUserName("tester");
  KECGlpsLogInfo info;
  KECGlpsServices* service = KECGlpsServices::Instance();
  ASSERT_TRUE(service->LogExpInit(dir, true, InfoOfLog(dir), KECGlpsLogInfoCrash(),
                                  glps_test::Experiment("Assay"), nullptr, nullptr));
  for (const char* message : {"=cmd|' /C calc'!A0", "+1+1", "@SUM(1)"}) {
    ASSERT_TRUE(service->LogExpMsg(message));
  }
  ASSERT_TRUE(service->LogExpExit(&info));
  KECGlpsServices::Destroy();
  KCGenUserInfo::Instance()->ClearOverrides();
  // The library writes no control character; a crafted document holds any.
  WriteFileBytes(DocumentOf(dir),
                 ReadFileBytes(DocumentOf(dir)) + "\x1b]0;owned\x07 \xc2\x9b<BR>\n");
  const ToolResult csv = RunTool({"log", dir, "--csv", "--info", InfoArg(info)});
  EXPECT_EQ(csv.status, 1) << "an unsaved tail";
  EXPECT_THAT(csv.out, HasSubstr(",'=cmd|' /C calc'!A0,"));
  EXPECT_THAT(csv.out, HasSubstr(",'+1+1,"));
  EXPECT_THAT(csv.out, HasSubstr(",'@SUM(1),"));
  EXPECT_THAT(csv.out, HasSubstr(",\\x1B]0;owned\\x07 \\xC2\\x9B,,\r\n"));
  for (const char c : csv.out) {
    const unsigned char byte = static_cast<unsigned char>(c);
    EXPECT_FALSE((byte < 0x20 && byte != '\r' && byte != '\n') || byte == 0x7F) << int(byte);
  }
  EXPECT_EQ(csv.out.find("\xc2\x9b"), std::string::npos) << "no C1 control character";
}

// The auditor's demo: a log changed outside the trail, taken in by the library with a tamper entry,
// is intact against its info but never "fine": every tamper entry is named, crash entries are
// information, and the status is one of its own.
TEST(AuditorTest, TamperingTheTrailRecordsIsAFindingWithAStatusOfItsOwn) {
  TempDir tmp;
  const std::string demo = tmp / "t";
  ASSERT_EQ(RunTool({"demo", demo, "--crash"}).status, 0);
  ASSERT_EQ(RunTool({"demo", demo, "--tamper"}).status, 0);
  ASSERT_EQ(RunTool({"demo", demo}).status, 0);
  const std::string expDir = demo + "/experiments/Titration_7";
  const std::string infos = demo + "/demo-state.txt";

  const ToolResult table = RunTool({"verify", expDir, "--info-file", infos});
  EXPECT_EQ(table.status, 5) << table.out;
  EXPECT_THAT(table.out, HasSubstr("result: INTACT NOW, TAMPERING RECORDED EARLIER: the trail "
                                   "holds 1 tamper entry"));
  EXPECT_THAT(table.out, HasSubstr("log.xml matches the info"));
  EXPECT_THAT(table.out,
              ::testing::ContainsRegex("TAMPER: tamper entry \\(entry [0-9]+ of "
                                       "GLP-Log-Titration_7_0001.html, at byte [0-9]+\\), written "
                                       "between message [0-9]+ \\(20[0-9-]+ [0-9:]+ [-+0-9:]+\\)"));
  EXPECT_THAT(table.out, HasSubstr("crash (information): crash entry"));

  const Json report = ParsedOrFail(RunTool({"verify", expDir, "--info-file", infos, "--json"}).out);
  EXPECT_EQ(report["verdict"], "tamper-recorded");
  EXPECT_EQ(report["exit_status"], 5);
  EXPECT_EQ(report["tamper_entries"], 1);
  std::vector<std::string> kinds;
  for (const Json& event : report["events"]) kinds.push_back(event["kind"]);
  EXPECT_EQ(kinds, (std::vector<std::string>{"crash", "tamper"}));
  const Json& tamper = report["events"][1];
  EXPECT_EQ(tamper["document"], "GLP-Log-Titration_7_0001.html");
  EXPECT_GT(tamper["offset"], 0);
  EXPECT_TRUE(tamper["time_before"].is_string());
  EXPECT_TRUE(tamper["time_after"].is_string());
  const std::string document = ReadFileBytes(expDir + "/GLP-Log-Titration_7_0001.html");
  EXPECT_EQ(document.compare(tamper["offset"].get<std::size_t>(), 9, "<BR>\n<H2>"), 0)
      << "the offset is the tamper entry's";

  // Of many logs, the worst; `glps log` exits with the verdict's status and says why.
  const ToolResult all = RunTool({"verify", "-r", demo, "--info-file", infos});
  EXPECT_EQ(all.status, 5);
  EXPECT_THAT(all.out, HasSubstr("2 logs: 1 intact, 0 not authenticated (no info), 1 with "
                                 "tampering recorded, 0 not intact, 0 cannot be read"));
  const ToolResult log = RunTool({"log", expDir, "--info",
                                  report["info"]["hash"].get<std::string>() + ":" +
                                      std::to_string(report["info"]["size"].get<long long>())});
  EXPECT_EQ(log.status, 5);
  EXPECT_THAT(log.err, HasSubstr("glps log: INTACT NOW, TAMPERING RECORDED EARLIER"));
  EXPECT_THAT(log.out, HasSubstr("TAMPER: tamper entry"));
}

// What `glps log` shows beside its verdict is what was verified: a racer renaming a forged
// document over the real one as soon as the command has read it changes nothing of the output.
TEST(AuditorTest, ADocumentSwappedWhileTheLogIsShownCannotPutForgedEntriesThere) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const std::string info = InfoArg(MakeLog(dir, {}));
  const std::string document = DocumentOf(dir);
  const std::string name = document.substr(document.rfind('/') + 1);
  const std::string genuine = ReadFileBytes(document);
  std::string forged = genuine;
  forged.replace(forged.find("pipetted 20"), 11, "pipetted 90");
  const int kTries = 20;
  int swapped = 0;
  for (int i = 0; i < kTries; ++i) {
    SCOPED_TRACE(i);
    WriteFileBytes(tmp / "forged", forged);
    ToolResult shown;
    {
      glps_test::SwapAfterRead racer(dir, name, tmp / "forged");
      shown = RunTool({"log", dir, "--info", info, "--json"});
      swapped += racer.Swapped() ? 1 : 0;
    }
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_THAT(shown.out, HasSubstr("pipetted 20"));
    EXPECT_THAT(shown.out, Not(HasSubstr("pipetted 90")));
    WriteFileBytes(document, genuine);
    if (HasFailure()) break;
  }
  EXPECT_EQ(swapped, kTries);
}

// --- Man page and completion --------------------------------------------------------------------

TEST(DocumentationTest, ManPageAndCompletionKnowEveryOption) {
  const std::string man = ReadFileBytes(std::string(GLPS_SOURCE_DIR) + "/tools/glps/glps.1");
  const std::string completion =
      ReadFileBytes(std::string(GLPS_SOURCE_DIR) + "/tools/glps/glps.bash-completion");
  for (const char* command : {"demo", "verify", "show", "log", "pdf", "seal"}) {
    SCOPED_TRACE(command);
    const ToolResult help = RunTool({"help", command});
    ASSERT_EQ(help.status, 0);
    std::istringstream words(help.out);
    std::string word;
    std::set<std::string> options;
    while (words >> word) {
      const std::size_t end = word.find_first_of(",=[]");
      if (word.rfind("--", 0) == 0) options.insert(word.substr(0, end));
    }
    EXPECT_GE(options.size(), 2u);
    for (const std::string& option : options) {
      std::string escaped;  // as troff writes it: "\-\-json"
      for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
      EXPECT_THAT(man, HasSubstr(escaped)) << option;
      EXPECT_THAT(completion, HasSubstr(option)) << option;
    }
  }
  for (const char* status :
       {"\n.B 0\n", "\n.B 1\n", "\n.B 2\n", "\n.B 3\n", "\n.B 4\n", "\n.B 5\n"}) {
    EXPECT_THAT(man, HasSubstr(status));
  }
  // The completion offers what bash asks for.
  const std::string script = "source " + std::string(GLPS_SOURCE_DIR) +
                             "/tools/glps/glps.bash-completion; COMP_WORDS=(glps verify --re); "
                             "COMP_CWORD=2; _glps; echo \"${COMPREPLY[*]}\"";
  const std::string out = glps_test::RunShell(script);
  EXPECT_EQ(out, "--recursive --require-info\n");
}

}  // namespace
