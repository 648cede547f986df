// SPDX-License-Identifier: Apache-2.0
// The auditor's check of a sealed log's seals (the format of seal/seal_format.h), read-only.
#ifndef GLPS_AUDIT_SEAL_CHECK_H_
#define GLPS_AUDIT_SEAL_CHECK_H_

#include <string>
#include <vector>

#include "files/platform.h"
#include "glps/audit.h"

namespace glps {
namespace audit {

// What the directory holds of sealing, without a key: the seal file and the key file found, and
// the number of seals and the number and time of the last, as the seal file says (nothing of it is
// verified). Fills `seal` afresh.
void DescribeSeals(const platform::Directory& directory, KECGlpsAuditSeal* seal);

// Checks the seals of the log in `directory` with the verification key `keyText`, against log.xml
// as read (`logXml`, `records`): every seal under its key, their numbering, every document's
// sealed prefixes in one pass over the document, every other sealed file against its last seal,
// log.xml and its records against the last seal. Fills `seal` afresh; `m_bChecked` is set.
void CheckSeals(const platform::Directory& directory, const std::string& keyText,
                const KECGlpsLogInfo& logXml, const std::vector<KECGlpsFileManagerData>& records,
                KECGlpsAuditSeal* seal);

}  // namespace audit
}  // namespace glps

#endif  // GLPS_AUDIT_SEAL_CHECK_H_
