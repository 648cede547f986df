// SPDX-License-Identifier: Apache-2.0
// Sealing through the glps command: `glps seal init` and the verification key it prints once (and
// draws as a QR code on a terminal), the seals checked by `glps verify --seal-key` with each
// verdict and exit status, and the key passed through to the verdict of `glps pdf`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "glps/glps.h"
#include "json_out.h"
#include "seal.h"
#include "support/log_reading.h"
#include "support/temp_dir.h"
#include "tool_runner.h"

namespace {

namespace fs = std::filesystem;
using glps_test::ReadFileBytes;
using glps_test::RunTool;
using glps_test::TempDir;
using glps_test::ToolResult;
using glps_test::WriteFileBytes;
using ::testing::HasSubstr;
using ::testing::Not;
using Json = nlohmann::json;

// One run of a host over the experiment log in `dir`: opens it with the info it kept, logs and
// saves `saves` times, and exits.
void RunHost(const std::string& dir, int saves, KECGlpsLogInfo* info) {
  KCGenUserInfo::Instance()->SetCurrentUserName("tester");
  KECGlpsServices* service = KECGlpsServices::Instance();
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = "Assay";
  EXPECT_TRUE(
      service->LogExpInit(dir, true, *info, KECGlpsLogInfoCrash(), experiment, nullptr, nullptr));
  for (int i = 0; i < saves; ++i) {
    EXPECT_TRUE(service->LogExpMsg("weighed sample " + std::to_string(i)));
    EXPECT_TRUE(service->LogExpSave("", info));
  }
  EXPECT_TRUE(service->LogExpExit(info));
  KECGlpsServices::Destroy();
  KCGenUserInfo::Instance()->ClearOverrides();
}

// The verification key on the line of `out` that begins "verification key: ".
std::string KeyIn(const std::string& out) {
  std::istringstream lines(out);
  std::string line, key;
  const std::string prefix = "verification key: ";
  int found = 0;
  while (std::getline(lines, line)) {
    if (line.rfind(prefix, 0) == 0) {
      key = line.substr(prefix.size());
      ++found;
    }
  }
  EXPECT_EQ(found, 1) << out;
  return key;
}

// A log in `dir` sealed by the command after its first run, then saved again by two more runs.
std::string MakeSealedLog(const std::string& dir) {
  mkdir(dir.c_str(), 0755);
  KECGlpsLogInfo info;
  RunHost(dir, 1, &info);
  const ToolResult init = RunTool({"seal", "init", dir});
  EXPECT_EQ(init.status, 0) << init.err;
  RunHost(dir, 2, &info);
  RunHost(dir, 1, &info);
  return KeyIn(init.out);
}

std::string DocumentOf(const std::string& dir) {
  for (const std::string& name : glps_test::ListDirectory(dir)) {
    if (glps_test::EndsWith(name, ".html")) return dir + "/" + name;
  }
  return "";
}

TEST(SealCommandTest, InitPrintsTheKeyOnceStoresItNowhereAndIsNotRepeated) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  mkdir(dir.c_str(), 0755);
  KECGlpsLogInfo info;
  RunHost(dir, 1, &info);

  const ToolResult init = RunTool({"seal", "init", dir});
  ASSERT_EQ(init.status, 0) << init.err;
  const std::string key = KeyIn(init.out);
  EXPECT_TRUE(KECGlpsSeal::IsVerificationKey(key)) << key;
  // Not a terminal: no QR code, no terminal control sequences.
  EXPECT_EQ(init.out.find('\033'), std::string::npos);
  EXPECT_THAT(init.out, HasSubstr("glps verify " + dir + " --seal-key"));

