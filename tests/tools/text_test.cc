// SPDX-License-Identifier: Apache-2.0
// Escaping of bytes read from log directories, for terminals and for JSON.
#include "text.h"

#include <gtest/gtest.h>

#include <string>

#include "json_reader.h"

namespace {

using glps_tool::JsonString;
using glps_tool::Printable;

// The UTF-8 encoding of a code point below U+0800.
std::string Utf8(unsigned cp) {
  if (cp < 0x80) return std::string(1, static_cast<char>(cp));
  return {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
}

TEST(TextTest, EveryByteSurvivesAJsonRoundTrip) {
  for (unsigned b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string text = "a" + std::string(1, static_cast<char>(b)) + "z";
    glps_test::Json json;
    ASSERT_TRUE(glps_test::ParseJson(JsonString(text), &json)) << JsonString(text);
    // ASCII reads back as it was; a lone byte of 0x80 or more as the code point of its value.
    EXPECT_EQ(json.text, "a" + Utf8(b) + "z");
  }
}

TEST(TextTest, ValidUtf8PassesAndEverythingElseIsEscapedBytewise) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string json;
    std::string printable;
  };
  const Case cases[] = {
      {"plain", "GLP-Log_0001.html", "\"GLP-Log_0001.html\"", "GLP-Log_0001.html"},
      {"two- to four-byte UTF-8", "M\xc3\xbcller \xc2\xb5g \xe2\x82\xac \xf0\x9f\x94\xac",
       "\"M\xc3\xbcller \xc2\xb5g \xe2\x82\xac \xf0\x9f\x94\xac\"",
       "M\xc3\xbcller \xc2\xb5g \xe2\x82\xac \xf0\x9f\x94\xac"},
      {"quote, backslash, controls", "\"\\\n\t\x1b[2J\x7f", "\"\\\"\\\\\\n\\t\\u001b[2J\\u007f\"",
       "\"\\\\\\x0A\\x09\\x1B[2J\\x7F"},
      {"Latin-1 byte", "M\xfcller", "\"M\\u00fcller\"", "M\\xFCller"},
      {"overlong slash", "\xc0\xaf", "\"\\u00c0\\u00af\"", "\\xC0\\xAF"},
      {"encoded surrogate", "\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\"", "\\xED\\xA0\\x80"},
      {"above U+10FFFF", "\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\"",
       "\\xF4\\x90\\x80\\x80"},
      {"cut-off sequence at the end", "ab\xe2\x82", "\"ab\\u00e2\\u0082\"", "ab\\xE2\\x82"},
      {"NUL", std::string("a\0b", 3), "\"a\\u0000b\"", "a\\x00b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(JsonString(c.bytes), c.json);
    EXPECT_EQ(Printable(c.bytes), c.printable);
    glps_test::Json json;
    EXPECT_TRUE(glps_test::ParseJson(JsonString(c.bytes), &json));
  }
}

}  // namespace
