// SPDX-License-Identifier: Apache-2.0
#include "filemanager/record_set.h"

#include <cstddef>
#include <unordered_map>
#include <unordered_set>

namespace glps {

namespace {

// The longest name a file can have.
constexpr std::size_t kMaxNameLength = 255;

bool IsProtectedKind(Glps::EFileType kind) {
  return kind == Glps::FileLog || kind == Glps::FileMetaData || kind == Glps::FileLink;
}

bool IsKnownKind(Glps::EFileType kind) {
  return IsProtectedKind(kind) || kind == Glps::FileIndexMain || kind == Glps::FileIndexMenu;
}

// Characters that would change the meaning of an index page that names the document, or that no
// name the library gives a document has.
bool HasMarkupOrControl(const std::string& name) {
  for (const unsigned char c : name) {
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\'' || c == '<' || c == '>' || c == '&') {
      return true;
    }
  }
  return false;
}

}  // namespace

const char* RecordFaultName(RecordFault fault) {
  switch (fault) {
    case RecordFault::kNone: return "none";
    case RecordFault::kUnknownKind: return "unknown-kind";
    case RecordFault::kBadName: return "bad-name";
    case RecordFault::kReservedName: return "reserved-name";
    case RecordFault::kDuplicateName: return "duplicate-name";
    case RecordFault::kWrongProtection: return "wrong-protection";
    case RecordFault::kBadDocumentName: return "bad-document-name";
    case RecordFault::kMisnamedIndexPage: return "misnamed-index-page";
    case RecordFault::kOrphanSidecar: return "orphan-sidecar";
    case RecordFault::kLinkUnderOwnName: return "link-under-own-name";
  }
  return "unknown";
}

std::string FileKindName(Glps::EFileType kind, const char* unknownPrefix) {
  switch (kind) {
    case Glps::FileNone: return "none";
    case Glps::FileLog: return "log";
    case Glps::FileMetaData: return "metadata";
    case Glps::FileIndexMain: return "index-main";
    case Glps::FileIndexMenu: return "index-menu";
    case Glps::FileLink: return "link";
  }
  return unknownPrefix + std::to_string(static_cast<long long>(kind));
}

bool IsReservedName(const std::string& name) {
  if (name == kLogXmlName || name == kLockFileName || name == kSealFileName ||
      name == kSealKeyFileName) {
    return true;
  }
  // ".<name>.tmp-XXXXXX": the temporary file of a replacement under way, or left by one that was
  // interrupted (and removed when the log is next opened).
  return name.size() > 1 && name[0] == '.' && name.find(".tmp-", 1) != std::string::npos;
}

RecordFault CheckRecordAlone(const KECGlpsFileManagerData& record) {
  const Glps::EFileType kind = record.m_eType;
  const std::string& name = record.m_strFileName;
  if (!IsKnownKind(kind)) return RecordFault::kUnknownKind;
  if (!IsPlainFileName(name) || name.size() > kMaxNameLength) return RecordFault::kBadName;
  if (IsReservedName(name)) return RecordFault::kReservedName;
  if ((name == kMainPageName && kind != Glps::FileIndexMain) ||
      (name == kMenuPageName && kind != Glps::FileIndexMenu)) {
    return RecordFault::kReservedName;
  }
  if (record.m_bHashed != IsProtectedKind(kind)) return RecordFault::kWrongProtection;
  switch (kind) {
    case Glps::FileIndexMain:
      return name == kMainPageName ? RecordFault::kNone : RecordFault::kMisnamedIndexPage;
    case Glps::FileIndexMenu:
      return name == kMenuPageName ? RecordFault::kNone : RecordFault::kMisnamedIndexPage;
    case Glps::FileLog:
      if (DocumentNameOf(name) != name || HasMarkupOrControl(name) ||
          IsReservedName(SidecarNameOf(name))) {
        return RecordFault::kBadDocumentName;
      }
      return RecordFault::kNone;
    case Glps::FileMetaData:
      // Only a name that some document's sidecar has.
      return SidecarNameOf(DocumentNameOf(name)) == name ? RecordFault::kNone
                                                         : RecordFault::kOrphanSidecar;
    default: return RecordFault::kNone;
  }
}

std::vector<RecordFault> CheckRecordSet(const std::vector<KECGlpsFileManagerData>& records) {
  std::vector<RecordFault> faults;
  faults.reserve(records.size());
  std::unordered_map<std::string, std::size_t> uses;
  for (const KECGlpsFileManagerData& record : records) {
    faults.push_back(CheckRecordAlone(record));
    ++uses[record.m_strFileName];
  }
  std::unordered_set<std::string> documents;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (faults[i] != RecordFault::kNone) continue;
    if (uses[records[i].m_strFileName] > 1) {
      faults[i] = RecordFault::kDuplicateName;
    } else if (records[i].m_eType == Glps::FileLog) {
      documents.insert(records[i].m_strFileName);
    }
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (faults[i] != RecordFault::kNone) continue;
    const std::string& name = records[i].m_strFileName;
    const bool documentsSidecarName =
        SidecarNameOf(DocumentNameOf(name)) == name && documents.count(DocumentNameOf(name)) > 0;
    if (records[i].m_eType == Glps::FileMetaData && !documentsSidecarName) {
      faults[i] = RecordFault::kOrphanSidecar;
    } else if (records[i].m_eType == Glps::FileLink && documentsSidecarName) {
      faults[i] = RecordFault::kLinkUnderOwnName;
    }
  }
  return faults;
}

RecordFault CheckChange(const KECGlpsFileManagerData& record, const RecordLookup& lookup) {
  const RecordFault alone = CheckRecordAlone(record);
  if (alone != RecordFault::kNone) return alone;
  const std::string& name = record.m_strFileName;
  bool sound = false;
  const KECGlpsFileManagerData* existing = lookup(name, &sound);
  if (existing != nullptr) {
    // A sound record is the only one of its name; it may be replaced by one of its own kind, which
    // changes nothing that other records depend on.
    return sound && existing->m_eType == record.m_eType ? RecordFault::kNone
                                                        : RecordFault::kDuplicateName;
  }
  const std::string document = DocumentNameOf(name);
  const KECGlpsFileManagerData* found = nullptr;
  switch (record.m_eType) {
    case Glps::FileLog:
      // A record under the new document's sidecar name would change its standing.
      return lookup(SidecarNameOf(name), &sound) == nullptr ? RecordFault::kNone
                                                            : RecordFault::kDuplicateName;
    case Glps::FileMetaData:
      found = lookup(document, &sound);
      return found != nullptr && sound && found->m_eType == Glps::FileLog
                 ? RecordFault::kNone
                 : RecordFault::kOrphanSidecar;
    case Glps::FileLink:
      if (SidecarNameOf(document) != name) return RecordFault::kNone;
      found = lookup(document, &sound);
      return found != nullptr && sound && found->m_eType == Glps::FileLog
                 ? RecordFault::kLinkUnderOwnName
                 : RecordFault::kNone;
    default: return RecordFault::kNone;
  }
}

bool IsSoundSet(const std::vector<RecordFault>& faults) {
  for (const RecordFault fault : faults) {
    if (fault != RecordFault::kNone) return false;
  }
  return true;
}

}  // namespace glps
