// SPDX-License-Identifier: Apache-2.0
// The rules that a log's record set keeps: the one place that decides which records of a log.xml
// the library may act on. log.xml is anyone's to edit; a record that breaks these rules is never
// the reason to open, create, cut, extend, write, copy or delete a file, nor to name one in an
// index page.
#ifndef GLPS_FILEMANAGER_RECORD_SET_H_
#define GLPS_FILEMANAGER_RECORD_SET_H_

#include <functional>
#include <string>
#include <vector>

#include "filemanager/file_manager_data.h"
#include "files/document_names.h"

namespace glps {

// The names the library keeps in a log directory besides the files its records name. None of them
// is ever the name of a record, except that each index page has its one record of its own kind.
inline constexpr char kLogXmlName[] = "log.xml";
inline constexpr char kLockFileName[] = "log.lock";
// A sealed log's seal file and current sealing key (seal/seal_format.h).
inline constexpr char kSealFileName[] = "log.seal";
inline constexpr char kSealKeyFileName[] = "log.seal-key";
inline constexpr char kMainPageName[] = "GLP-Main.html";
inline constexpr char kMenuPageName[] = "GLP-Menu.html";

// Why a record breaks the rules of its set.
enum class RecordFault {
  kNone,               // a sound record
  kUnknownKind,        // a kind the library never records (0, 1, 7, ...)
  kBadName,            // not a plain file name, or longer than a file name can be
  kReservedName,       // log.xml, log.lock, log.seal, log.seal-key, an index page's name under
                       // another kind, a temporary file of a save
  kDuplicateName,      // another record has the same name (every record of that name breaks it)
  kWrongProtection,    // protected where the library does not protect the kind, or the reverse
  kBadDocumentName,    // a document not named as documents are: extension "html", no markup or
                       // control characters, and a sidecar name that is not reserved
  kMisnamedIndexPage,  // an index page's kind under another name
  kOrphanSidecar,      // a sidecar whose document has no sound record
  kLinkUnderOwnName,   // a linked file under the sidecar name of a document
};

// "none", "unknown-kind", "bad-name", "reserved-name", "duplicate-name", "wrong-protection",
// "bad-document-name", "misnamed-index-page", "orphan-sidecar", "link-under-own-name".
const char* RecordFaultName(RecordFault fault);

// The name of a record's kind in the library's texts: "log", "metadata", "index-main",
// "index-menu", "link", "none"; a kind the library does not know is `unknownPrefix` followed by its
// number (the audit writes "kind-99", a seal file "kind99": each spelling is fixed by what was
// written with it).
std::string FileKindName(Glps::EFileType kind, const char* unknownPrefix);

// A name the library keeps for files of its own (see above), or one of the form ".<name>.tmp-..."
// that its atomic replacements use while they write.
bool IsReservedName(const std::string& name);

// The faults a record has on its own, whatever the rest of its set: its kind, its name, its
// protection.
RecordFault CheckRecordAlone(const KECGlpsFileManagerData& record);

// The fault of every record of a set read from log.xml, in record order: first each record alone;
// then names (every record of a name that occurs twice breaks the rules); then sidecars, which
// need their document's sound record, and linked files, which never take a sound document's
// sidecar name. The library's own changes keep a set sound (KECGlpsFileManager admits no other).
std::vector<RecordFault> CheckRecordSet(const std::vector<KECGlpsFileManagerData>& records);

// True when no record of the faults breaks the rules.
bool IsSoundSet(const std::vector<RecordFault>& faults);

// Looks a name up in a record set: the first record with that name, or null; `sound` (never null)
// receives whether that record keeps the rules.
using RecordLookup =
    std::function<const KECGlpsFileManagerData*(const std::string& name, bool* sound)>;

// The fault that registering `record` would bring into the set that `lookup` describes, judged
// without looking at every record: kNone when the record keeps the rules and every other record
// keeps its standing. A record may replace the sound record of its name and kind; a new one may not
// take any record's name, nor may a new document's sidecar name be taken; a new sidecar needs its
// document's sound record; a new linked file may not take a sound document's sidecar name. Every
// set that CheckRecordSet found sound stays so, and every record that it found breaking the rules
// keeps its fault.
RecordFault CheckChange(const KECGlpsFileManagerData& record, const RecordLookup& lookup);

}  // namespace glps

#endif  // GLPS_FILEMANAGER_RECORD_SET_H_
