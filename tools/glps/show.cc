// SPDX-License-Identifier: Apache-2.0
#include "show.h"

#include "options.h"
#include "text.h"

namespace glps_tool {
namespace {

const char kShowUsage[] = "usage: glps show DIR [--json]\n";

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

void PrintShowText(const std::string& directory, const LogState& state, std::ostream& out) {
  const KECGlpsLogHeader& h = state.header;
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
             {{"original version", Quoted(state.metaData.m_strVersionOriginal)},
              {"original GUID", state.metaData.m_guidOriginal.ToString()},
              {"experiment name", Quoted(state.metaData.m_strExpName)}},
             {}, "  ");
  out << "\ncatalog\n";
  PrintTable(
      out,
      {{"last message number", std::to_string(state.catalog.m_lNextIndex)},
       {"coding scheme", std::string(state.catalog.m_merCodingSchemeInfo.first ? "true" : "false") +
                             ", " + std::to_string(state.catalog.m_merCodingSchemeInfo.second)}},
      {}, "  ");
  out << "\nrecords (" << state.records.size() << ")\n";
  if (state.records.empty()) return;
  std::vector<std::vector<std::string>> rows = {
      {"#", "kind", "name", "size", "protected", "fingerprint"}};
  for (std::size_t i = 0; i < state.records.size(); ++i) {
    const KECGlpsFileManagerData& r = state.records[i];
    rows.push_back({std::to_string(i + 1), KindName(r.m_eType), Printable(r.m_strFileName),
                    std::to_string(r.m_nSize), r.m_bHashed ? "yes" : "no",
                    r.m_strHash.empty() ? "-" : Printable(r.m_strHash)});
  }
  PrintTable(out, rows, {true, false, false, true, false, false}, "  ");
}

void PrintShowJson(const std::string& directory, const LogState& state, std::ostream& out) {
  const KECGlpsLogHeader& h = state.header;
  out << "{\n  \"directory\": " << JsonString(directory) << ",\n"
      << "  \"header\": {\"content_type\": " << static_cast<long long>(h.m_eContentType)
      << ", \"content_version\": " << h.m_usContentVersion
      << ", \"creation_time\": " << JsonString(h.m_tmCreation.ToString())
      << ", \"creation_user\": " << JsonString(h.m_strUserCreation)
      << ", \"modification_time\": " << JsonString(h.m_tmModification.ToString())
      << ", \"modification_user\": " << JsonString(h.m_strUserModification)
      << ", \"source\": " << JsonString(h.m_strSource)
      << ", \"description_kind\": " << static_cast<long long>(h.m_eDescription)
      << ", \"description\": " << JsonString(h.m_strDescription)
      << ", \"guid\": " << JsonString(h.m_guid.ToString()) << "},\n"
      << "  \"metadata\": {\"version_original\": "
      << JsonString(state.metaData.m_strVersionOriginal)
      << ", \"guid_original\": " << JsonString(state.metaData.m_guidOriginal.ToString())
      << ", \"experiment_name\": " << JsonString(state.metaData.m_strExpName) << "},\n"
      << "  \"catalog\": {\"last_message_number\": " << state.catalog.m_lNextIndex
      << ", \"coding_scheme\": [" << (state.catalog.m_merCodingSchemeInfo.first ? "true" : "false")
      << ", " << state.catalog.m_merCodingSchemeInfo.second << "]},\n  \"records\": [";
  for (std::size_t i = 0; i < state.records.size(); ++i) {
    const KECGlpsFileManagerData& r = state.records[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"number\": " << (i + 1)
        << ", \"kind\": " << JsonString(KindName(r.m_eType))
        << ", \"kind_value\": " << static_cast<long long>(r.m_eType)
        << ", \"name\": " << JsonString(r.m_strFileName) << ", \"size\": " << r.m_nSize
        << ", \"protected\": " << (r.m_bHashed ? "true" : "false")
        << ", \"hash\": " << JsonString(r.m_strHash) << "}";
  }
  out << (state.records.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

void PrintShowHelp(std::ostream& out) {
  out << kShowUsage
      << "\n"
         "Prints the header, metadata, catalog and file records of the log in DIR as the log's\n"
         "log.xml holds them, read with the library's own code. Nothing is changed.\n"
         "\n"
         "  --json      write JSON instead of text\n"
         "  -h, --help  show this help\n"
         "\n"
         "Exit status: 0 shown; 2 usage error, or DIR or its log.xml cannot be read.\n";
}

int RunShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--json", false}}, &parsed, &error)) {
    err << "glps show: " << error << '\n' << kShowUsage;
    return 2;
  }
  if (parsed.help) {
    PrintShowHelp(out);
    return 0;
  }
  if (parsed.positional.size() != 1) {
    err << "glps show: "
        << (parsed.positional.empty() ? "no log directory given"
                                      : "more than one log directory given")
        << '\n'
        << kShowUsage;
    return 2;
  }
  LogState state;
  if (!ReadLogState(parsed.positional[0], &state, &error)) {
    err << "glps show: " << Printable(error) << '\n';
    return 2;
  }
  if (parsed.Has("--json")) {
    PrintShowJson(parsed.positional[0], state, out);
  } else {
    PrintShowText(parsed.positional[0], state, out);
  }
  return 0;
}

}  // namespace glps_tool
