// SPDX-License-Identifier: Apache-2.0
// The plain records, enumerations and constants that cross the library's interface or are kept in a
// log's log.xml (among them the record of each file of a log directory). Records are value types
// with public fields and member-wise copy.
#ifndef GLPS_RECORDS_H_
#define GLPS_RECORDS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "glps/export.h"
#include "glps/host/gen.h"

namespace Glps {

// Kinds of host objects that a log document refers to. The values belong to the host; the library
// stores them and compares them for equality only.
enum ELogEntity : std::int32_t {
  eLogEntityNone = 0,
};

// Which log's message number a message prefix carries.
enum IndexType : std::int32_t {
  eIndexApp = 1,
  eIndexExp = 2,
};

// No log info: an empty hash text and size 0. Set before every other constant below.
GLPS_API extern const std::pair<std::string, std::int64_t> g_infoHashInvalid;

GLPS_API extern const std::string g_strQuote;      // "'"
GLPS_API extern const std::string g_strColon;      // ":"
GLPS_API extern const std::string g_strSpace;      // " "
GLPS_API extern const std::string g_strDot;        // "."
GLPS_API extern const std::string g_strComma;      // ","
GLPS_API extern const std::string g_strHyphen;     // "-"
GLPS_API extern const std::string g_strSeparator;  // two spaces
GLPS_API extern const std::string g_strBackslash;  // one backslash
GLPS_API extern const std::string g_strAndMore;    // " ..."
GLPS_API extern const std::string g_strDelimiter;  // ", "
GLPS_API extern const std::string g_strTab;        // five spaces, not a tab character

}  // namespace Glps

// The identity of a log's persisted state: hash text and size of its log.xml. The library hands one
// to the host after every save; the host hands it back when it opens the log again.
struct GLPS_API KECGlpsLogInfo {
  KECGlpsLogInfo();

  // False only for the no-log-info value (empty hash text and size 0).
  bool IsValid() const;

  std::string m_strLogHash;
  std::int64_t m_nLogSize;
};

// Exact comparison: hash texts byte for byte (letter case counts) and sizes.
GLPS_API bool operator==(const KECGlpsLogInfo& lhs, const KECGlpsLogInfo& rhs);
GLPS_API bool operator!=(const KECGlpsLogInfo& lhs, const KECGlpsLogInfo& rhs);

// What the host knows about an abnormal end of its previous run.
struct GLPS_API KECGlpsLogInfoCrash {
  bool m_bCrashed = false;  // while false, no crash entry is written
  std::string m_strText;    // first line, written only together with detail lines
  std::vector<std::string> m_vLines;
};

// What the host tells about the experiment whose log it opens.
struct GLPS_API KECGlpsLogInfoExperiment {
  std::string m_strExperiment;
  std::int32_t m_nAux = 0;  // the host's; copied, never read
  std::int32_t m_nVersion = 0;
  bool m_bExtra = false;
  bool m_bAux = false;  // the host's; copied, never read
};

// The persisted header of a log: exactly the host's standard file header.
struct GLPS_API KECGlpsLogHeader : public KCGenStandardFileHeader {
  KECGlpsLogHeader() = default;
  KECGlpsLogHeader(const KECGlpsLogHeader&) = default;
  KECGlpsLogHeader& operator=(const KECGlpsLogHeader&) = default;
  ~KECGlpsLogHeader() override = default;
};

// The metadata of a log; only an experiment log's is ever changed.
struct GLPS_API KECGlpsLogMetaData {
  KECGlpsLogMetaData();

  std::string m_strVersionOriginal;
  KCGenGUID m_guidOriginal;
  std::string m_strExpName;
};

// One reference from the current log document to a host object.
struct GLPS_API KECGlpsLogMetaDataEntity {
  KECGlpsLogMetaDataEntity();
  KECGlpsLogMetaDataEntity(Glps::ELogEntity type, int handle, const KCGenGUID& guid);

  Glps::ELogEntity m_eType;
  std::int32_t m_nHandle;
  KCGenGUID m_guid;
};

// Per-log counters.
struct GLPS_API KECGlpsLogCatalog {
  // The number of the last message of the log; the next message takes this value plus one.
  std::int32_t m_lNextIndex = 0;
  std::pair<bool, std::int32_t> m_merCodingSchemeInfo{true, -1};
};

namespace Glps {

// Kinds of the files of a log directory. Value 1 is not used.
enum EFileType : std::int32_t {
  FileNone = 0,       // a fresh record
  FileLog = 2,        // an HTML log document (protected)
  FileMetaData = 3,   // the metadata sidecar of a document (protected)
  FileIndexMain = 4,  // "GLP-Main.html" (not protected)
  FileIndexMenu = 5,  // "GLP-Menu.html" (not protected)
  FileLink = 6,       // a file linked into an experiment log (protected)
};

}  // namespace Glps

// One file of a log directory: its kind and, for a protected file, the fingerprint and size last
// recorded for it. A copyable value; the records of a log form one vector in registration order,
// shared between the log's file manager and the storage that persists it in log.xml.
struct KECGlpsFileManagerData {
  Glps::EFileType m_eType = Glps::FileNone;
  // The name inside the log directory, without any directory part; the record's key. It comes
  // from log.xml, which anyone can edit: a reader checks that it is a plain file name before it
  // joins it with a directory.
  std::string m_strFileName;
  // Fingerprint text of the protected content; empty for unprotected files.
  std::string m_strHash;
  std::int64_t m_nSize = 0;
  // The file takes part in verification and re-basing.
  bool m_bHashed = true;
};

#endif  // GLPS_RECORDS_H_
