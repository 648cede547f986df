// SPDX-License-Identifier: Apache-2.0
// Builders and comparers for the records a log keeps (file records, header, metadata, catalog,
// sidecar entities) and for the host's experiment description. Uses the public interface only
// (stored_records.h reads through the library's own classes).
//
// A comparer names the first field that differs ("m_strHash: \"a\" != \"b\"", with the index for a
// list) and is empty when the two are equal, so that a test shows what differs and a fuzz target
// can check for the empty text.
#ifndef GLPS_TESTS_SUPPORT_RECORDS_H_
#define GLPS_TESTS_SUPPORT_RECORDS_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "glps/records.h"

struct KECGlpsFileHtmlMetaDataEntity;

namespace glps_test {

KECGlpsFileManagerData MakeRecord(Glps::EFileType kind, const std::string& name,
                                  const std::string& hash, std::int64_t size, bool hashed = true);

// The experiment description the host passes when it opens an experiment log.
KECGlpsLogInfoExperiment Experiment(const std::string& name, bool extra = false,
                                    std::int32_t version = 0);

std::string RecordDifference(const KECGlpsFileManagerData& a, const KECGlpsFileManagerData& b);
std::string RecordsDifference(const std::vector<KECGlpsFileManagerData>& a,
                              const std::vector<KECGlpsFileManagerData>& b);
std::string HeaderDifference(const KECGlpsLogHeader& a, const KECGlpsLogHeader& b);
std::string MetaDataDifference(const KECGlpsLogMetaData& a, const KECGlpsLogMetaData& b);
std::string CatalogDifference(const KECGlpsLogCatalog& a, const KECGlpsLogCatalog& b);
std::string EntitiesDifference(const std::vector<KECGlpsFileHtmlMetaDataEntity>& a,
                               const std::vector<KECGlpsFileHtmlMetaDataEntity>& b);

inline bool SameRecord(const KECGlpsFileManagerData& a, const KECGlpsFileManagerData& b) {
  return RecordDifference(a, b).empty();
}
inline bool SameRecords(const std::vector<KECGlpsFileManagerData>& a,
                        const std::vector<KECGlpsFileManagerData>& b) {
  return RecordsDifference(a, b).empty();
}

// The names of the records, in record order.
std::vector<std::string> Names(const std::vector<KECGlpsFileManagerData>& records);

}  // namespace glps_test

// How GoogleTest shows a record in a failure message.
void PrintTo(const KECGlpsFileManagerData& record, std::ostream* out);

#endif  // GLPS_TESTS_SUPPORT_RECORDS_H_