  struct stat st;
  ASSERT_EQ(stat((dir + "/" + KECGlpsSeal::KeyFileName()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);
  // The key is stored nowhere in the directory, with or without its dashes.
  std::string bare = key;
  bare.erase(std::remove(bare.begin(), bare.end(), '-'), bare.end());
  for (const std::string& name : glps_test::ListDirectory(dir)) {
    const std::string bytes = ReadFileBytes(dir + "/" + name);
    EXPECT_EQ(bytes.find(key), std::string::npos) << name;
    EXPECT_EQ(bytes.find(bare), std::string::npos) << name;
  }

  // A second setup would hand out a key that does not check the seals already made: refused, the
  // files untouched.
  const std::string seals = ReadFileBytes(dir + "/" + KECGlpsSeal::SealFileName());
  const ToolResult again = RunTool({"seal", "init", dir});
  EXPECT_EQ(again.status, 1);
  EXPECT_THAT(again.err, HasSubstr("glps seal init: "));
  EXPECT_EQ(again.out.find("verification key"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(dir + "/" + KECGlpsSeal::SealFileName()), seals);

  EXPECT_EQ(RunTool({"seal", "init", tmp / "absent"}).status, 1);
  EXPECT_EQ(RunTool({"seal"}).status, 2);
  EXPECT_EQ(RunTool({"seal", "init"}).status, 2);
}

// On a terminal the key is also drawn as a QR code, two rows of modules per line in half blocks:
// read back, the drawing has the three finder patterns of a QR code in its corners, inside a light
// quiet zone.
TEST(SealCommandTest, OnATerminalTheKeyIsDrawnAsAQrCode) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  mkdir(dir.c_str(), 0755);
  std::ostringstream out, err;
  glps_tool::SealInitOptions options;
  options.directory = dir;
  ASSERT_EQ(glps_tool::RunSealInit(options, out, err, true), 0) << err.str();
  KeyIn(out.str());

  // The modules, row by row, from the lines between the colour sequences.
  std::vector<std::string> rows;
  std::istringstream lines(out.str());
  std::string line;
  const std::string upper = "\u2580", lower = "\u2584", full = "\u2588";
  while (std::getline(lines, line)) {
    const std::size_t start = line.find("\033[30;47m");
    const std::size_t end = line.find("\033[0m");
    if (start == std::string::npos || end == std::string::npos) continue;
    std::string top, bottom;
    for (std::size_t i = start + 8; i < end;) {
      const bool blank = line[i] == ' ';
      const std::string cell = blank ? " " : line.substr(i, 3);
      top += cell == upper || cell == full ? '#' : '.';
      bottom += cell == lower || cell == full ? '#' : '.';
      i += blank ? 1 : 3;
    }
    rows.push_back(top);
    rows.push_back(bottom);
  }
  ASSERT_GE(rows.size(), 25u);
  // An odd number of rows: the last line's lower half is below the drawing.
  if (rows.size() % 2 == 0 && rows.back().find('#') == std::string::npos) rows.pop_back();
  const std::size_t side = rows.size();
  const std::size_t zone = 2;
  const std::size_t width = side - 2 * zone;
  EXPECT_EQ((width - 21) % 4, 0u) << "a QR code is 21 + 4k modules wide";
  for (const std::string& row : rows) ASSERT_EQ(row.size(), side);
  for (std::size_t i = 0; i < side; ++i) {
    for (std::size_t z = 0; z < zone; ++z) {
      EXPECT_EQ(rows[z][i], '.');
      EXPECT_EQ(rows[side - 1 - z][i], '.');
      EXPECT_EQ(rows[i][z], '.');
      EXPECT_EQ(rows[i][side - 1 - z], '.');
    }
  }
  const auto finderAt = [&](std::size_t top, std::size_t left) {
    for (std::size_t y = 0; y < 7; ++y) {
      for (std::size_t x = 0; x < 7; ++x) {
        const bool ring = y == 0 || y == 6 || x == 0 || x == 6;
        const bool core = y >= 2 && y <= 4 && x >= 2 && x <= 4;
        if (rows[top + y][left + x] != (ring || core ? '#' : '.')) return false;
      }
    }
    return true;
  };
  EXPECT_TRUE(finderAt(zone, zone));
  EXPECT_TRUE(finderAt(zone, zone + width - 7));
  EXPECT_TRUE(finderAt(zone + width - 7, zone));
  EXPECT_FALSE(finderAt(zone + width - 7, zone + width - 7));

  // --no-qr, and a second log: the key line only.
  const std::string other = tmp / "other";
  mkdir(other.c_str(), 0755);
  std::ostringstream plain;
  options.directory = other;
  options.qr = false;
  ASSERT_EQ(glps_tool::RunSealInit(options, plain, err, true), 0);
  EXPECT_EQ(plain.str().find('\033'), std::string::npos);
  KeyIn(plain.str());
}

TEST(SealCommandTest, VerifyChecksTheSealsWithTheKey) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const std::string key = MakeSealedLog(dir);
  const std::string otherKey = MakeSealedLog(tmp / "other");
  std::string shouted = key;  // upper case, without the dashes
  shouted.erase(std::remove(shouted.begin(), shouted.end(), '-'), shouted.end());
  for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  const ToolResult json = RunTool({"verify", dir, "--seal-key", key, "--json"});
  ASSERT_EQ(json.status, 0) << json.out;
  const Json report = Json::parse(json.out);
  const Json& seal = report["seal"];
  const std::int64_t last = seal["last_seal"];
  EXPECT_GE(last, 3);  // seal 0 and a seal per save since
  EXPECT_EQ(seal["intact_through"], last);
  EXPECT_EQ(seal["seals"], last + 1);
  EXPECT_EQ(seal["checked"], true);
  EXPECT_EQ(seal["intact"], true);
  EXPECT_EQ(seal["log_xml_covered"], true);
  for (const Json& finding : seal["findings"]) EXPECT_EQ(finding["fails"], false) << finding;
  const std::string through = "sealed and intact through save " + std::to_string(last) + " at " +
                              seal["last_time"].get<std::string>();
  // The key in files, out of sight of the command line: bare, as seal init printed it, nothing.
  const std::string keyFile = tmp / "key";
  const std::string printedFile = tmp / "printed";
  const std::string emptyFile = tmp / "empty";
  WriteFileBytes(keyFile, key);
  WriteFileBytes(printedFile, "\n  verification key: " + key + " \r\n\nnot the key\n");
  WriteFileBytes(emptyFile, " \n\t\n");

  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string out;  // expected in standard output (or, for status 2, standard error)
  };
  const Case cases[] = {
      {"the key", {"verify", dir, "--seal-key", key}, 0, through},
      {"the key in upper case, without dashes", {"verify", dir, "--seal-key", shouted}, 0, through},
      {"no key", {"verify", dir}, 3, "neither an info nor the verification key given"},
      {"no key, info required", {"verify", dir, "--require-info"}, 1, "not checked without"},
      {"another log's key", {"verify", dir, "--seal-key", otherKey}, 1, "wrong-key"},
      {"not a key", {"verify", dir, "--seal-key", "12ab"}, 2, "--seal-key wants"},
      {"one key for two logs", {"verify", dir, tmp / "other", "--seal-key", key}, 2, "one log"},
      {"the key from a file", {"verify", dir, "--seal-key-file", keyFile}, 0, through},
      {"the printed line from a file", {"verify", dir, "--seal-key-file", printedFile}, 0, through},
      {"a file without a key", {"verify", dir, "--seal-key-file", emptyFile}, 2, "no key in"},
      {"no key on standard input", {"verify", dir, "--seal-key-file", "-"}, 2, "no key in"},
      {"a key file that is not there",
       {"verify", dir, "--seal-key-file", tmp / "absent"},
       2,
       "cannot read"},
      {"a key and a key file",
       {"verify", dir, "--seal-key", key, "--seal-key-file", keyFile},
       2,
       "excludes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolResult result = RunTool(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_THAT(c.status == 2 ? result.err : result.out, HasSubstr(c.out));
  }

  // Forged copies: each failing seal finding with its reason, and exit status 1.
  struct Forgery {
    const char* what;
    void (*forge)(const std::string& copy);
    const char* reason;
  };
  const Forgery forgeries[] = {
      {"a sealed byte changed",
       [](const std::string& copy) {
         std::string bytes = ReadFileBytes(DocumentOf(copy));
         bytes[bytes.size() / 2] ^= 0x01;
         WriteFileBytes(DocumentOf(copy), bytes);
       },
       "sealed-bytes-changed"},
      {"a seal removed from the middle",
       [](const std::string& copy) {
         const std::string path = copy + "/" + KECGlpsSeal::SealFileName();
         std::string seals = ReadFileBytes(path);
         const std::size_t second = seals.find("\nseal=1 ");
         const std::size_t third = seals.find('\n', second + 1);
         seals.erase(second, third - second);
         WriteFileBytes(path, seals);
       },
       "seals-missing"},
  };
  int number = 0;
  for (const Forgery& forgery : forgeries) {
    SCOPED_TRACE(forgery.what);
    const std::string copy = tmp / ("forged" + std::to_string(++number));
    fs::copy(dir, copy, fs::copy_options::recursive);
    forgery.forge(copy);
    const ToolResult result = RunTool({"verify", copy, "--seal-key", key});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.out, HasSubstr("SEALS DO NOT VERIFY"));
    EXPECT_THAT(result.out, HasSubstr("  " + std::string(forgery.reason) + ": "));
    EXPECT_THAT(result.out, HasSubstr("of the seals"));
  }
}

TEST(SealCommandTest, PdfStatesTheVerdictOfTheSeals) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const std::string key = MakeSealedLog(dir);
  const std::string otherKey = MakeSealedLog(tmp / "other");
  struct Case {
    const char* what;
    std::vector<std::string> extra;
    int status;
    const char* text;
  };
  const Case cases[] = {
      {"the key", {"--seal-key", key}, 0, "verdict: INTACT and authenticated"},
      {"no key", {}, 0, "verdict: CONSISTENT, NOT AUTHENTICATED"},
      {"another log's key", {"--seal-key", otherKey}, 0, "verdict: NOT INTACT"},
      {"not a key", {"--seal-key", "xyz"}, 2, "--seal-key wants"},
      {"the key from a file",
       {"--seal-key-file", tmp / "key"},
       0,
       "verdict: INTACT and authenticated"},
  };
  WriteFileBytes(tmp / "key", "verification key: " + key + "\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"pdf", dir, "-o", tmp / "copy.pdf"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const ToolResult result = RunTool(args);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_THAT(c.status == 2 ? result.err : result.out, HasSubstr(c.text));
  }
}

}  // namespace
