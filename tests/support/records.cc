// SPDX-License-Identifier: Apache-2.0
#include "support/records.h"

#include <sstream>

#include "files/glps_file_html.h"

namespace glps_test {
namespace {

template <class T>
std::string Shown(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}
std::string Shown(const std::string& value) { return '"' + value + '"'; }
std::string Shown(bool value) { return value ? "true" : "false"; }
std::string Shown(const std::pair<bool, std::int32_t>& value) {
  return "{" + Shown(value.first) + ", " + std::to_string(value.second) + "}";
}

// Appends the field's difference to `out` unless an earlier field already differs.
template <class T>
void Compare(const char* field, const T& a, const T& b, std::string* out) {
  if (out->empty() && !(a == b)) *out = std::string(field) + ": " + Shown(a) + " != " + Shown(b);
}

template <class T, class Difference>
std::string ListDifference(const std::vector<T>& a, const std::vector<T>& b,
                           Difference difference) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const std::string text = difference(a[i], b[i]);
    if (!text.empty()) return "[" + std::to_string(i) + "] " + text;
  }
  if (a.size() != b.size()) {
    return "size: " + std::to_string(a.size()) + " != " + std::to_string(b.size());
  }
  return std::string();
}

std::string EntityDifference(const KECGlpsFileHtmlMetaDataEntity& a,
                             const KECGlpsFileHtmlMetaDataEntity& b) {
  std::string out;
  Compare("m_eType", static_cast<int>(a.m_eType), static_cast<int>(b.m_eType), &out);
  Compare("m_nHandle", a.m_nHandle, b.m_nHandle, &out);
  Compare("m_guid", a.m_guid, b.m_guid, &out);
  return out;
}

}  // namespace

KECGlpsFileManagerData MakeRecord(Glps::EFileType kind, const std::string& name,
                                  const std::string& hash, std::int64_t size, bool hashed) {
  KECGlpsFileManagerData record;
  record.m_eType = kind;
  record.m_strFileName = name;
  record.m_strHash = hash;
  record.m_nSize = size;
  record.m_bHashed = hashed;
  return record;
}

KECGlpsLogInfoExperiment Experiment(const std::string& name, bool extra, std::int32_t version) {
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = name;
  experiment.m_bExtra = extra;
  experiment.m_nVersion = version;
  return experiment;
}

std::string RecordDifference(const KECGlpsFileManagerData& a, const KECGlpsFileManagerData& b) {
  std::string out;
  Compare("m_eType", static_cast<int>(a.m_eType), static_cast<int>(b.m_eType), &out);
  Compare("m_strFileName", a.m_strFileName, b.m_strFileName, &out);
  Compare("m_strHash", a.m_strHash, b.m_strHash, &out);
  Compare("m_nSize", a.m_nSize, b.m_nSize, &out);
  Compare("m_bHashed", a.m_bHashed, b.m_bHashed, &out);
  return out;
}

std::string RecordsDifference(const std::vector<KECGlpsFileManagerData>& a,
                              const std::vector<KECGlpsFileManagerData>& b) {
  return ListDifference(a, b, RecordDifference);
}

std::string HeaderDifference(const KECGlpsLogHeader& a, const KECGlpsLogHeader& b) {
  std::string out;
  Compare("m_eContentType", static_cast<long long>(a.m_eContentType),
          static_cast<long long>(b.m_eContentType), &out);
  Compare("m_usContentVersion", a.m_usContentVersion, b.m_usContentVersion, &out);
  Compare("m_tmCreation", a.m_tmCreation, b.m_tmCreation, &out);
  Compare("m_strUserCreation", a.m_strUserCreation, b.m_strUserCreation, &out);
  Compare("m_tmModification", a.m_tmModification, b.m_tmModification, &out);
  Compare("m_strUserModification", a.m_strUserModification, b.m_strUserModification, &out);
  Compare("m_strSource", a.m_strSource, b.m_strSource, &out);
  Compare("m_eDescription", static_cast<long long>(a.m_eDescription),
          static_cast<long long>(b.m_eDescription), &out);
  Compare("m_strDescription", a.m_strDescription, b.m_strDescription, &out);
  Compare("m_guid", a.m_guid, b.m_guid, &out);
  return out;
}

std::string MetaDataDifference(const KECGlpsLogMetaData& a, const KECGlpsLogMetaData& b) {
  std::string out;
  Compare("m_strVersionOriginal", a.m_strVersionOriginal, b.m_strVersionOriginal, &out);
  Compare("m_guidOriginal", a.m_guidOriginal, b.m_guidOriginal, &out);
  Compare("m_strExpName", a.m_strExpName, b.m_strExpName, &out);
  return out;
}

std::string CatalogDifference(const KECGlpsLogCatalog& a, const KECGlpsLogCatalog& b) {
  std::string out;
  Compare("m_lNextIndex", a.m_lNextIndex, b.m_lNextIndex, &out);
  Compare("m_merCodingSchemeInfo", a.m_merCodingSchemeInfo, b.m_merCodingSchemeInfo, &out);
  return out;
}

std::string EntitiesDifference(const std::vector<KECGlpsFileHtmlMetaDataEntity>& a,
                               const std::vector<KECGlpsFileHtmlMetaDataEntity>& b) {
  return ListDifference(a, b, EntityDifference);
}

std::vector<std::string> Names(const std::vector<KECGlpsFileManagerData>& records) {
  std::vector<std::string> names;
  for (const KECGlpsFileManagerData& record : records) names.push_back(record.m_strFileName);
  return names;
}

}  // namespace glps_test

void PrintTo(const KECGlpsFileManagerData& record, std::ostream* out) {
  *out << "{" << static_cast<int>(record.m_eType) << ", \"" << record.m_strFileName << "\", \""
       << record.m_strHash << "\", " << record.m_nSize << ", "
       << (record.m_bHashed ? "hashed" : "not hashed") << "}";
}
