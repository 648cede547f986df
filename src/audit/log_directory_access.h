// SPDX-License-Identifier: Apache-2.0
// What the library holds of a KECGlpsAuditLogDirectory: the directory opened, as the platform unit
// has it.
#ifndef GLPS_AUDIT_LOG_DIRECTORY_ACCESS_H_
#define GLPS_AUDIT_LOG_DIRECTORY_ACCESS_H_

#include "glps/audit_walk.h"
#include "platform/platform.h"

struct KECGlpsAuditLogDirectory::Opened {
  glps::platform::DirectoryPtr directory;  // open; shown by its path
};

struct KECGlpsAuditLogDirectoryAccess {
  // The log directory for `directory`; not open when it is not.
  static KECGlpsAuditLogDirectory Make(glps::platform::DirectoryPtr directory);
  // Its open directory; null when it is not open.
  static glps::platform::DirectoryPtr Directory(const KECGlpsAuditLogDirectory& directory);
};

#endif  // GLPS_AUDIT_LOG_DIRECTORY_ACCESS_H_
