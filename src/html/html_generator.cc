// SPDX-License-Identifier: Apache-2.0
#include "html/html_generator.h"

#include "glps/host/gen.h"

namespace {
const char kLineBreak[] = "\n";
}  // namespace

KECGlpsHtmlGenerator::KECGlpsHtmlGenerator(std::ostream& stream, const std::string& title)
    : m_pStream(stream), m_strTitle(title) {}

KECGlpsHtmlGenerator::~KECGlpsHtmlGenerator() = default;

void KECGlpsHtmlGenerator::Generate() {
  WriteOpenTag("HTML", true);
  WriteHead();
  WriteBody();
  WriteCloseTag("HTML", true);
}

void KECGlpsHtmlGenerator::WriteHead() {
  WriteOpenTag("HEAD", true);
  WriteOpenTag("TITLE", true);
  m_pStream << m_strTitle;
  WriteCloseTag("TITLE", true);
  WriteCloseTag("HEAD", true);
}

void KECGlpsHtmlGenerator::WriteBody() {}

void KECGlpsHtmlGenerator::WriteTag(const std::string& tag, const std::string& attributes,
                                    bool closing, bool lineBreak) {
  m_pStream << '<';
  if (closing) m_pStream << '/';
  m_pStream << tag;
  if (!attributes.empty()) m_pStream << ' ' << attributes;
  m_pStream << '>';
  if (lineBreak) WriteLineBreak();
}

void KECGlpsHtmlGenerator::WriteOpenTag(const std::string& tag, bool lineBreak) {
  WriteTag(tag, std::string(), false, lineBreak);
}

void KECGlpsHtmlGenerator::WriteOpenTag(const std::string& tag, const std::string& attributes,
                                        bool lineBreak) {
  WriteTag(tag, attributes, false, lineBreak);
}

void KECGlpsHtmlGenerator::WriteCloseTag(const std::string& tag, bool lineBreak) {
  WriteTag(tag, std::string(), true, lineBreak);
}

void KECGlpsHtmlGenerator::WriteLineBreak() { m_pStream << kLineBreak << std::flush; }

KECGlpsHtmlMainGenerator::KECGlpsHtmlMainGenerator(std::ostream& stream, const std::string& title)
    : KECGlpsHtmlGenerator(stream, title) {}

KECGlpsHtmlMainGenerator::~KECGlpsHtmlMainGenerator() = default;

void KECGlpsHtmlMainGenerator::SetMenuFrame(const std::string& file, const std::string& target) {
  m_frameMenu = Frame{file, target};
}

void KECGlpsHtmlMainGenerator::SetContentFrame(const std::string& file, const std::string& target) {
  m_frameContent = Frame{file, target};
}

void KECGlpsHtmlMainGenerator::WriteBody() {
  WriteOpenTag("FRAMESET", "rows = \"30%,70%\"", true);
  WriteFrame(m_frameMenu);
  WriteFrame(m_frameContent);
  WriteCloseTag("FRAMESET", true);
}

void KECGlpsHtmlMainGenerator::WriteFrame(const Frame& frame) {
  std::string text = "<FRAME name=\"%target%\" src=\"%file%\">";
  kstringutil::replace_all(&text, "%file%", frame.file);
  kstringutil::replace_all(&text, "%target%", frame.target);
  m_pStream << text;
}

KECGlpsHtmlMenuGenerator::KECGlpsHtmlMenuGenerator(std::ostream& stream, const std::string& title)
    : KECGlpsHtmlGenerator(stream, title) {}

KECGlpsHtmlMenuGenerator::~KECGlpsHtmlMenuGenerator() = default;

void KECGlpsHtmlMenuGenerator::AddLink(const std::string& text, const std::string& link,
                                       const std::string& target) {
  m_vLinks.push_back(Link{text, link, target});
}

void KECGlpsHtmlMenuGenerator::WriteBody() {
  WriteOpenTag("BODY", true);
  WriteLinks();
  WriteCloseTag("BODY", true);
}

void KECGlpsHtmlMenuGenerator::WriteLinks() {
  std::string text;
  for (const Link& entry : m_vLinks) {
    std::string line =
        "%text%: <a class=\"menu\" href=\"%link%\" target=\"%target%\">%link%</a><BR>";
    line += kLineBreak;
    kstringutil::replace_all(&line, "%text%", entry.text);
    kstringutil::replace_all(&line, "%link%", entry.link);
    kstringutil::replace_all(&line, "%target%", entry.target);
    text += line;
  }
  m_pStream << text;
}
