// SPDX-License-Identifier: Apache-2.0
// Everything a host program needs of the audit-trail library: the service, the records, the Glps
// enumerations and constants, what the service tells of its logs (openings, failures), the version
// of the headers and of the library, the read-only audit of log directories and their printable
// copies, the sealing of logs, and the host-library classes it exchanges with the service or sets
// up (report items, GUIDs, times, texts, file utilities, users, rights, directories).
#ifndef GLPS_GLPS_H_
#define GLPS_GLPS_H_

#include "glps/audit.h"
#include "glps/audit_copy.h"
#include "glps/export.h"
#include "glps/host/gen.h"
#include "glps/host/reports.h"
#include "glps/host/services.h"
#include "glps/log_status.h"
#include "glps/records.h"
#include "glps/seal.h"
#include "glps/services.h"
#include "glps/version.h"

#endif  // GLPS_GLPS_H_
