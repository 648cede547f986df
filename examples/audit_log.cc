// SPDX-License-Identifier: Apache-2.0
// An auditor's program on the read-only audit API: verifies a log directory, against the info the
// host kept when one is given, and prints the verdict, every file that is not as its record says,
// and every finding of the trail's consistency. Nothing in the directory is changed.
//
// Usage: audit_log DIRECTORY [HASH:SIZE]. Exit status: the verdict (0 intact and authenticated,
// 1 not intact, 3 consistent but not authenticated, 4 cannot be read, 5 intact but the trail
// records tampering found by the library earlier), 2 for a usage error.
#include <glps/glps.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: " << argv[0] << " <directory> [HASH:SIZE]\n";
    return 2;
  }
  KECGlpsLogInfo info;
  if (argc == 3) {
    const std::string text = argv[2];
    const std::string::size_type colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size()) {
      std::cerr << "the info is HASH:SIZE, as the host kept it\n";
      return 2;
    }
    info.m_strLogHash = text.substr(0, colon);
    info.m_nLogSize = std::stoll(text.substr(colon + 1));
  }

  KECGlpsAuditRequest request;
  if (argc == 3) request.m_pInfo = &info;
  const KECGlpsAuditReport report = KECGlpsAudit::Verify(argv[1], request);
  std::cout << "log directory: " << report.m_strDirectory << '\n';
  if (!report.m_strError.empty()) {
    std::cout << "verdict: cannot be read: " << report.m_strError << '\n';
    return Glps::eAuditUnreadable;
  }

  const Glps::EAuditVerdict verdict = report.Verdict();
  switch (verdict) {
    case Glps::eAuditIntact: std::cout << "verdict: intact and authenticated\n"; break;
    case Glps::eAuditNotIntact: std::cout << "verdict: NOT INTACT\n"; break;
    case Glps::eAuditNotAuthenticated:
      std::cout << "verdict: consistent, not authenticated (no info given)\n";
      break;
    case Glps::eAuditUnreadable: std::cout << "verdict: cannot be read\n"; break;
    case Glps::eAuditTamperRecorded:
      std::cout << "verdict: intact now, but the trail records tampering\n";
      break;
  }
  std::cout << "log.xml: " << report.m_logXml.m_nLogSize << " bytes, "
            << (report.m_eInfoCheck == Glps::eAuditInfoMatches   ? "matches the info"
                : report.m_eInfoCheck == Glps::eAuditInfoDiffers ? "DIFFERS from the info"
                                                                 : "no info given")
            << '\n';
  std::cout << "protected files: " << report.ProtectedIntactCount() << " of "
            << report.ProtectedCount() << " intact\n";
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    if (file.m_eStatus == Glps::eAuditFileIntact || file.m_eStatus == Glps::eAuditFileUnprotected) {
      continue;
    }
    std::cout << "  " << KECGlpsAudit::StatusName(file.m_eStatus) << ": "
              << file.m_record.m_strFileName << " (recorded " << file.m_record.m_nSize
              << " bytes, found " << file.m_nFoundSize << ")\n";
  }
  std::cout << "findings: " << report.m_vFindings.size() << '\n';
  for (const KECGlpsAuditFinding& finding : report.m_vFindings) {
    std::cout << "  " << KECGlpsAudit::FindingKindName(finding.m_eKind) << ": "
              << finding.m_strDocument;
    if (finding.m_nOffset >= 0) std::cout << " at byte " << finding.m_nOffset;
    std::cout << ": " << finding.m_strText
              << (finding.m_bRecorded ? " (recorded in the trail)" : "") << '\n';
  }
  // The tamper and crash entries of the trail: when the library found the log changed or the host
  // crashed, between which messages.
  for (const KECGlpsAuditEvent& event : report.m_vEvents) {
    std::cout << "  " << KECGlpsAudit::EventSummary(event) << '\n';
  }
  return verdict;
}
