// SPDX-License-Identifier: Apache-2.0
// Report items of the host's reports library. Each item renders itself as a piece of HTML text that
// is appended to a log document. The documents declare no character set, so the rendered text is
// plain ASCII: every character outside ASCII is written as a numeric character reference.
//
// Items are plain immutable values; rendering touches no shared state.
#ifndef GLPS_HOST_REPORTS_H_
#define GLPS_HOST_REPORTS_H_

#include <string>

#include "glps/export.h"

// The base of all report items.
class GLPSHOST_API KCRptReportItem {
 public:
  virtual ~KCRptReportItem();
  // The item's HTML text; the empty text when the item has nothing to show.
  virtual std::string GetHtml() const = 0;
};

// A run of text with optional bold, italic and underline.
//
// The text is taken as UTF-8 and rendered so that any browser shows it as given: '&', '<', '>' and
// '"' are escaped; a blank at the start or end of the text, or following another blank, becomes
// "&nbsp;" so that runs of blanks stay visible; characters outside ASCII become numeric character
// references ("&#228;"); bytes that are not valid UTF-8, control characters other than tab, line
// feed and carriage return, and the C1 controls become "&#65533;" (the replacement character). An
// empty text renders as the empty text, without tags.
class GLPSHOST_API KCRptRepItNormal : public KCRptReportItem {
 public:
  KCRptRepItNormal(const std::string& text, bool bold, bool italic, bool underline);
  std::string GetHtml() const override;

 private:
  std::string m_strText;
  bool m_bBold;
  bool m_bItalic;
  bool m_bUnderline;
};

// Line breaks: "<BR>" count times, then a line end. A count of 0 or less renders as the empty text;
// counts above kMaxCount are taken as kMaxCount.
class GLPSHOST_API KCRptRepItNewLine : public KCRptReportItem {
 public:
  static constexpr int kMaxCount = 1000;

  explicit KCRptRepItNewLine(int count);
  std::string GetHtml() const override;

 private:
  int m_nCount;
};

// A heading: "<H2>text</H2>" and a line end, the text rendered as in KCRptRepItNormal. An empty
// text renders as the empty text.
class GLPSHOST_API KCRptRepItTitle : public KCRptReportItem {
 public:
  explicit KCRptRepItTitle(const std::string& text);
  std::string GetHtml() const override;

 private:
  std::string m_strText;
};

// A horizontal rule: "<HR size=N>" (with " noshade" inside the tag when asked) and a line end. A
// size below 1 gives a rule of the browser's default size ("<HR>").
class GLPSHOST_API KCRptRepItHorizontalLine : public KCRptReportItem {
 public:
  KCRptRepItHorizontalLine(int size, bool noShade);
  std::string GetHtml() const override;

 private:
  int m_nSize;
  bool m_bNoShade;
};

#endif  // GLPS_HOST_REPORTS_H_
