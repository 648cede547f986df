// SPDX-License-Identifier: Apache-2.0
// KECGlpsLogXmlWriter: the same bytes as the XML output archive writes from the serialization of
// log.xml, for any values, and again after records changed, were added or went.
#include "serialization/log_xml_writer.h"

#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/nvp.hpp>

#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "serialization/log_serialization.h"
#include "serialization/text_mode.h"

namespace {

using Records = std::vector<KECGlpsFileManagerData>;

// The state of a log as the storage writes it: the element "Session" (class version 0, written by
// value, so not tracked) with the four shared pointers.
struct ArchivedState {
  boost::shared_ptr<KECGlpsLogHeader> header;
  boost::shared_ptr<KECGlpsLogMetaData> metaData;
  boost::shared_ptr<KECGlpsLogCatalog> catalog;
  boost::shared_ptr<Records> records;
};

}  // namespace

namespace boost {
namespace serialization {
template <class Archive>
void serialize(Archive& ar, ArchivedState& state, const unsigned int /*version*/) {
  ar& make_nvp("m_ptrHeader", state.header);
  ar& make_nvp("m_ptrMetaData", state.metaData);
  ar& make_nvp("m_ptrCatalog", state.catalog);
  ar& make_nvp("m_ptrFileData", state.records);
}
}  // namespace serialization
}  // namespace boost

namespace {

// What the storage wrote through the archive before the writer existed: the archive's text with
// the line ends of a text file.
std::string ArchiveText(const KECGlpsLogHeader& header, const KECGlpsLogMetaData& metaData,
                        const KECGlpsLogCatalog& catalog, const Records& records) {
  ArchivedState state{boost::make_shared<KECGlpsLogHeader>(header),
                      boost::make_shared<KECGlpsLogMetaData>(metaData),
                      boost::make_shared<KECGlpsLogCatalog>(catalog),
                      boost::make_shared<Records>(records)};
  std::ostringstream out;
  {
    boost::archive::xml_oarchive archive(out, 0);
    const ArchivedState& saved = state;
    archive << boost::serialization::make_nvp("Session", saved);
  }
  return glps::ToTextFile(out.str());
}

// Text that meets every escape: markup, quotes, line ends, control bytes, bytes outside ASCII,
// NUL, empty.
std::string RandomText(std::mt19937& rng) {
  static const std::vector<std::string> pieces = {
      "a",        "Z9",   ".html", "<",     ">",
      "&",        "\"",   "'",     "\n",    "\r",
      "\r\n",     "\t",   " ",     "\x01",  std::string(1, '\0'),
      "\xC3\xA4", "\xFF", "]]>",   "&amp;", "GLP-Log-E_0001"};
  std::string text;
  for (std::size_t n = rng() % 8; n > 0; --n) text += pieces[rng() % pieces.size()];
  return text;
}

template <class Int>
Int RandomNumber(std::mt19937& rng) {
  switch (rng() % 4) {
    case 0: return std::numeric_limits<Int>::min();
    case 1: return std::numeric_limits<Int>::max();
    case 2: return 0;
    default:
      return static_cast<Int>(std::uniform_int_distribution<std::int64_t>(
          std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max())(rng));
  }
}

KECGlpsFileManagerData RandomRecord(std::mt19937& rng) {
  KECGlpsFileManagerData record;
  record.m_eType = static_cast<Glps::EFileType>(RandomNumber<std::int32_t>(rng));
  record.m_strFileName = RandomText(rng);
  record.m_strHash = RandomText(rng);
  record.m_nSize = RandomNumber<std::int64_t>(rng);
  record.m_bHashed = rng() % 2 == 0;
  return record;
}

TEST(LogXmlWriter, WritesTheArchivesBytesForAnyValues) {
  std::mt19937 rng(20261210);
  KECGlpsLogXmlWriter writer;
  Records records;
  for (int round = 0; round < 300; ++round) {
    KECGlpsLogHeader header;
    header.m_eContentType =
        static_cast<KCGenStandardFileHeader::EContentType>(RandomNumber<std::int32_t>(rng));
    header.m_usContentVersion = RandomNumber<std::uint16_t>(rng);
    header.m_tmCreation = rng() % 3 == 0
                              ? KCGenTime(false)
                              : KCGenTime::FromMicroseconds(RandomNumber<std::int64_t>(rng));
    header.m_strUserCreation = RandomText(rng);
    header.m_tmModification = KCGenTime(rng() % 2 == 0);
    header.m_strUserModification = RandomText(rng);
    header.m_strSource = RandomText(rng);
    header.m_eDescription =
        static_cast<KCGenStandardFileHeader::EDescription>(RandomNumber<std::int32_t>(rng));
    header.m_strDescription = RandomText(rng);
    header.m_guid = KCGenGUID(rng() % 2 == 0);
    KECGlpsLogMetaData metaData;
    metaData.m_strVersionOriginal = RandomText(rng);
    metaData.m_guidOriginal = KCGenGUID(true);
    metaData.m_strExpName = RandomText(rng);
    KECGlpsLogCatalog catalog;
    catalog.m_lNextIndex = RandomNumber<std::int32_t>(rng);
    catalog.m_merCodingSchemeInfo = {rng() % 2 == 0, RandomNumber<std::int32_t>(rng)};

    // The records change as a log's do between saves, so that the writer's kept text is tried:
    // most stay, some change, some are added, now and then all go or a few are dropped.
    switch (rng() % 8) {
      case 0: records.clear(); break;
      case 1: records.resize(records.size() / 2); break;
      default:
        for (KECGlpsFileManagerData& record : records) {
          if (rng() % 4 == 0) record = RandomRecord(rng);
        }
        for (std::size_t n = rng() % 4; n > 0; --n) records.push_back(RandomRecord(rng));
    }
    ASSERT_EQ(writer.Write(header, metaData, catalog, records),
              ArchiveText(header, metaData, catalog, records))
        << "round " << round << ", " << records.size() << " records";
  }
}

}  // namespace
