// SPDX-License-Identifier: Apache-2.0
// The index pages of a log with several documents: "GLP-Main.html", a frameset with a menu above
// and one document below, and "GLP-Menu.html", the menu with one link per document.
#ifndef GLPS_HTML_HTML_GENERATOR_H_
#define GLPS_HTML_HTML_GENERATOR_H_

#include <ostream>
#include <string>
#include <vector>

// Writes the skeleton of a page (HTML, HEAD, TITLE) onto a stream owned by the caller; the kinds
// below add their body. Nothing is escaped: names, titles, texts and targets are written as given.
// A line break is "\n" and a flush, as on a text stream: the caller stores the page as text, so
// every line break reaches the file as CR LF. Stream errors are not checked. One thread; the stream
// must outlive the object.
class KECGlpsHtmlGenerator {
 public:
  KECGlpsHtmlGenerator(std::ostream& stream, const std::string& title);
  virtual ~KECGlpsHtmlGenerator();
  KECGlpsHtmlGenerator(const KECGlpsHtmlGenerator&) = delete;
  KECGlpsHtmlGenerator& operator=(const KECGlpsHtmlGenerator&) = delete;

  // Writes the whole page after whatever the stream already holds.
  virtual void Generate();

 protected:
  virtual void WriteHead();
  virtual void WriteBody();

  void WriteTag(const std::string& tag, const std::string& attributes, bool closing,
                bool lineBreak);
  void WriteOpenTag(const std::string& tag, bool lineBreak);
  void WriteOpenTag(const std::string& tag, const std::string& attributes, bool lineBreak);
  void WriteCloseTag(const std::string& tag, bool lineBreak);
  void WriteLineBreak();

  std::ostream& m_pStream;
  std::string m_strTitle;
};

// The frameset page: the menu frame above (30 %), the content frame below (70 %).
class KECGlpsHtmlMainGenerator : public KECGlpsHtmlGenerator {
 public:
  struct Frame {
    std::string file;
    std::string target;
  };

  KECGlpsHtmlMainGenerator(std::ostream& stream, const std::string& title);
  ~KECGlpsHtmlMainGenerator() override;

  void SetMenuFrame(const std::string& file, const std::string& target);
  void SetContentFrame(const std::string& file, const std::string& target);

 protected:
  void WriteBody() override;
  void WriteFrame(const Frame& frame);

 private:
  Frame m_frameMenu;
  Frame m_frameContent;
};

// The menu page: one line per link, in the order the links were added.
class KECGlpsHtmlMenuGenerator : public KECGlpsHtmlGenerator {
 public:
  struct Link {
    std::string text;
    std::string link;
    std::string target;
  };

  KECGlpsHtmlMenuGenerator(std::ostream& stream, const std::string& title);
  ~KECGlpsHtmlMenuGenerator() override;

  void AddLink(const std::string& text, const std::string& link, const std::string& target);

 protected:
  void WriteBody() override;
  void WriteLinks();

 private:
  std::vector<Link> m_vLinks;
};

#endif  // GLPS_HTML_HTML_GENERATOR_H_
