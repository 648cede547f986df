// SPDX-License-Identifier: Apache-2.0
#include "html/html_generator.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "serialization/text_mode.h"

namespace {

const char kHead[] = "<HTML>\r\n<HEAD>\r\n<TITLE>\r\n</TITLE>\r\n</HEAD>\r\n";

std::string MainPage(const std::string& menu, const std::string& content,
                     const std::string& title = "") {
  std::ostringstream out;
  KECGlpsHtmlMainGenerator generator(out, title);
  generator.SetMenuFrame(menu, "menu");
  generator.SetContentFrame(content, "log");
  generator.Generate();
  return glps::ToTextFile(out.str());
}

std::string MenuPage(const std::vector<std::string>& documents) {
  std::ostringstream out;
  KECGlpsHtmlMenuGenerator generator(out, "");
  for (const std::string& d : documents) generator.AddLink("", d, "log");
  generator.Generate();
  return glps::ToTextFile(out.str());
}

TEST(HtmlGenerator, MainPageBytes) {
  EXPECT_EQ(MainPage("GLP-Menu.html", "Log_0002.html"),
            std::string(kHead) +
                "<FRAMESET rows = \"30%,70%\">\r\n"
                "<FRAME name=\"menu\" src=\"GLP-Menu.html\"><FRAME name=\"log\" "
                "src=\"Log_0002.html\"></FRAMESET>\r\n"
                "</HTML>\r\n");
}

TEST(HtmlGenerator, MenuPageBytesForOneTwoAndThreeDocuments) {
  const std::vector<std::string> names = {"Log_0001.html", "Log_0002.html", "Log_0003.html"};
  for (std::size_t n = 1; n <= names.size(); ++n) {
    std::vector<std::string> documents(names.begin(), names.begin() + n);
    std::string expected = std::string(kHead) + "<BODY>\r\n";
    for (const std::string& d : documents) {
      expected += ": <a class=\"menu\" href=\"" + d + "\" target=\"log\">" + d + "</a><BR>\r\n";
    }
    expected += "</BODY>\r\n</HTML>\r\n";
    EXPECT_EQ(MenuPage(documents), expected) << n << " documents";
  }
}

TEST(HtmlGenerator, MenuWithoutLinksHasEmptyBody) {
  EXPECT_EQ(MenuPage({}), std::string(kHead) + "<BODY>\r\n</BODY>\r\n</HTML>\r\n");
}

TEST(HtmlGenerator, UnsetFramesAndRawValues) {
  std::ostringstream out;
  KECGlpsHtmlMainGenerator generator(out, "<b>T&\"\nx");
  generator.SetContentFrame("a%target%b", "<&\">");
  generator.Generate();
  EXPECT_EQ(glps::ToTextFile(out.str()),
            "<HTML>\r\n<HEAD>\r\n<TITLE>\r\n<b>T&\"\r\nx</TITLE>\r\n</HEAD>\r\n"
            "<FRAMESET rows = \"30%,70%\">\r\n"
            "<FRAME name=\"\" src=\"\"><FRAME name=\"<&\">\" src=\"a<&\">b\"></FRAMESET>\r\n"
            "</HTML>\r\n");
}

TEST(HtmlGenerator, MenuEntriesAreWrittenUnescapedWithTextFirst) {
  std::ostringstream out;
  KECGlpsHtmlMenuGenerator generator(out, "");
  generator.AddLink("T<", "a&b\"c", "t");
  generator.AddLink("T<", "a&b\"c", "t");
  generator.Generate();
  const std::string line = "T<: <a class=\"menu\" href=\"a&b\"c\" target=\"t\">a&b\"c</a><BR>\n";
  EXPECT_NE(out.str().find(line + line + "</BODY>"), std::string::npos) << out.str();
}

TEST(HtmlGenerator, GenerateTwiceAppendsTheWholePageAgain) {
  std::ostringstream out;
  KECGlpsHtmlMenuGenerator generator(out, "");
  generator.AddLink("", "d", "log");
  generator.Generate();
  const std::string once = out.str();
  generator.Generate();
  EXPECT_EQ(out.str(), once + once);
}

TEST(TextMode, LineEndsRoundTrip) {
  const std::vector<std::string> cases = {"", "a\nb", "\r\n", "a\r", "\r\r\n\n", "x\ry\n"};
  for (const std::string& text : cases) {
    EXPECT_EQ(glps::FromTextFile(glps::ToTextFile(text)), text);
  }
  EXPECT_EQ(glps::ToTextFile("a\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(glps::FromTextFile("a\r\nb\nc\r"), "a\nb\nc\r");
}

}  // namespace
