// SPDX-License-Identifier: Apache-2.0
#include "glps/log_status.h"

#include <utility>

#include "records/log_status_data.h"

namespace {

// The one description of no opening and of no failure, shared by every default value.
const std::shared_ptr<const KECGlpsLogOpening::Data>& NoOpening() {
  static const auto none = std::make_shared<const KECGlpsLogOpening::Data>();
  return none;
}

const std::shared_ptr<const KECGlpsLogError::Data>& NoFailure() {
  static const auto none = std::make_shared<const KECGlpsLogError::Data>();
  return none;
}

// "1 file modified: A" or "2 files modified: A, B", for the files of one status.
std::string DescribeFiles(const std::vector<KECGlpsAuditFile>& files,
                          const KECGlpsAuditDifference& difference) {
  std::size_t count = 0;
  std::string names;
  for (const KECGlpsAuditFile& file : files) {
    if (file.m_eStatus != difference.m_eStatus) continue;
    names += (count++ == 0 ? "" : ", ") + file.m_record.m_strFileName;
  }
  if (count == 0) return std::string();
  return std::to_string(count) + (count == 1 ? " file " : " files ") + difference.m_pszWords +
         ": " + names;
}

}  // namespace

KECGlpsLogOpening::KECGlpsLogOpening() : m_pData(NoOpening()) {}

KECGlpsLogOpening::KECGlpsLogOpening(std::shared_ptr<const Data> data)
    : m_pData(data ? std::move(data) : NoOpening()) {}

KECGlpsLogOpening::KECGlpsLogOpening(const KECGlpsLogOpening& other) = default;
KECGlpsLogOpening& KECGlpsLogOpening::operator=(const KECGlpsLogOpening& other) = default;
KECGlpsLogOpening::~KECGlpsLogOpening() = default;

Glps::ELogOpening KECGlpsLogOpening::State() const { return m_pData->state; }
const std::string& KECGlpsLogOpening::Directory() const { return m_pData->directory; }
bool KECGlpsLogOpening::IsUsable() const {
  return m_pData->state != Glps::eLogOpeningNone && m_pData->unusable == Glps::eLogUsable;
}
Glps::ELogUnusable KECGlpsLogOpening::Unusable() const { return m_pData->unusable; }
const std::string& KECGlpsLogOpening::Reason() const { return m_pData->reason; }
int KECGlpsLogOpening::SystemError() const { return m_pData->systemError; }
bool KECGlpsLogOpening::IsTampered() const { return m_pData->tampered; }
const KECGlpsLogInfo& KECGlpsLogOpening::ExpectedInfo() const { return m_pData->expectedInfo; }
const KECGlpsLogInfo& KECGlpsLogOpening::FoundInfo() const { return m_pData->foundInfo; }
bool KECGlpsLogOpening::LogXmlMatches() const { return m_pData->logXmlMatches; }
std::size_t KECGlpsLogOpening::ProtectedCount() const { return m_pData->protectedCount; }
const std::vector<KECGlpsAuditFile>& KECGlpsLogOpening::Files() const { return m_pData->files; }
const std::vector<KECGlpsAuditFinding>& KECGlpsLogOpening::RecordFindings() const {
  return m_pData->recordFindings;
}
bool KECGlpsLogOpening::HadUnsavedTail() const { return m_pData->unsavedTail; }
bool KECGlpsLogOpening::CrashReported() const { return m_pData->crashReported; }
bool KECGlpsLogOpening::TamperEntryWritten() const { return m_pData->tamperEntryWritten; }

std::string KECGlpsLogOpening::Summary() const {
  const Data& data = *m_pData;
  switch (data.state) {
    case Glps::eLogOpeningNone: return "not opened";
    case Glps::eLogOpeningNew: return "new log";
    case Glps::eLogOpeningIntact:
      return "intact: " + std::to_string(data.protectedCount) +
             (data.protectedCount == 1 ? " protected file" : " protected files") + " as recorded";
    case Glps::eLogOpeningUnusable: return "NOT USABLE: " + data.reason;
    case Glps::eLogOpeningTampered: break;
  }
  std::string text;
  const auto add = [&text](const std::string& part) {
    if (!part.empty()) text += (text.empty() ? "" : "; ") + part;
  };
  if (!data.logXmlMatches) {
    add(data.expectedInfo.IsValid() ? "log.xml is not the one the info names"
                                    : "no info was given for an existing log");
  }
  for (const KECGlpsAuditDifference& difference : KECGlpsAudit::Differences()) {
    add(DescribeFiles(data.files, difference));
  }
  const std::size_t breaking = data.recordFindings.size();
  if (breaking > 0) {
    add(std::to_string(breaking) + (breaking == 1 ? " record breaks" : " records break") +
        " the rules of a record set");
  }
  return "TAMPERED: " + text;
}

KECGlpsLogError::KECGlpsLogError() : m_pData(NoFailure()) {}

KECGlpsLogError::KECGlpsLogError(std::shared_ptr<const Data> data)
    : m_pData(data ? std::move(data) : NoFailure()) {}

KECGlpsLogError::KECGlpsLogError(const KECGlpsLogError& other) = default;
KECGlpsLogError& KECGlpsLogError::operator=(const KECGlpsLogError& other) = default;
KECGlpsLogError::~KECGlpsLogError() = default;

bool KECGlpsLogError::IsFailure() const { return !m_pData->operation.empty(); }
const std::string& KECGlpsLogError::Operation() const { return m_pData->operation; }
Glps::ELogError KECGlpsLogError::Code() const { return m_pData->code; }
const std::string& KECGlpsLogError::What() const { return m_pData->what; }
const std::string& KECGlpsLogError::File() const { return m_pData->file; }
int KECGlpsLogError::SystemError() const { return m_pData->systemError; }
const std::string& KECGlpsLogError::SystemReason() const { return m_pData->systemReason; }

std::string KECGlpsLogError::Text() const {
  const Data& data = *m_pData;
  if (data.operation.empty()) return std::string();
  std::string text = data.operation + ": " + data.what;
  if (!data.file.empty()) text += " (" + data.file + ")";
  if (!data.systemReason.empty()) text += ": " + data.systemReason;
  return text;
}
