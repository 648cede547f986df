// SPDX-License-Identifier: Apache-2.0
// The auditor's check of a sealed log's seals (the format of seal/seal_format.h), read-only.
#ifndef GLPS_AUDIT_SEAL_CHECK_H_
#define GLPS_AUDIT_SEAL_CHECK_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "glps/audit.h"
#include "platform/platform.h"

namespace glps {
namespace audit {

// What the directory holds of sealing, without a key: the seal file and the key file found, and
// the number of seals and the number and time of the last, as the seal file says (nothing of it is
// verified). Fills `seal` afresh.
void DescribeSeals(const platform::Directory& directory, KECGlpsAuditSeal* seal);

// The check of a sealed log's seals with its verification key, made alongside the verification's
// one read of each document. Made for one log by the verification that owns it: construction reads
// the seal file once and checks every seal under its key and their numbering, log.xml (`logXml`,
// as read) and its records (of `state`) against the last seal, and the log.xml read against what
// every seal bound of it (every sealed file keeps its one record and its kind, the sealed
// documents stay log.xml's first documents in their order, no document is sealed shorter than
// before, and one sealed before the one the library wrote on keeps its size, the header stays as
// sealed); the verification then reads each document's entries with no entry read on over a
// length sealed of it (SealedSizes), hands over its bytes as it read them (DocumentRead), and
// Finish checks every document's sealed prefixes, every other sealed file and how far the seals
// are intact. `directory`, `state` and `seal` must outlive it; `seal` is filled
// afresh, with `m_bChecked` set.
//
// Its work and memory are bounded by what the log can justify: keys are derived only for seals
// numbered below the well-formed seal lines plus a few lost seals, the files followed are at most
// log.xml's protected records plus a few lost records (a seal that lists more stops the check
// there), the seal file's lines are read in place, and a few findings of each kind are listed,
// the rest counted.
class SealCheck {
 public:
  SealCheck(const platform::Directory& directory, const std::string& keyText,
            const KECGlpsLogInfo& logXml, const KECGlpsAuditLogState& state,
            KECGlpsAuditSeal* seal);
  ~SealCheck();
  SealCheck(const SealCheck&) = delete;
  SealCheck& operator=(const SealCheck&) = delete;

  // The lengths at which verified seals sealed the document `name` (ascending, distinct), where
  // saves left it: null when none did. Valid while the check lives.
  const std::vector<std::int64_t>* SealedSizes(const std::string& name) const;

  // The document `name` as the verification read it, whole (`bytes`): the prefixes that seals
  // sealed of it are fingerprinted from these bytes, and Finish does not read it again. A document
  // that is never handed over (too large to be read whole, unreadable, recorded otherwise) is read
  // by Finish, once.
  void DocumentRead(const std::string& name, const std::string& bytes);

  // Checks the documents' sealed prefixes and the other sealed files, and works out how far the
  // seals are intact. Once, after every DocumentRead.
  void Finish();

  // How many sealing keys the check derived from the verification key.
  std::uint64_t KeyDerivations() const;

 private:
  struct Walk;
  // Null when the check ended at construction (no key, no seal file, another log's seals).
  std::unique_ptr<Walk> m_pWalk;
};

}  // namespace audit
}  // namespace glps

#endif  // GLPS_AUDIT_SEAL_CHECK_H_
