// SPDX-License-Identifier: Apache-2.0
// KECGlpsLogXmlWriter: the bytes of log.xml for a log's state, made without the archive's
// machinery.
#ifndef GLPS_SERIALIZATION_LOG_XML_WRITER_H_
#define GLPS_SERIALIZATION_LOG_XML_WRITER_H_

#include <cstddef>
#include <string>
#include <vector>

#include "glps/records.h"

// Writes the text of log.xml byte for byte as the XML output archive writes it from the
// serialization of log_serialization.h (flags 0), with the line ends of a text file
// (serialization/text_mode.h), so that a save costs little more than copying the text: the archive
// calls a virtual function and an output stream per element and per character, about as much work
// per record as the rest of a save. Tests hold the two to the same bytes for every kind of value;
// the serialization stays the reading side, and the definition of the format.
//
// The text of a record's element is kept from one save to the next while the record keeps its
// values, so a save of a log whose records mostly stand still copies most of its text.
//
// Owned by the log session, one per log; one thread.
class KECGlpsLogXmlWriter {
 public:
  KECGlpsLogXmlWriter();
  KECGlpsLogXmlWriter(const KECGlpsLogXmlWriter&) = delete;
  KECGlpsLogXmlWriter& operator=(const KECGlpsLogXmlWriter&) = delete;

  // The file's bytes for this state; valid until the next call.
  const std::string& Write(const KECGlpsLogHeader& header, const KECGlpsLogMetaData& metaData,
                           const KECGlpsLogCatalog& catalog,
                           const std::vector<KECGlpsFileManagerData>& records);

 private:
  // The element of a record after the first (the first carries the class's attributes), with the
  // record it was made from.
  struct RecordText {
    KECGlpsFileManagerData record;
    std::string text;
  };

  const std::string& RecordElement(std::size_t index, const KECGlpsFileManagerData& record);

  // Indexed by the record's position; an entry stands for the record at that position only while
  // the values are the same.
  std::vector<RecordText> m_vRecordTexts;
  // The file's text, its storage reused from save to save.
  std::string m_strText;
};

#endif  // GLPS_SERIALIZATION_LOG_XML_WRITER_H_
