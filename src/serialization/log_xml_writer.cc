// SPDX-License-Identifier: Apache-2.0
#include "serialization/log_xml_writer.h"

#include <boost/archive/basic_archive.hpp>

#include <charconv>
#include <cstdint>
#include <sstream>
#include <string>
#include <type_traits>

namespace {

// The text of a log.xml as the XML output archive writes it: each element but the outermost starts
// on a new line indented by one tab per level; an element's end tag follows its value on the same
// line, or its last inner element on a new line; line ends are CR LF.
class Text {
 public:
  explicit Text(std::string* out) : m_out(*out) {}

  void Literal(const char* text, std::size_t length) { m_out.append(text, length); }
  template <std::size_t N>
  void Literal(const char (&text)[N]) {
    m_out.append(text, N - 1);
  }

  // A start tag at `depth` (0 for the outermost element), left open for attributes.
  template <std::size_t N>
  void Open(const char (&name)[N], int depth) {
    if (depth > 0) {
      m_out.append("\r\n", 2);
      m_out.append(static_cast<std::size_t>(depth), '\t');
    }
    m_out += '<';
    Literal(name);
  }
  // The end tag of an element whose last content was an inner element.
  template <std::size_t N>
  void CloseAfterElements(const char (&name)[N], int depth) {
    m_out.append("\r\n", 2);
    m_out.append(static_cast<std::size_t>(depth), '\t');
    m_out.append("</", 2);
    Literal(name);
    m_out += '>';
  }
  // An element holding the value's text: "<name>text</name>".
  template <std::size_t N, class Value>
  void Element(const char (&name)[N], int depth, const Value& value) {
    Open(name, depth);
    m_out += '>';
    Put(value);
    m_out.append("</", 2);
    Literal(name);
    m_out += '>';
  }
  // The attributes of the first object of a class: class id, tracking level and version.
  void ClassAttributes(int classId, int tracking, unsigned version) {
    Literal(" class_id=\"");
    Put(classId);
    Literal("\" tracking_level=\"");
    Put(tracking);
    Literal("\" version=\"");
    Put(version);
    m_out += '"';
  }
  void ObjectId(int id) {
    Literal(" object_id=\"_");
    Put(id);
    m_out += '"';
  }

  // Numbers in decimal, as the archive's stream writes them (the classic locale: no grouping).
  template <class Number, std::enable_if_t<std::is_integral_v<Number>, int> = 0>
  void Put(Number number) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, number);
    m_out.append(digits, static_cast<std::size_t>(result.ptr - digits));
  }
  void Put(bool value) { m_out += value ? '1' : '0'; }
  // Text with the archive's escapes of the XML markup characters; a line feed becomes CR LF like
  // every line end of the file.
  void Put(const std::string& text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* run = p;
    for (; p != end; ++p) {
      const char* escaped = nullptr;
      std::size_t length = 0;
      switch (*p) {
        case '<': escaped = "&lt;", length = 4; break;
        case '>': escaped = "&gt;", length = 4; break;
        case '&': escaped = "&amp;", length = 5; break;
        case '"': escaped = "&quot;", length = 6; break;
        case '\'': escaped = "&apos;", length = 6; break;
        case '\n': escaped = "\r\n", length = 2; break;
        default: continue;
      }
      m_out.append(run, static_cast<std::size_t>(p - run));
      m_out.append(escaped, length);
      run = p + 1;
    }
    m_out.append(run, static_cast<std::size_t>(end - run));
  }
  // The host's values (GUIDs, times) as their stream output writes them, unescaped, as the archive
  // writes its primitive values.
  void PutStreamed(const std::string& streamed) {
    for (char c : streamed) {
      if (c == '\n') m_out += '\r';
      m_out += c;
    }
  }

 private:
  std::string& m_out;
};

template <class Value>
std::string Streamed(const Value& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// The class ids the archive hands out, in the order the classes first appear in the file.
enum ClassId {
  kSession = 0,
  kHeaderPointer,
  kHeader,
  kMetaDataPointer,
  kMetaData,
  kCatalogPointer,
  kCatalog,
  kCodingScheme,
  kRecordsPointer,
  kRecords,
  kRecord,
};

// Class versions and tracking levels as log_serialization.h declares them: shared pointers version
// 1, the catalog version 1, everything else version 0; the objects behind the pointers tracked.
constexpr unsigned kPointerVersion = 1;
constexpr unsigned kCatalogVersion = 1;

// A record's element at depth 3, without the class attributes of the first record.
void PutRecordFields(Text& text, const KECGlpsFileManagerData& record) {
  text.Element("m_eType", 4, static_cast<std::int32_t>(record.m_eType));
  text.Element("m_strFileName", 4, record.m_strFileName);
  text.Element("m_strHash", 4, record.m_strHash);
  text.Element("m_nSize", 4, record.m_nSize);
  text.Element("m_bHashed", 4, record.m_bHashed);
  text.CloseAfterElements("item", 3);
}

bool SameRecord(const KECGlpsFileManagerData& a, const KECGlpsFileManagerData& b) {
  return a.m_eType == b.m_eType && a.m_nSize == b.m_nSize && a.m_bHashed == b.m_bHashed &&
         a.m_strHash == b.m_strHash && a.m_strFileName == b.m_strFileName;
}

}  // namespace

KECGlpsLogXmlWriter::KECGlpsLogXmlWriter() = default;

