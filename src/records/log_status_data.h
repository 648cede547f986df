// SPDX-License-Identifier: Apache-2.0
// The descriptions behind KECGlpsLogOpening and KECGlpsLogError (glps/log_status.h): plain records
// the session and the service fill, and the public classes share unchanged. Only the library
// includes this header, so fields can be added without changing the public classes' layout.
#ifndef GLPS_RECORDS_LOG_STATUS_DATA_H_
#define GLPS_RECORDS_LOG_STATUS_DATA_H_

#include <cstddef>
#include <string>
#include <vector>

#include "glps/log_status.h"

struct KECGlpsLogOpening::Data {
  Glps::ELogOpening state = Glps::eLogOpeningNone;
  std::string directory;
  Glps::ELogUnusable unusable = Glps::eLogUsable;
  std::string reason;
  int systemError = 0;
  bool tampered = false;
  KECGlpsLogInfo expectedInfo;
  KECGlpsLogInfo foundInfo;
  bool logXmlMatches = true;
  std::size_t protectedCount = 0;
  // The protected files that did not match, in record order.
  std::vector<KECGlpsAuditFile> files;
  std::vector<KECGlpsAuditFinding> recordFindings;
  bool unsavedTail = false;
  bool crashReported = false;
  bool tamperEntryWritten = false;
};

struct KECGlpsLogError::Data {
  std::string operation;
  Glps::ELogError code = Glps::eErrorNone;
  std::string what;
  std::string file;
  int systemError = 0;
  std::string systemReason;
};

#endif  // GLPS_RECORDS_LOG_STATUS_DATA_H_
