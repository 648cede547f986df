// SPDX-License-Identifier: Apache-2.0
// The seal file of a sealed log and the chain of keys behind it: the one place that writes and
// reads the format of docs/seal.md, for the library that appends seals and for the auditor that
// checks them.
//
// A sealed log keeps, beside log.xml, the seal file "log.seal": a header line naming the log's
// seal identity, then one line per seal. Seal n is HMAC-SHA-256, under the sealing key k_n, of the
// header and the seal's text: its number, the time, the SHA-256 and size of log.xml as saved, and
// the protected files that changed since the seal before (name, kind, size, MD5 fingerprint as
// recorded, and for a linked file the SHA-256 taken when it was linked). The files of seal n are
// those of every seal line before it, in file order, with its own changes applied (FoldSeal).
// k_(n+1) is a one-way step from k_n (NextKey); k_0, the verification key, is made at random when
// sealing is set up, seals the state of the log at that moment as seal 0, and is never stored.
// Seals written since the log's binding was added also carry the hash of log.xml's header, which
// the library never changes once the log is created, and the number and order of the log's
// documents (LogBinding), so that a verifier can check them against every seal, not only the last.
#ifndef GLPS_SEAL_SEAL_FORMAT_H_
#define GLPS_SEAL_SEAL_FORMAT_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/seal_crypto.h"
#include "filemanager/record_set.h"
#include "glps/records.h"

namespace glps {
namespace seal {

// The names a sealed log keeps in its directory besides log.xml and the log's lock (reserved by the
// rules of the record set).
inline constexpr const char* kSealFileName = glps::kSealFileName;
inline constexpr const char* kKeyFileName = glps::kSealKeyFileName;

// What a seal says of one protected file.
struct SealedFile {
  Glps::EFileType kind = Glps::FileNone;
  std::string name;
  std::int64_t size = 0;
  std::string md5;     // the fingerprint text recorded in log.xml (Base64 of MD5); may be empty
  std::string sha256;  // a linked file's SHA-256 (Base64), taken when it was linked; else empty

  bool operator==(const SealedFile& other) const;
  bool operator!=(const SealedFile& other) const { return !(*this == other); }
};

// The protected files of a log as a seal commits to them, by name.
using SealState = std::map<std::string, SealedFile>;

// What a seal binds of log.xml besides its hash: the header and the documents in their order.
// Checked against the log.xml of every later time, as each of them must keep both.
struct LogBinding {
  // The header's hash (HeaderHash); empty when there was no log.xml.
  std::string header;
  // How many documents log.xml recorded, and the hash of their names in record order
  // (DocumentsHash).
  std::int64_t documents = 0;
  std::string documentsHash;

  bool operator==(const LogBinding& other) const;
  bool operator!=(const LogBinding& other) const { return !(*this == other); }
};

// One seal line.
struct SealLine {
  std::uint64_t number = 0;
  std::string time;       // "YYYY-MM-DDTHH:MM:SS.ffffffZ" (UTC)
  KECGlpsLogInfo logXml;  // SHA-256 text and size of log.xml; the default info: no log.xml
  // False for a seal in the form written before seals carried the binding ("head=", "docs=").
  bool bound = false;
  LogBinding binding;
  std::vector<SealedFile> changed;  // files new or changed since the seal before
  std::vector<std::string> gone;    // names no longer protected since the seal before
  std::string mac;                  // 64 lowercase hexadecimal digits
};

// The header line of the seal file of the log whose seal identity is `logId` (without "\n").
std::string HeaderLine(const std::string& logId);
// The log id of a header line; false when the line is not a header of a known version.
bool ParseHeaderLine(std::string_view line, std::string* logId);

// The text of a seal line without its MAC (what the MAC covers, with the header).
std::string SealText(const SealLine& seal);
// The whole line, MAC included (without "\n").
std::string SealLineText(const SealLine& seal);
// Parses a whole seal line (without "\n"); `text` (may be null) receives the part the MAC covers.
// False for anything that is not a well-formed seal line: every value in the one spelling the
// writer gives it, the time in TimeNow's form. Without `keepFiles` the files are checked but not
// kept (`seal->changed` and `gone` stay empty). The line is read field by field in place: the
// memory it takes beyond the seal returned does not grow with the line.
bool ParseSealLine(std::string_view line, SealLine* seal, std::string* text, bool keepFiles = true);

// The MAC of a seal's text under `key`, for the log `logId`: 64 hexadecimal digits; empty when
// OpenSSL fails.
std::string MacOf(const crypto::SecretKey& key, const std::string& logId, const std::string& text);
// k_(n+1) from k_n. False when OpenSSL fails.
bool NextKey(const crypto::SecretKey& key, crypto::SecretKey* next);
// The seal identity of the log whose verification key is `k0`: 32 hexadecimal digits, derived
// one-way from the key, so that a key tells the seal file it belongs to.
std::string LogIdOf(const crypto::SecretKey& k0);

// The verification key as people handle it: 64 hexadecimal digits in eight groups of eight joined
// by '-'.
std::string VerificationKeyText(const crypto::SecretKey& k0);
// Reads a verification key: 64 hexadecimal digits, either case, blanks and '-' ignored. False for
// anything else.
bool ParseVerificationKey(const std::string& text, crypto::SecretKey* k0);

// The files of `state` that a seal commits to, from the records of log.xml: every protected record
// (an index page is not protected). Linked files take their SHA-256 from `sha256` by name.
SealState StateOfRecords(const std::vector<KECGlpsFileManagerData>& records,
                         const std::map<std::string, std::string>& sha256);
// Fills `seal`'s changes from the state the seal before committed to and the state this one
// commits to.
void SetChanges(const SealState& before, const SealState& now, SealLine* seal);
// Applies a seal's changes to the state before it.
void FoldSeal(const SealLine& seal, SealState* state);

// The hash that a seal binds of log.xml's header: SHA-256 (Base64) of each field's name, '=', its
// value as log.xml holds it (numbers in decimal, times and the GUID in their text form) spelled as
// names are in a seal line, and a line end, in log.xml's order. Empty when OpenSSL fails.
std::string HeaderHash(const KECGlpsLogHeader& header);
// The names of the log's documents: the records of kind FileLog, in record order.
std::vector<std::string> DocumentNames(const std::vector<KECGlpsFileManagerData>& records);
// The hashes of the first n names of `names`, for each n of `counts` (each at most names.size()):
// SHA-256 (Base64) of each name, spelled as in a seal line, followed by a line end. Empty texts
// when OpenSSL fails.
std::map<std::int64_t, std::string> DocumentsHashes(const std::vector<std::string>& names,
                                                    const std::vector<std::int64_t>& counts);
// What a seal binds of a log.xml with this header and these records (`header` null: no log.xml).
LogBinding BindingOf(const KECGlpsLogHeader* header,
                     const std::vector<KECGlpsFileManagerData>& records);

// The present time in the seal's form.
std::string TimeNow();

}  // namespace seal
}  // namespace glps

#endif  // GLPS_SEAL_SEAL_FORMAT_H_
