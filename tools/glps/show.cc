// SPDX-License-Identifier: Apache-2.0
#include "show.h"

#include "text.h"

namespace glps_tool {
namespace {

std::string ContentTypeText(std::int32_t type) {
  switch (type) {
    case 533: return "533 (application log)";
    case 534: return "534 (experiment log)";
    default: return std::to_string(type);
  }
}

// A text as written in log.xml, quoted so that an empty text and blanks are visible.
std::string Quoted(const std::string& text) { return "\"" + Printable(text) + "\""; }

}  // namespace

void PrintShowText(const std::string& directory, const KECGlpsAuditLogState& state,
                   std::ostream& out) {
  const KECGlpsLogHeader& h = state.m_header;
  out << "log directory: " << Printable(directory) << "\n\nheader\n";
  PrintTable(
      out,
      {{"content type", ContentTypeText(h.m_eContentType)},
       {"content version", std::to_string(h.m_usContentVersion)},
       {"created", h.m_tmCreation.ToString() + " by " + Quoted(h.m_strUserCreation)},
       {"modified", h.m_tmModification.ToString() + " by " + Quoted(h.m_strUserModification)},
       {"source", Quoted(h.m_strSource)},
       {"description", std::to_string(h.m_eDescription) + " " + Quoted(h.m_strDescription)},
       {"GUID", h.m_guid.ToString()}},
      {}, "  ");
  out << "\nmetadata\n";
  PrintTable(out,
             {{"original version", Quoted(state.m_metaData.m_strVersionOriginal)},
              {"original GUID", state.m_metaData.m_guidOriginal.ToString()},
              {"experiment name", Quoted(state.m_metaData.m_strExpName)}},
             {}, "  ");
  out << "\ncatalog\n";
  const auto& scheme = state.m_catalog.m_merCodingSchemeInfo;
  PrintTable(out,
             {{"last message number", std::to_string(state.m_catalog.m_lNextIndex)},
              {"coding scheme", std::string(scheme.first ? "true" : "false") + ", " +
                                    std::to_string(scheme.second)}},
             {}, "  ");
  out << "\nrecords (" << state.m_vRecords.size() << ")\n";
  if (state.m_vRecords.empty()) return;
  std::vector<std::vector<std::string>> rows = {
      {"#", "kind", "name", "size", "protected", "fingerprint"}};
  for (std::size_t i = 0; i < state.m_vRecords.size(); ++i) {
    const KECGlpsFileManagerData& r = state.m_vRecords[i];
    rows.push_back({std::to_string(i + 1), KECGlpsAudit::FileKindName(r.m_eType),
                    Printable(r.m_strFileName), std::to_string(r.m_nSize),
                    r.m_bHashed ? "yes" : "no",
                    r.m_strHash.empty() ? "-" : Printable(r.m_strHash)});
  }
  PrintTable(out, rows, {true, false, false, true, false, false}, "  ");
}

Json ShowJson(const std::string& directory, const KECGlpsAuditLogState& state) {
  const KECGlpsLogHeader& h = state.m_header;
  Json json = JsonDocument();
  AddExactText(&json, "directory", directory);
  Json header;
  header["content_type"] = static_cast<long long>(h.m_eContentType);
  header["content_version"] = h.m_usContentVersion;
  header["creation_time"] =
      h.m_tmCreation.IsNull() ? Json(nullptr) : Json(h.m_tmCreation.ToString());
  header["creation_user"] = h.m_strUserCreation;
  header["modification_time"] =
      h.m_tmModification.IsNull() ? Json(nullptr) : Json(h.m_tmModification.ToString());
  header["modification_user"] = h.m_strUserModification;
  header["source"] = h.m_strSource;
  header["description_kind"] = static_cast<long long>(h.m_eDescription);
  header["description"] = h.m_strDescription;
  header["guid"] = h.m_guid.ToString();
  json["header"] = header;
  json["metadata"] = {{"version_original", state.m_metaData.m_strVersionOriginal},
                      {"guid_original", state.m_metaData.m_guidOriginal.ToString()},
                      {"experiment_name", state.m_metaData.m_strExpName}};
  json["catalog"] = {{"last_message_number", state.m_catalog.m_lNextIndex},
                     {"coding_scheme",
                      {state.m_catalog.m_merCodingSchemeInfo.first,
                       state.m_catalog.m_merCodingSchemeInfo.second}}};
  Json records = Json::array();
  for (std::size_t i = 0; i < state.m_vRecords.size(); ++i) {
    const KECGlpsFileManagerData& r = state.m_vRecords[i];
    Json record;
    record["number"] = i + 1;
    record["kind"] = KECGlpsAudit::FileKindName(r.m_eType);
    record["kind_value"] = static_cast<long long>(r.m_eType);
    AddExactText(&record, "name", r.m_strFileName);
    record["size"] = r.m_nSize;
    record["protected"] = r.m_bHashed;
    record["hash"] = r.m_strHash.empty() ? Json(nullptr) : Json(r.m_strHash);
    records.push_back(record);
  }
  json["records"] = records;
  return json;
}

int RunShow(const std::string& directory, bool json, bool quiet, std::ostream& out,
            std::ostream& err) {
  KECGlpsAuditLogState state;
  std::string error;
  if (!KECGlpsAudit::ReadLogState(directory, &state, &error)) {
    if (!quiet) err << "glps show: " << Printable(error) << '\n';
    return 4;
  }
  if (quiet) return 0;
  if (json) {
    WriteJson(ShowJson(directory, state), true, out);
  } else {
    PrintShowText(directory, state, out);
  }
  return 0;
}

}  // namespace glps_tool
