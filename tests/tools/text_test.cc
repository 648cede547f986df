// SPDX-License-Identifier: Apache-2.0
// The command's handling of bytes read from log directories: for terminals, and exactly in JSON;
// and the parsing of an info given on the command line or in a line of an info file.
#include "text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "json_out.h"
#include "verify.h"

namespace {

using glps_tool::Printable;

TEST(TextTest, EveryByteIsGivenExactlyInJson) {
  for (unsigned b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string text = "a" + std::string(1, static_cast<char>(b)) + "z";
    glps_tool::Json object;
    glps_tool::AddExactText(&object, "name", text);
    const nlohmann::json read = nlohmann::json::parse(object.dump());
    const std::string display = read["name"];
    if (b < 0x80) {
      EXPECT_EQ(display, text);
      EXPECT_TRUE(read["name_hex"].is_null());
    } else {
      EXPECT_EQ(display, "a\xef\xbf\xbdz") << "a lone byte is shown as U+FFFD";
      char hex[8];
      std::snprintf(hex, sizeof hex, "61%02x7a", b);
      EXPECT_EQ(read["name_hex"], hex) << "and given exactly beside";
    }
  }
}

TEST(TextTest, ValidUtf8PassesAndEverythingElseIsEscapedBytewise) {
  struct Case {
    const char* what;
    std::string bytes;
    bool utf8;
    std::string printable;
  };
  const Case cases[] = {
      {"plain", "GLP-Log_0001.html", true, "GLP-Log_0001.html"},
      {"two- to four-byte UTF-8", "M\xc3\xbcller \xc2\xb5g \xe2\x82\xac \xf0\x9f\x94\xac", true,
       "M\xc3\xbcller \xc2\xb5g \xe2\x82\xac \xf0\x9f\x94\xac"},
      {"quote, backslash, controls", "\"\\\n\t\x1b[2J\x7f", true, "\"\\\\\\x0A\\x09\\x1B[2J\\x7F"},
      {"Latin-1 byte", "M\xfcller", false, "M\\xFCller"},
      {"overlong slash", "\xc0\xaf", false, "\\xC0\\xAF"},
      {"encoded surrogate", "\xed\xa0\x80", false, "\\xED\\xA0\\x80"},
      {"above U+10FFFF", "\xf4\x90\x80\x80", false, "\\xF4\\x90\\x80\\x80"},
      {"cut-off sequence at the end", "ab\xe2\x82", false, "ab\\xE2\\x82"},
      {"NUL", std::string("a\0b", 3), true, "a\\x00b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(glps_tool::IsUtf8(c.bytes), c.utf8);
    EXPECT_EQ(Printable(c.bytes), c.printable);
    EXPECT_TRUE(glps_tool::IsUtf8(glps_tool::ToUtf8Lossy(c.bytes)));
    if (c.utf8) {
      EXPECT_EQ(glps_tool::ToUtf8Lossy(c.bytes), c.bytes);
    }
  }
}

// Columns as a terminal gives them: tables of CJK names line up.
TEST(TextTest, TablesAreAsWideAsATerminalShowsTheirCells) {
  const struct {
    const char* what;
    std::string text;
    std::size_t width;
  } cases[] = {
      {"ASCII", "GLP-Log_0001.html", 17},
      {"Latin with umlaut", "M\xc3\xbcller", 6},
      {"Chinese, two columns each", "\xe8\xaf\x95\xe5\x89\x82.csv", 8},
      {"a combining mark takes none", "e\xcc\x81", 1},
      {"a byte that is not UTF-8, one", "M\xfcller", 6},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(glps_tool::DisplayWidth(c.text), c.width) << c.what;
  }
  std::ostringstream out;
  glps_tool::PrintTable(out, {{"\xe8\xaf\x95\xe5\x89\x82.csv", "1"}, {"data.csv", "22"}},
                        {false, true});
  EXPECT_EQ(out.str(),
            "\xe8\xaf\x95\xe5\x89\x82.csv   1\n"
            "data.csv  22\n");
}

TEST(TextTest, InfoTextIsHashColonSize) {
  struct Case {
    const char* text;
    bool ok;
    const char* hash;
    std::int64_t size;
  };
  const Case cases[] = {
      {"abc=:123", true, "abc=", 123},
      {"a:b:7", true, "a:b", 7},
      {":0", true, "", 0},
      {"abc", false, "", 0},
      {"abc:", false, "", 0},
      {"abc:-1", false, "", 0},
      {"abc:12x", false, "", 0},
      {"abc: 12", false, "", 0},
      {"abc:99999999999999999999", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    KECGlpsLogInfo info;
    EXPECT_EQ(glps_tool::ParseLogInfo(c.text, &info), c.ok);
    if (c.ok) {
      EXPECT_EQ(info.m_strLogHash, c.hash);
      EXPECT_EQ(info.m_nLogSize, c.size);
    }
  }
}

// The line form of an info file is read back as written, whatever the path holds; the forms of
// earlier versions are read too.
TEST(TextTest, InfoLinesAreReadAsWritten) {
  KECGlpsLogInfo info;
  info.m_strLogHash = "GuQSkkUBNw+2/FtoWpBiO7IM285hjJeqoXErCPMA=";
  info.m_nLogSize = 2691;
  for (const std::string path : {"lab/Titration_7", "/abs/path", "two  blanks", "  leading blanks",
                                 "back\\slash", "line\nend", "cr\rhere", "ü \xff"}) {
    SCOPED_TRACE(path);
    const std::string line = glps_tool::InfoLine(info, path);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
    const bool escaped = path.find_first_of("\\\n\r") != std::string::npos;
    EXPECT_EQ(line.rfind(escaped ? "\\" + glps_tool::InfoText(info) + "  "
                                 : glps_tool::InfoText(info) + "  ",
                         0),
              0u);
    KECGlpsLogInfo read;
    std::string readPath;
    ASSERT_TRUE(glps_tool::ParseInfoLine(line.substr(0, line.size() - 1), &read, &readPath));
    EXPECT_EQ(read.m_strLogHash, info.m_strLogHash);
    EXPECT_EQ(read.m_nLogSize, info.m_nLogSize);
    EXPECT_EQ(readPath, path);
  }
  struct Case {
    const char* line;
    bool ok;
    const char* hash;
    std::int64_t size;
    const char* path;
  };
  const Case cases[] = {
      {"abc=:12 one blank", true, "abc=", 12, "one blank"},
      {"log lab/a abc= 12", true, "abc=", 12, "lab/a"},
      {"log lab/a - 0", true, "", 0, "lab/a"},
      {"abc=:12", false, "", 0, ""},
      {"abc=:12  ", false, "", 0, ""},
      {"abc=:x  lab/a", false, "", 0, ""},
      {"\\abc=:12  bad\\escape", false, "", 0, ""},
      {"log lab/a abc=", false, "", 0, ""},
      {"log lab/a abc= 12 extra", false, "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    KECGlpsLogInfo read;
    std::string path;
    EXPECT_EQ(glps_tool::ParseInfoLine(c.line, &read, &path), c.ok);
    if (c.ok) {
      EXPECT_EQ(read.m_strLogHash, c.hash);
      EXPECT_EQ(read.m_nLogSize, c.size);
      EXPECT_EQ(path, c.path);
    }
  }
}

}  // namespace