const std::string& KECGlpsLogXmlWriter::RecordElement(std::size_t index,
                                                      const KECGlpsFileManagerData& record) {
  if (index >= m_vRecordTexts.size()) m_vRecordTexts.resize(index + 1);
  RecordText& cached = m_vRecordTexts[index];
  if (cached.text.empty() || !SameRecord(cached.record, record)) {
    // Made aside and then taken, so that a failure part-way keeps no text for the record.
    std::string made;
    Text text(&made);
    text.Open("item", 3);
    made += '>';
    PutRecordFields(text, record);
    cached.text.clear();
    cached.record = record;
    cached.text.swap(made);
  }
  return cached.text;
}

const std::string& KECGlpsLogXmlWriter::Write(const KECGlpsLogHeader& header,
                                              const KECGlpsLogMetaData& metaData,
                                              const KECGlpsLogCatalog& catalog,
                                              const std::vector<KECGlpsFileManagerData>& records) {
  m_strText.clear();
  Text text(&m_strText);
  text.Literal(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n"
      "<!DOCTYPE boost_serialization>\r\n"
      "<boost_serialization signature=\"");
  text.Literal(boost::archive::BOOST_ARCHIVE_SIGNATURE(),
               std::char_traits<char>::length(boost::archive::BOOST_ARCHIVE_SIGNATURE()));
  text.Literal("\" version=\"");
  text.Put(static_cast<unsigned>(boost::archive::BOOST_ARCHIVE_VERSION()));
  text.Literal("\">\r\n");

  text.Open("Session", 0);
  text.ClassAttributes(kSession, 0, 0);
  text.Literal(">");

  text.Open("m_ptrHeader", 1);
  text.ClassAttributes(kHeaderPointer, 0, kPointerVersion);
  text.Literal(">");
  text.Open("px", 2);
  text.ClassAttributes(kHeader, 1, 0);
  text.ObjectId(0);
  text.Literal(">");
  text.Element("m_eContentType", 3, static_cast<std::int32_t>(header.m_eContentType));
  text.Element("m_usContentVersion", 3, header.m_usContentVersion);
  text.Open("m_tmCreation", 3);
  text.Literal(">");
  text.PutStreamed(Streamed(header.m_tmCreation));
  text.Literal("</m_tmCreation>");
  text.Element("m_strUserCreation", 3, header.m_strUserCreation);
  text.Open("m_tmModification", 3);
  text.Literal(">");
  text.PutStreamed(Streamed(header.m_tmModification));
  text.Literal("</m_tmModification>");
  text.Element("m_strUserModification", 3, header.m_strUserModification);
  text.Element("m_strSource", 3, header.m_strSource);
  text.Element("m_eDescription", 3, static_cast<std::int32_t>(header.m_eDescription));
  text.Element("m_strDescription", 3, header.m_strDescription);
  text.Open("m_guid", 3);
  text.Literal(">");
  text.PutStreamed(Streamed(header.m_guid));
  text.Literal("</m_guid>");
  text.CloseAfterElements("px", 2);
  text.CloseAfterElements("m_ptrHeader", 1);

  text.Open("m_ptrMetaData", 1);
  text.ClassAttributes(kMetaDataPointer, 0, kPointerVersion);
  text.Literal(">");
  text.Open("px", 2);
  text.ClassAttributes(kMetaData, 1, 0);
  text.ObjectId(1);
  text.Literal(">");
  text.Element("m_strVersionOriginal", 3, metaData.m_strVersionOriginal);
  text.Open("m_guidOriginal", 3);
  text.Literal(">");
  text.PutStreamed(Streamed(metaData.m_guidOriginal));
  text.Literal("</m_guidOriginal>");
  text.Element("m_strExpName", 3, metaData.m_strExpName);
  text.CloseAfterElements("px", 2);
  text.CloseAfterElements("m_ptrMetaData", 1);

  text.Open("m_ptrCatalog", 1);
  text.ClassAttributes(kCatalogPointer, 0, kPointerVersion);
  text.Literal(">");
  text.Open("px", 2);
  text.ClassAttributes(kCatalog, 1, kCatalogVersion);
  text.ObjectId(2);
  text.Literal(">");
  text.Element("m_lNextIndex", 3, catalog.m_lNextIndex);
  text.Open("m_merCodingSchemeInfo", 3);
  text.ClassAttributes(kCodingScheme, 0, 0);
  text.Literal(">");
  text.Element("first", 4, catalog.m_merCodingSchemeInfo.first);
  text.Element("second", 4, catalog.m_merCodingSchemeInfo.second);
  text.CloseAfterElements("m_merCodingSchemeInfo", 3);
  text.CloseAfterElements("px", 2);
  text.CloseAfterElements("m_ptrCatalog", 1);

  text.Open("m_ptrFileData", 1);
  text.ClassAttributes(kRecordsPointer, 0, kPointerVersion);
  text.Literal(">");
  text.Open("px", 2);
  text.ClassAttributes(kRecords, 1, 0);
  text.ObjectId(3);
  text.Literal(">");
  text.Element("count", 3, static_cast<std::uint64_t>(records.size()));
  text.Element("item_version", 3, 0u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i == 0) {
      text.Open("item", 3);
      text.ClassAttributes(kRecord, 0, 0);
      text.Literal(">");
      PutRecordFields(text, records[0]);
    } else {
      m_strText += RecordElement(i, records[i]);
    }
  }
  if (m_vRecordTexts.size() > records.size()) m_vRecordTexts.resize(records.size());
  text.CloseAfterElements("px", 2);
  text.CloseAfterElements("m_ptrFileData", 1);
  text.CloseAfterElements("Session", 0);
  // The archive ends the outermost element's line, writes its closing tag on a line of its own,
  // and its stream ends with one more line end.
  text.Literal("\r\n</boost_serialization>\r\n\r\n");
  return m_strText;
}
