// SPDX-License-Identifier: Apache-2.0
// Sealed logs end to end: set up through the public API, written through the service, checked
// through the audit API with the verification key; every forgery an auditor must catch, the
// sealing key's file, and a log without sealing left exactly as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "audit/seal_check.h"
#include "filemanager/record_set.h"
#include "glps/glps.h"
#include "platform/platform_syscalls.h"
#include "seal/seal_format.h"
#include "session/session_data_storage.h"
#include "support/host_fixture.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/seal_forger.h"
#include "support/stored_records.h"
#include "support/syscalls.h"

namespace {

namespace fs = std::filesystem;
using glps_test::Experiment;
using glps_test::Fingerprint;
using glps_test::ListDirectory;
using glps_test::ReadFileBytes;
using glps_test::TempDir;
using glps_test::WriteFileBytes;
using ::testing::Contains;
using ::testing::Not;

// Two messages of 128 bytes with one MD5 and two SHA-256 digests (Wang and Yu's collision).
std::string CollisionHalf(bool second) {
  std::string hex =
      "d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f8955ad340609f4b30283e48883"
      "2571415a085125e8f7cdc99fd91dbdf280373c5bd8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd"
      "02396306d248cda0e99f33420f577ee8ce54b67080a80d1ec69821bcb6a8839396f9652b6ff72a70";
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  if (second) {
    for (int at : {19, 45, 59, 83, 109, 123}) bytes[at] = static_cast<char>(bytes[at] ^ 0x80);
  }
  return bytes;
}

std::vector<Glps::EAuditSealFindingKind> Kinds(const KECGlpsAuditSeal& seal, bool failing) {
  std::vector<Glps::EAuditSealFindingKind> kinds;
  for (const KECGlpsAuditSealFinding& finding : seal.m_vFindings) {
    if (finding.m_bFails == failing) kinds.push_back(finding.m_eKind);
  }
  return kinds;
}

std::string Describe(const KECGlpsAuditSeal& seal) {
  std::string text;
  for (const KECGlpsAuditSealFinding& finding : seal.m_vFindings) {
    text += std::string(KECGlpsAudit::SealFindingKindName(finding.m_eKind)) + " (seal " +
            std::to_string(finding.m_nSeal) + ", " + finding.m_strFile + "): " + finding.m_strText +
            "\n";
  }
  return text;
}

// The seal lines of a seal file, header first.
std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = ReadFileBytes(path);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The host fixture; the logs are directories of the test's own (root_).
class SealedLog : public glps_test::HostTest {
 protected:
  // A fresh directory under the test's own, sealed unless `sealed` is false.
  std::string NewLog(const std::string& name, bool sealed = true) {
    const std::string dir = root_ / name;
    EXPECT_EQ(mkdir(dir.c_str(), 0755), 0);
    if (sealed) {
      std::string error;
      EXPECT_TRUE(KECGlpsSeal::Init(dir, &keys_[dir], &error)) << error;
    }
    return dir;
  }

  // One run of a host: opens the log with the info it kept, logs `messages` messages in each of
  // `saves` saves (linking the files of `links`, created with their contents, at the first), and
  // exits. Returns whether every call succeeded.
  bool Run(const std::string& dir, int saves, int messages,
           const std::vector<std::pair<std::string, std::string>>& links = {}) {
    KECGlpsServices* service = KECGlpsServices::Instance();
    KECGlpsLogInfo& info = infos_[dir];
    unsigned error = 0;
    bool ok = service->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), Experiment("Seal"),
                                  &error, nullptr);
    for (const auto& [name, content] : links) {
      WriteFileBytes(dir + "/" + name, content);
      ok = service->LogExpLink(name) && ok;
    }
    for (int save = 0; save < saves; ++save) {
      for (int i = 0; i < messages; ++i) {
        ok = service->LogExpMsg("weighed sample " + std::to_string(save) + "." + std::to_string(i) +
                                ": 1.00" + std::to_string(i) + " g") &&
             ok;
      }
      ok = service->LogExpSave("", &info) && ok;
    }
    ok = service->LogExpExit(&info) && ok;
    KECGlpsServices::Destroy();
    return ok;
  }

  KECGlpsAuditReport Verify(const std::string& dir, const std::string& key,
                            const KECGlpsLogInfo* info = nullptr) {
    KECGlpsAuditRequest request;
    request.m_pInfo = info;
    request.m_strSealKey = key;
    return KECGlpsAudit::Verify(dir, request);
  }

  // A copy of a log directory, to forge.
  std::string Copy(const std::string& dir, const std::string& name) {
    const std::string copy = root_ / name;
    fs::copy(dir, copy, fs::copy_options::recursive);
    return copy;
  }

  // One run of a host that fills its document past the size at which the next opening starts a
  // new one, in three saves.
  bool RunFilling(const std::string& dir) {
    KECGlpsServices* service = KECGlpsServices::Instance();
    KECGlpsLogInfo& info = infos_[dir];
    bool ok = service->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), Experiment("Seal"),
                                  nullptr, nullptr);
    const std::string filler(4000, 'x');
    for (int i = 0; i < 270; ++i) {
      ok = service->LogExpMsg("weighed sample F." + std::to_string(i) + ": 2.00" +
                              std::to_string(i % 10) + " g " + filler) &&
           ok;
      if (i % 100 == 99) ok = service->LogExpSave("", &info) && ok;
    }
    ok = service->LogExpExit(&info) && ok;
    KECGlpsServices::Destroy();
    return ok;
  }

  // Writes `lines` as the seal file of `dir` and checks the seals through the seal check alone,
  // into `seal`; the number of key derivations the check took.
  std::uint64_t CheckSealLines(const std::string& dir, const std::vector<std::string>& lines,
                               KECGlpsAuditSeal* seal) {
    WriteFileBytes(dir + "/" + KECGlpsSeal::SealFileName(), Joined(lines));
    KECGlpsAuditLogState state;
    std::string error;
    EXPECT_TRUE(KECGlpsAudit::ReadLogState(dir, &state, &error)) << error;
    const glps::platform::DirectoryPtr opened = glps::platform::OpenDirectory(dir, true);
    glps::audit::SealCheck check(*opened, keys_[dir], glps_test::InfoOf(dir + "/log.xml"), state,
                                 seal);
    check.Finish();
    return check.KeyDerivations();
  }

  const TempDir& root_ = tmp_;
  std::map<std::string, std::string> keys_;
  std::map<std::string, KECGlpsLogInfo> infos_;
};

TEST_F(SealedLog, VerifiesThroughItsLastSaveWithoutTheInfo) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(KECGlpsSeal::IsVerificationKey(keys_[dir]));
  ASSERT_TRUE(Run(dir, 3, 4, {{"balance.csv", "mass;1.0032\n"}}));
  ASSERT_TRUE(Run(dir, 2, 3));
  const std::vector<std::string> lines = Lines(dir + "/" + KECGlpsSeal::SealFileName());
  ASSERT_EQ(lines.size(), 1u + 8u);  // header, seal 0, seals of five saves and two exits

  const KECGlpsAuditReport report = Verify(dir, keys_[dir]);
  EXPECT_EQ(report.Verdict(), Glps::eAuditIntact) << Describe(report.m_seal);
  EXPECT_TRUE(report.IsAuthenticated());
  EXPECT_TRUE(report.m_seal.m_bLogXmlCovered);
  EXPECT_EQ(report.m_seal.m_nSeals, 8);
  EXPECT_EQ(report.m_seal.m_nLastSeal, 7);
  EXPECT_EQ(report.m_seal.m_nIntactThrough, 7);
  EXPECT_EQ(report.m_seal.m_strIntactThroughTime, report.m_seal.m_strLastTime);
  // The live log's directory holds the current key: said, but no failure.
  EXPECT_THAT(Kinds(report.m_seal, false), Contains(Glps::eAuditSealKeyPresent));
  // Neither file of sealing is unregistered.
  for (const KECGlpsAuditUnregistered& entry : report.m_vUnregistered) {
    EXPECT_NE(entry.m_strName, KECGlpsSeal::SealFileName());
    EXPECT_NE(entry.m_strName, KECGlpsSeal::KeyFileName());
  }

  // Without the key, the seals are described and nothing is authenticated.
  const KECGlpsAuditReport described = KECGlpsAudit::Verify(dir, nullptr);
  EXPECT_EQ(described.Verdict(), Glps::eAuditNotAuthenticated);
  EXPECT_TRUE(described.m_seal.m_bSealFile);
  EXPECT_FALSE(described.m_seal.m_bChecked);
  EXPECT_EQ(described.m_seal.m_nLastSeal, 7);
  // With the info alone, as before.
  EXPECT_EQ(KECGlpsAudit::Verify(dir, &infos_[dir]).Verdict(), Glps::eAuditIntact);

  // Another log's key fails.
  const std::string other = NewLog("other");
  const KECGlpsAuditReport wrong = Verify(dir, keys_[other]);
  EXPECT_EQ(wrong.Verdict(), Glps::eAuditNotIntact);
  EXPECT_THAT(Kinds(wrong.m_seal, true), Contains(Glps::eAuditSealWrongKey));
}

// Each forgery of a sealed copy, and the finding that names it.
TEST_F(SealedLog, ForgeriesAreFoundWithTheirReason) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(Run(dir, 3, 5, {{"a.csv", CollisionHalf(false)}}));
  ASSERT_TRUE(Run(dir, 3, 5));
  const std::string other = NewLog("other");
  ASSERT_TRUE(Run(other, 3, 5));
  const std::string sealFile = KECGlpsSeal::SealFileName();
  const std::string document = glps_test::Documents(dir).at(0);

  // Rewrites an entry of the document and log.xml consistently, as someone without the host's info
  // or any key can.
  const auto rewriteEntry = [&](const std::string& copy) {
    std::string html = ReadFileBytes(copy + "/" + document);
    const std::size_t at = html.find("weighed sample 0.1");
    ASSERT_NE(at, std::string::npos);
    html.replace(at, 18, "weighed sample 0.9");
    WriteFileBytes(copy + "/" + document, html);
    KECGlpsLogSessionDataStorage storage(copy + "/log.xml");
    ASSERT_TRUE(storage.Load());
    for (KECGlpsFileManagerData& record : *storage.GetFileData()) {
      if (record.m_strFileName == document) {
        record.m_strHash = Fingerprint(html.substr(0, static_cast<std::size_t>(record.m_nSize)));
      }
    }
    ASSERT_TRUE(storage.Save());
  };

  struct Forgery {
    const char* what;
    std::function<void(const std::string& copy)> forge;
    Glps::EAuditSealFindingKind expected;
  };
  const Forgery forgeries[] = {
      {"an entry and log.xml rewritten consistently", rewriteEntry, Glps::eAuditSealPrefixChanged},
      {"a byte of an early seal changed",
       [&](const std::string& copy) {
         std::vector<std::string> lines = Lines(copy + "/" + sealFile);
         const std::size_t at = lines[2].find("xml=") + 4;
         lines[2][at] = lines[2][at] == 'A' ? 'B' : 'A';
         WriteFileBytes(copy + "/" + sealFile, Joined(lines));
       },
       Glps::eAuditSealBadMac},
      {"a seal removed from the middle",
       [&](const std::string& copy) {
         std::vector<std::string> lines = Lines(copy + "/" + sealFile);
         lines.erase(lines.begin() + 3);
         WriteFileBytes(copy + "/" + sealFile, Joined(lines));
       },
       Glps::eAuditSealMissing},
      {"a seal of another log put in the place of one",
       [&](const std::string& copy) {
         std::vector<std::string> lines = Lines(copy + "/" + sealFile);
         lines[3] = Lines(other + "/" + sealFile)[3];
         WriteFileBytes(copy + "/" + sealFile, Joined(lines));
       },
       Glps::eAuditSealBadMac},
      {"the seal file of another log",
       [&](const std::string& copy) {
         fs::copy_file(other + "/" + sealFile, copy + "/" + sealFile,
                       fs::copy_options::overwrite_existing);
       },
       Glps::eAuditSealWrongKey},
      {"a log.xml that no seal covers",
       [&](const std::string& copy) {
         KECGlpsLogSessionDataStorage storage(copy + "/log.xml");
         ASSERT_TRUE(storage.Load());
         storage.GetMetaData()->m_strExpName = "another experiment";
         ASSERT_TRUE(storage.Save());
       },
       Glps::eAuditSealLogXmlNotCovered},
      {"a linked file replaced by one with the same MD5",
       [&](const std::string& copy) { WriteFileBytes(copy + "/a.csv", CollisionHalf(true)); },
       Glps::eAuditSealFileChanged},
      {"a sealed document cut short",
       [&](const std::string& copy) {
         const std::string html = ReadFileBytes(copy + "/" + document);
         WriteFileBytes(copy + "/" + document, html.substr(0, html.size() / 2));
       },
       Glps::eAuditSealFileShort},
  };
  int number = 0;
  for (const Forgery& forgery : forgeries) {
    SCOPED_TRACE(forgery.what);
    const std::string copy = Copy(dir, "forged" + std::to_string(++number));
    forgery.forge(copy);
    const KECGlpsAuditReport report = Verify(copy, keys_[dir]);
    EXPECT_EQ(report.Verdict(), Glps::eAuditNotIntact) << Describe(report.m_seal);
    EXPECT_THAT(Kinds(report.m_seal, true), Contains(forgery.expected)) << Describe(report.m_seal);
    EXPECT_FALSE(report.IsAuthenticated());
  }

  // The collision pair passes the MD5 check of log.xml's records: only the seal tells.
  const std::string collided = Copy(dir, "collided");
  WriteFileBytes(collided + "/a.csv", CollisionHalf(true));
  const KECGlpsAuditReport unsealed = KECGlpsAudit::Verify(collided, &infos_[dir]);
  EXPECT_EQ(unsealed.Verdict(), Glps::eAuditIntact);
}

// Someone who holds the computer, and so the current sealing key, rewrites an entry and log.xml
// consistently and has the library seal the result: the earlier seals still catch it.
// With the verification key, each document is still read once: the prefixes that the seals sealed
// of it are fingerprinted from the bytes that verification reads for its fingerprint and entries.
TEST_F(SealedLog, EachDocumentIsReadOnceWithTheKey) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(Run(dir, 3, 4));
  ASSERT_TRUE(Run(dir, 2, 3));
  const std::string document = glps_test::Documents(dir).at(0);
  const std::string forged = Copy(dir, "forged");
  std::string html = ReadFileBytes(forged + "/" + document);
  const std::size_t at = html.find("weighed sample 0.1");
  ASSERT_NE(at, std::string::npos);
  html[at + 15] = '9';  // within the first save's sealed prefix
  WriteFileBytes(forged + "/" + document, html);

  for (const std::string& log : {dir, forged}) {
    SCOPED_TRACE(log);
    glps_test::ReadCounter reads;
    const KECGlpsAuditReport report = Verify(log, keys_[dir]);
    std::vector<std::int64_t> read;
    for (const std::string& name : glps_test::Documents(log)) read.push_back(reads.BytesRead(name));
    std::vector<std::int64_t> sizes;
    for (const std::string& name : glps_test::Documents(log)) {
      sizes.push_back(static_cast<std::int64_t>(fs::file_size(log + "/" + name)));
    }
    EXPECT_EQ(read, sizes);
    // The seal file too is read once: what is counted of it is what is checked.
    const std::string sealFile = log + "/" + KECGlpsSeal::SealFileName();
    EXPECT_EQ(reads.BytesRead(KECGlpsSeal::SealFileName()),
              static_cast<std::int64_t>(fs::file_size(sealFile)));
    if (log == dir) {
      EXPECT_EQ(report.Verdict(), Glps::eAuditIntact) << Describe(report.m_seal);
    } else {
      EXPECT_THAT(Kinds(report.m_seal, true), Contains(Glps::eAuditSealPrefixChanged))
          << Describe(report.m_seal);
    }
  }
}

TEST_F(SealedLog, TheCurrentKeyCannotRewriteWhatEarlierSealsSealed) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(Run(dir, 4, 5));
  const std::string document = glps_test::Documents(dir).at(0);
  std::string html = ReadFileBytes(dir + "/" + document);
  const std::size_t at = html.find("weighed sample 1.2");
  ASSERT_NE(at, std::string::npos);
  html.replace(at, 18, "weighed sample 1.7");
  WriteFileBytes(dir + "/" + document, html);
  KECGlpsLogInfo forged;
  {
    KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
    ASSERT_TRUE(storage.Load());
    for (KECGlpsFileManagerData& record : *storage.GetFileData()) {
      if (record.m_strFileName == document) record.m_strHash = Fingerprint(html);
    }
    ASSERT_TRUE(storage.Save());
    forged = storage.GetWrittenLogInfo();
  }
  // The library opens the forged log with the forged info (no tamper entry) and seals it.
  infos_[dir] = forged;
  ASSERT_TRUE(Run(dir, 1, 2));
  EXPECT_EQ(glps_test::CountTamperTitles(dir), 0);

  const KECGlpsAuditReport report = Verify(dir, keys_[dir]);
  EXPECT_EQ(report.Verdict(), Glps::eAuditNotIntact);
  EXPECT_TRUE(report.m_seal.m_bLogXmlCovered);  // the new seal covers the forged log.xml
  EXPECT_THAT(Kinds(report.m_seal, true), Contains(Glps::eAuditSealPrefixChanged))
      << Describe(report.m_seal);
  // Intact through the last seal before the one that sealed the rewritten bytes first.
  EXPECT_GE(report.m_seal.m_nIntactThrough, 0);
  EXPECT_LT(report.m_seal.m_nIntactThrough, report.m_seal.m_nLastSeal);
  for (const KECGlpsAuditSealFinding& finding : report.m_seal.m_vFindings) {
    if (finding.m_eKind == Glps::eAuditSealPrefixChanged) {
      EXPECT_EQ(finding.m_strFile, document);
      EXPECT_LE(finding.m_nOffset, static_cast<std::int64_t>(at));
    }
  }
}

// log.xml of `dir`, loaded, changed by `edit` and saved, as someone who can write the directory
// can.
void EditLogXml(const std::string& dir,
                const std::function<void(KECGlpsLogSessionDataStorage&)>& edit) {
  KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
  ASSERT_TRUE(storage.Load());
  edit(storage);
  ASSERT_TRUE(storage.Save());
}

KECGlpsFileManagerData* RecordNamed(KECGlpsLogSessionDataStorage& storage,
                                    const std::string& name) {
  for (KECGlpsFileManagerData& record : *storage.GetFileData()) {
    if (record.m_strFileName == name) return &record;
  }
  ADD_FAILURE() << "no record " << name;
  static KECGlpsFileManagerData none;
  return &none;
}

// Someone who holds the computer from save T on has the sealing key k_T: they change the log and
// seal the change as save T with a sealer of their own (the key file and the documented
// construction alone). What seals before T bound of log.xml still holds: every sealed file keeps
// its one record and its kind, the sealed documents stay the first, in their order, those before
// the one the library wrote on keep their sizes, and the header stays as it was.
TEST_F(SealedLog, TheCurrentKeyCannotUnbindWhatEarlierSealsBound) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(RunFilling(dir));  // document 1, past the size limit
  std::int32_t lastOfFirst = 0;
  EditLogXml(dir, [&](KECGlpsLogSessionDataStorage& storage) {
    lastOfFirst = storage.GetCatalog()->m_lNextIndex;
  });
  ASSERT_TRUE(Run(dir, 2, 3, {{"balance.csv", "mass;1.0032\n"}}));  // document 2
  {
    // The last save ends on a line of the host's own (a report item), not on a message.
    KECGlpsServices* service = KECGlpsServices::Instance();
    ASSERT_TRUE(service->LogExpInit(dir, true, infos_[dir], KECGlpsLogInfoCrash(),
                                    Experiment("Seal"), nullptr, nullptr));
    ASSERT_TRUE(
        service->LogExpReportItem(KCRptRepItNormal("Balance B-3 calibrated", false, false, false)));
    ASSERT_TRUE(service->LogExpReportItem(KCRptRepItNewLine(1)));
    ASSERT_TRUE(service->LogExpExit(&infos_[dir]));
    KECGlpsServices::Destroy();
  }
  const std::vector<std::string> documents = glps_test::Documents(dir);
  ASSERT_EQ(documents.size(), 2u);
  const std::string first = documents[0];
  const std::string second = documents[1];
  // Appends `html` to the document `name` and records the document whole.
  const auto append = [](const std::string& copy, const std::string& name,
                         const std::string& html) {
    const std::string whole = ReadFileBytes(copy + "/" + name) + html;
    WriteFileBytes(copy + "/" + name, whole);
    EditLogXml(copy, [&](KECGlpsLogSessionDataStorage& storage) {
      KECGlpsFileManagerData* record = RecordNamed(storage, name);
      record->m_nSize = static_cast<std::int64_t>(whole.size());
      record->m_strHash = Fingerprint(whole);
    });
  };
  const std::string indent = "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";

  // A forged copy of the first document, with other weights, under a new document's name.
  const auto forgedCopyOfFirst = [&](const std::string& copy, const std::string& name) {
    std::string html = ReadFileBytes(copy + "/" + first);
    html.replace(html.find("(" + first + ")"), first.size() + 2, "(" + name + ")");
    for (std::size_t at; (at = html.find(": 2.00")) != std::string::npos;) html[at + 2] = '3';
    WriteFileBytes(copy + "/" + name, html);
    return glps_test::RecordOf(Glps::FileLog, name, html);
  };
  const auto relink = [](KECGlpsLogSessionDataStorage& storage, const std::string& name) {
    RecordNamed(storage, name)->m_eType = Glps::FileLink;
  };
  const auto rewriteHeader = [](KECGlpsLogSessionDataStorage& storage) {
    KECGlpsLogHeader& header = *storage.GetHeader();
    header.m_tmCreation.SetMicroseconds(header.m_tmCreation.GetMicroseconds() - 86400000000);
    header.m_strUserCreation = "someone else";
    header.m_guid = KCGenGUID(true);
  };

  struct Forgery {
    const char* what;
    std::function<void(const std::string& copy)> forge;
    bool bind;  // the forged seal binds log.xml as the library's seals do
    Glps::EAuditSealFindingKind expected;
  };
  const Forgery forgeries[] = {
      {"the first document and its sidecar recorded as linked files, a forged copy of it as a new "
       "document in its place",
       [&](const std::string& copy) {
         const KECGlpsFileManagerData forged = forgedCopyOfFirst(copy, "GLP-Log-Seal_0003.html");
         EditLogXml(copy, [&](KECGlpsLogSessionDataStorage& storage) {
           relink(storage, first);
           relink(storage, glps::SidecarNameOf(first));
           storage.GetFileData()->insert(storage.GetFileData()->begin(), forged);
         });
       },
       true, Glps::eAuditSealRecordChanged},
      {"a sealed sidecar recorded as a linked file",
       [&](const std::string& copy) {
         EditLogXml(copy, [&](KECGlpsLogSessionDataStorage& storage) {
           relink(storage, glps::SidecarNameOf(second));
         });
       },
       true, Glps::eAuditSealRecordChanged},
      {"the last document dropped from the documents (recorded as a linked file, with its "
       "sidecar), the catalog set back",
       [&](const std::string& copy) {
         EditLogXml(copy, [&](KECGlpsLogSessionDataStorage& storage) {
           relink(storage, second);
           relink(storage, glps::SidecarNameOf(second));
           storage.GetCatalog()->m_lNextIndex = lastOfFirst;
         });
       },
       true, Glps::eAuditSealRecordChanged},
      {"a sealed linked file recorded as a document",
       [&](const std::string& copy) {
         EditLogXml(copy, [&](KECGlpsLogSessionDataStorage& storage) {
           RecordNamed(storage, "balance.csv")->m_eType = Glps::FileLog;
         });
       },
       true, Glps::eAuditSealRecordChanged},
      {"the two documents' records swapped",
       [&](const std::string& copy) {
         EditLogXml(copy, [&](KECGlpsLogSessionDataStorage& storage) {
           std::swap(*RecordNamed(storage, first), *RecordNamed(storage, second));
         });
       },
       true, Glps::eAuditSealDocumentsChanged},
      {"a forged document put before the sealed ones",
       [&](const std::string& copy) {
         const std::string name = "GLP-Log-Seal_0000.html";
         const std::string html = "<I>(" + name + ")<BR><BR></I>";
         WriteFileBytes(copy + "/" + name, html);
         EditLogXml(copy, [&](KECGlpsLogSessionDataStorage& storage) {
           storage.GetFileData()->insert(storage.GetFileData()->begin(),
                                         glps_test::RecordOf(Glps::FileLog, name, html));
         });
       },
       true, Glps::eAuditSealDocumentsChanged},
      {"the header's creation time, creating user and GUID rewritten",
       [&](const std::string& copy) { EditLogXml(copy, rewriteHeader); }, true,
       Glps::eAuditSealHeaderChanged},
      {"the header made an application log's",
       [&](const std::string& copy) {
         EditLogXml(copy, [](KECGlpsLogSessionDataStorage& storage) {
           storage.GetHeader()->m_eContentType =
               static_cast<KCGenStandardFileHeader::EContentType>(533);
         });
       },
       true, Glps::eAuditSealHeaderChanged},
      {"the header rewritten, sealed in the form without the binding",
       [&](const std::string& copy) { EditLogXml(copy, rewriteHeader); }, false,
       Glps::eAuditSealHeaderChanged},
      {"a crash report put at the end of the first document, which the library no longer writes "
       "on: shown before the second document's sealed entries",
       [&](const std::string& copy) {
         append(copy, first,
                "Power failure<BR>\n" + indent + "samples F.0 to F.9 weighed again<BR>\n<BR>\n");
       },
       true, Glps::eAuditSealDocumentResized},
      {"the first document recorded a second time after the last, a tamper heading before it and "
       "the catalog set back, so that the trail's findings read as recorded",
       [&](const std::string& copy) {
         append(copy, second, "<BR>\n<H2>" + Txts::GetString(18631) + "</H2>\n");
         EditLogXml(copy, [&](KECGlpsLogSessionDataStorage& storage) {
           storage.GetFileData()->push_back(*RecordNamed(storage, first));
           storage.GetCatalog()->m_lNextIndex = lastOfFirst;
         });
       },
       true, Glps::eAuditSealRecordChanged},
  };
  int number = 0;
  for (const Forgery& forgery : forgeries) {
    SCOPED_TRACE(forgery.what);
    const std::string copy = Copy(dir, "forged" + std::to_string(++number));
    forgery.forge(copy);
    ASSERT_EQ(glps_test::ForgeSeal(copy, forgery.bind), "");
    const KECGlpsAuditReport report = Verify(copy, keys_[dir]);
    // The forged seal verifies and covers the forged log.xml: only the earlier seals tell.
    EXPECT_TRUE(report.m_seal.m_bLogXmlCovered) << Describe(report.m_seal);
    EXPECT_EQ(report.Verdict(), Glps::eAuditNotIntact) << Describe(report.m_seal);
    EXPECT_THAT(Kinds(report.m_seal, true), Contains(forgery.expected)) << Describe(report.m_seal);
    EXPECT_LT(report.m_seal.m_nIntactThrough, report.m_seal.m_nLastSeal);
  }

  // What the holder of k_T may change, as the host may: the forged seal of it verifies (and so
  // the forger is the library's construction, not a seal that fails for another reason).
  const std::string unchanged = Copy(dir, "unchanged");
  ASSERT_EQ(glps_test::ForgeSeal(unchanged), "");
  const std::string renamed = Copy(dir, "renamed");
  EditLogXml(renamed, [](KECGlpsLogSessionDataStorage& storage) {
    storage.GetMetaData()->m_strExpName = "another experiment";
  });
  ASSERT_EQ(glps_test::ForgeSeal(renamed), "");
  // A line after the sealed ones of the last document, the one the library writes on.
  const std::string appended = Copy(dir, "appended");
  append(appended, second, "<B>Balance B-3 checked again</B><BR>\n");
  ASSERT_EQ(glps_test::ForgeSeal(appended), "");
  for (const std::string& copy : {unchanged, renamed, appended}) {
    SCOPED_TRACE(copy);
    const KECGlpsAuditReport report = Verify(copy, keys_[dir]);
    EXPECT_EQ(report.Verdict(), Glps::eAuditIntact) << Describe(report.m_seal);
    EXPECT_EQ(report.m_seal.m_nIntactThrough, report.m_seal.m_nLastSeal);
  }
  // The host renames the experiment and saves: the seals before bound no metadata.
  KECGlpsServices* service = KECGlpsServices::Instance();
  ASSERT_TRUE(service->LogExpInit(dir, true, infos_[dir], KECGlpsLogInfoCrash(), Experiment("Seal"),
                                  nullptr, nullptr));
  EXPECT_TRUE(service->LogExpMetaDataName("renamed by the host"));
  EXPECT_TRUE(service->LogExpExit(&infos_[dir]));
  KECGlpsServices::Destroy();
  EXPECT_EQ(Verify(dir, keys_[dir]).Verdict(), Glps::eAuditIntact);
}

// An entry as the trail shows it: its kind, its text and its details.
struct Shown {
  Glps::EAuditEntryKind kind;
  std::string text;
  std::vector<std::string> details;
  bool operator==(const Shown& other) const {
    return kind == other.kind && text == other.text && details == other.details;
  }
};
std::ostream& operator<<(std::ostream& out, const Shown& shown) {
  out << KECGlpsAudit::EntryKindName(shown.kind) << " \"" << shown.text << "\"";
  for (const std::string& detail : shown.details) out << " / \"" << detail << "\"";
  return out;
}

// Each save's seal ends where the save left the document, so that every entry sealed is read from
// the bytes sealed alone: a line that reads like a crash entry's detail line (a host's line that
// begins with blanks, written as "&nbsp;") after a line sealed does not make that line the first
// of a crash entry, whether the host wrote it in its next save or the holder of k_T forged it. And
// since a document only grows, a later seal cannot end a sealed entry early by sealing the
// document shorter than before.
TEST_F(SealedLog, EveryEntrySealedIsShownAsItWasSealed) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(Run(dir, 1, 1));
  KECGlpsServices* service = KECGlpsServices::Instance();
  KECGlpsLogInfo& info = infos_[dir];
  KECGlpsLogInfoCrash crash;
  crash.m_bCrashed = true;
  crash.m_strText = "Power failure";
  crash.m_vLines = {"while weighing"};
  ASSERT_TRUE(service->LogExpInit(dir, true, info, crash, Experiment("Seal"), nullptr, nullptr));
  ASSERT_TRUE(service->LogExpReportItem(KCRptRepItNormal("Results", false, false, false)));
  ASSERT_TRUE(service->LogExpReportItem(KCRptRepItNewLine(1)));
  ASSERT_TRUE(service->LogExpExit(&info));
  KECGlpsServices::Destroy();
  const std::string document = glps_test::Documents(dir).back();
  const std::string forged = Copy(dir, "forged");
  const std::string shortened = Copy(dir, "shortened");
  // The host's next save.
  service = KECGlpsServices::Instance();
  ASSERT_TRUE(service->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), Experiment("Seal"),
                                  nullptr, nullptr));
  ASSERT_TRUE(
      service->LogExpReportItem(KCRptRepItNormal("     sample 1: 2.00 g", false, false, false)));
  ASSERT_TRUE(service->LogExpReportItem(KCRptRepItNewLine(1)));
  ASSERT_TRUE(service->LogExpExit(&info));
  KECGlpsServices::Destroy();
  // The same line forged after the last seal, and sealed with k_T.
  const std::string html = ReadFileBytes(forged + "/" + document);
  const std::string whole = html + "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;sample 1: 2.00 g<BR>\n";
  WriteFileBytes(forged + "/" + document, whole);
  EditLogXml(forged, [&](KECGlpsLogSessionDataStorage& storage) {
    KECGlpsFileManagerData* record = RecordNamed(storage, document);
    record->m_nSize = static_cast<std::int64_t>(whole.size());
    record->m_strHash = Fingerprint(whole);
  });
  ASSERT_EQ(glps_test::ForgeSeal(forged), "");
  // A seal made with k_T that seals the document first up to the end of the crash entry's first
  // line, then whole: as if a save had ended the document there.
  ASSERT_EQ(glps_test::ForgeSeal(shortened), "");
  {
    const std::string sealFile = shortened + "/" + KECGlpsSeal::SealFileName();
    std::vector<std::string> lines = Lines(sealFile);
    std::string logId;
    ASSERT_TRUE(glps::seal::ParseHeaderLine(lines.at(0), &logId));
    glps::seal::SealLine line;
    ASSERT_TRUE(glps::seal::ParseSealLine(lines.back(), &line, nullptr));
    const std::size_t cut = html.find('\n', html.find("Power failure")) + 1;
    std::vector<glps::seal::SealedFile> files = {
        {Glps::FileLog, document, static_cast<std::int64_t>(cut), Fingerprint(html.substr(0, cut)),
         ""},
        {Glps::FileLog, document, static_cast<std::int64_t>(html.size()), Fingerprint(html), ""}};
    for (const glps::seal::SealedFile& file : line.changed) {
      if (file.name != document) files.push_back(file);
    }
    line.changed = files;
    glps::crypto::SecretKey key;
    ASSERT_TRUE(glps::seal::ParseVerificationKey(keys_[dir], &key));
    for (std::uint64_t n = 0; n < line.number; ++n) glps::seal::NextKey(key, &key);
    line.mac = glps::seal::MacOf(key, logId, glps::seal::SealText(line));
    lines.back() = glps::seal::SealLineText(line);
    WriteFileBytes(sealFile, Joined(lines));
  }

  const Shown crashEntry{Glps::eAuditEntryCrash, "Power failure", {"while weighing"}};
  const Shown results{Glps::eAuditEntryText, "Results", {}};
  const Shown indented{Glps::eAuditEntryText, "     sample 1: 2.00 g", {}};
  struct Case {
    const char* what;
    std::string log;
    Glps::EAuditVerdict verdict;
    std::vector<Shown> shown;
  };
  const Case cases[] = {
      {"the host's next save", dir, Glps::eAuditIntact, {crashEntry, results, indented}},
      {"the line forged after the last seal",
       forged,
       Glps::eAuditIntact,
       {crashEntry, results, indented}},
      {"the document sealed shorter, inside the crash entry", shortened, Glps::eAuditNotIntact, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KECGlpsAuditRequest request;
    request.m_strSealKey = keys_[dir];
    KECGlpsAuditTrail trail;
    const KECGlpsAuditReport report = KECGlpsAudit::ReadVerifiedTrail(c.log, request, &trail);
    EXPECT_EQ(report.Verdict(), c.verdict) << Describe(report.m_seal);
    // Verification alone reads the entries' bounds without their texts: the same verdict.
    EXPECT_EQ(KECGlpsAudit::Verify(c.log, request).Verdict(), c.verdict);
    if (c.verdict != Glps::eAuditIntact) {
      EXPECT_THAT(Kinds(report.m_seal, true), Contains(Glps::eAuditSealDocumentResized))
          << Describe(report.m_seal);
      continue;
    }
    std::vector<Shown> shown;
    for (const KECGlpsAuditEntry& entry : trail.m_vEntries) {
      if (entry.m_eKind == Glps::eAuditEntryText || entry.m_eKind == Glps::eAuditEntryCrash) {
        shown.push_back({entry.m_eKind, entry.m_strMessage, entry.m_vDetails});
      }
    }
    EXPECT_EQ(shown, c.shown);
  }
}

// The seal file as the library wrote it before seals bound log.xml's header and documents: each
// seal line without "head=" and "docs=", its MAC made again under its key from k0.
void RewriteWithoutBinding(const std::string& sealFile, const std::string& keyText) {
  std::vector<std::string> lines = Lines(sealFile);
  std::string logId;
  ASSERT_TRUE(glps::seal::ParseHeaderLine(lines.at(0), &logId));
  glps::crypto::SecretKey key;
  ASSERT_TRUE(glps::seal::ParseVerificationKey(keyText, &key));
  std::uint64_t keyNumber = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    glps::seal::SealLine line;
    ASSERT_TRUE(glps::seal::ParseSealLine(lines[i], &line, nullptr));
    for (; keyNumber < line.number; ++keyNumber) ASSERT_TRUE(glps::seal::NextKey(key, &key));
    line.bound = false;
    line.mac = glps::seal::MacOf(key, logId, glps::seal::SealText(line));
    lines[i] = glps::seal::SealLineText(line);
    ASSERT_EQ(lines[i].find(" head="), std::string::npos);
  }
  WriteFileBytes(sealFile, Joined(lines));
}

// Seal files written before the binding verify as before; the library seals on after them with
// the binding; what their seals sealed of each file's kind still binds.
TEST_F(SealedLog, SealsWrittenBeforeTheBindingStillVerify) {
  // A log that the library sealed before seals carried the binding: the demo's experiment log,
  // sealed after the demo's first run (seal 0), then run on (seals 1 and 2).
  const std::string fixture = Copy(std::string(GLPS_SOURCE_DIR) +
                                       "/tests/seal/fixtures/"
                                       "sealed-before-binding",
                                   "fixture");
  ASSERT_EQ(Lines(fixture + "/" + KECGlpsSeal::SealFileName()).at(1).find(" head="),
            std::string::npos);
  const KECGlpsAuditReport old =
      Verify(fixture, "ce084292-e27adcfe-47a2077d-d0c1d3ff-83c0dd3e-90d7d619-f64d29bf-0de788f3");
  EXPECT_EQ(old.Verdict(), Glps::eAuditIntact) << Describe(old.m_seal);
  EXPECT_EQ(old.m_seal.m_nSeals, 3);
  EXPECT_EQ(old.m_seal.m_nIntactThrough, 2);
  EXPECT_TRUE(old.m_seal.m_bLogXmlCovered);

  // Seal files made by the rules of that time.
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(Run(dir, 2, 3, {{"balance.csv", "mass;1.0032\n"}}));
  const std::string sealFile = dir + "/" + KECGlpsSeal::SealFileName();
  RewriteWithoutBinding(sealFile, keys_[dir]);
  const std::size_t oldSeals = Lines(sealFile).size() - 1;
  KECGlpsAuditReport report = Verify(dir, keys_[dir]);
  EXPECT_EQ(report.Verdict(), Glps::eAuditIntact) << Describe(report.m_seal);
  EXPECT_EQ(report.m_seal.m_nIntactThrough, report.m_seal.m_nLastSeal);

  // A sealed document recorded as a linked file, sealed with the key of the time: the old seals
  // sealed it as a document.
  const std::string relinked = Copy(dir, "relinked");
  const std::string document = glps_test::Documents(dir).at(0);
  EditLogXml(relinked, [&](KECGlpsLogSessionDataStorage& storage) {
    RecordNamed(storage, document)->m_eType = Glps::FileLink;
  });
  ASSERT_EQ(glps_test::ForgeSeal(relinked, false), "");
  report = Verify(relinked, keys_[dir]);
  EXPECT_EQ(report.Verdict(), Glps::eAuditNotIntact);
  EXPECT_THAT(Kinds(report.m_seal, true), Contains(Glps::eAuditSealRecordChanged))
      << Describe(report.m_seal);

  // The library seals on with the binding.
  ASSERT_TRUE(Run(dir, 1, 2));
  const std::vector<std::string> lines = Lines(sealFile);
  ASSERT_GT(lines.size(), oldSeals + 1);
  EXPECT_EQ(lines[oldSeals].find(" head="), std::string::npos);
  EXPECT_NE(lines[oldSeals + 1].find(" head="), std::string::npos) << lines[oldSeals + 1];
  report = Verify(dir, keys_[dir]);
  EXPECT_EQ(report.Verdict(), Glps::eAuditIntact) << Describe(report.m_seal);
  EXPECT_EQ(report.m_seal.m_nIntactThrough, report.m_seal.m_nLastSeal);
}

// A seal line anyone can append, numbered far beyond the file: its key is never derived.
TEST_F(SealedLog, ASealNumberedBeyondTheSealFileIsNotDerived) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(Run(dir, 2, 2));
  const std::string sealFile = dir + "/" + KECGlpsSeal::SealFileName();
  const std::vector<std::string> genuine = Lines(sealFile);
  ASSERT_EQ(genuine.size(), 5u);  // the header, seal 0, two saves and the exit: seals 0 to 3
  // With the line appended the file has 5 seal lines; keys are derived for seals below 5 + 1024.
  struct Case {
    std::uint64_t number;
    std::uint64_t derivations;
    Glps::EAuditSealFindingKind expected;
  };
  const Case cases[] = {
      {9999999, 3, Glps::eAuditSealNumberTooHigh},
      {1029, 3, Glps::eAuditSealNumberTooHigh},
      {1028, 1028, Glps::eAuditSealBadMac},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    std::vector<std::string> lines = genuine;
    lines.push_back("seal=" + std::to_string(c.number) +
                    " time=2026-12-10T16:44:01.669927Z xml=- mac=" + std::string(64, '0'));
    KECGlpsAuditSeal seal;
    EXPECT_EQ(CheckSealLines(dir, lines, &seal), c.derivations);
    EXPECT_THAT(Kinds(seal, true), Contains(c.expected)) << Describe(seal);
    EXPECT_EQ(seal.m_nIntactThrough, 3);
    // Through the audit API: the log fails.
    EXPECT_EQ(Verify(dir, keys_[dir]).Verdict(), Glps::eAuditNotIntact);
  }
}

// A seal line of the log in `dir`, numbered `number`, with its MAC under that number's key (from
// the verification key `keyText`, as the holder of a later sealing key could make seals from its
// number on); it lists `files` linked files that log.xml does not record.
std::string SealLineOf(const std::string& dir, const std::string& keyText, std::uint64_t number,
                       std::size_t files) {
  std::string logId;
  EXPECT_TRUE(
      glps::seal::ParseHeaderLine(Lines(dir + "/" + KECGlpsSeal::SealFileName()).at(0), &logId));
  glps::crypto::SecretKey key;
  EXPECT_TRUE(glps::seal::ParseVerificationKey(keyText, &key));
  for (std::uint64_t n = 0; n < number; ++n) glps::seal::NextKey(key, &key);
  glps::seal::SealLine line;
  line.number = number;
  line.time = glps::seal::TimeNow();
  line.logXml = glps_test::InfoOf(dir + "/log.xml");
  for (std::size_t i = 0; i < files; ++i) {
    line.changed.push_back({Glps::FileLink, "f" + std::to_string(100000 + i), 1, "", ""});
  }
  line.mac = glps::seal::MacOf(key, logId, glps::seal::SealText(line));
  return glps::seal::SealLineText(line);
}

// What the seal file holds costs the check no more than the log's seals and records justify: lines
// that are not seals raise no key derivations and list few findings, and the names followed are
// at most log.xml's protected records and 1,024 more. Each case is appended to the seal file of a
// log whose log.xml records 2 protected files and whose seals 0 to 3 are genuine.
TEST_F(SealedLog, ASealFileCostsOnlyWhatTheLogJustifies) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(Run(dir, 2, 2));
  const std::string sealFile = dir + "/" + KECGlpsSeal::SealFileName();
  const std::vector<std::string> genuine = Lines(sealFile);
  ASSERT_EQ(genuine.size(), 5u);
  const std::string unsealed =
      "seal=20000 time=2026-12-10T16:44:01.669927Z xml=- mac=" + std::string(64, '0');
  std::vector<std::string> emptyLines(20000);
  emptyLines.push_back(unsealed);
  std::string manyFields = "seal=4 time=2026-12-10T16:44:01.669927Z xml=-";
  for (int i = 0; i < 1100; ++i) manyFields += " file=link:x:1:-";
  manyFields += " mac=" + std::string(64, '0');
  struct Case {
    const char* what;
    std::vector<std::string> appended;
    Glps::EAuditSealFindingKind expected;
    std::int64_t expectedSeal;  // the seal the finding names
    std::uint64_t derivations;
    const char* counted;  // the finding that counts those of a kind not listed, if any
    bool covered;         // a seal checked covers log.xml
  };
  const Case cases[] = {
      {"20,000 empty lines, then a line numbered 20,000", emptyLines, Glps::eAuditSealNumberTooHigh,
       20000, 3, "19984 more findings of this kind, not listed", false},
      {"a seal made with its key that seals 1,024 names more than log.xml records",
       {SealLineOf(dir, keys_[dir], 4, 1024)},
       Glps::eAuditSealRecordChanged,
       4,
       4,
       "1008 more findings of this kind, not listed",
       true},
      {"a seal made with its key that seals 1,025 names more than log.xml records",
       {SealLineOf(dir, keys_[dir], 4, 1025)},
       Glps::eAuditSealTooLarge,
       4,
       4,
       "",
       false},
      {"a line with more fields than files can be sealed",
       {manyFields},
       Glps::eAuditSealTooLarge,
       -1,
       3,
       "",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> lines = genuine;
    lines.insert(lines.end(), c.appended.begin(), c.appended.end());
    KECGlpsAuditSeal seal;
    EXPECT_EQ(CheckSealLines(dir, lines, &seal), c.derivations);
    const auto found = [&](const std::function<bool(const KECGlpsAuditSealFinding&)>& match) {
      return std::find_if(seal.m_vFindings.begin(), seal.m_vFindings.end(), match) !=
             seal.m_vFindings.end();
    };
    EXPECT_TRUE(found([&](const KECGlpsAuditSealFinding& finding) {
      return finding.m_eKind == c.expected && finding.m_nSeal == c.expectedSeal && finding.m_bFails;
    })) << Describe(seal);
    // At most 16 findings of a kind are listed, and one more counts the others.
    std::map<Glps::EAuditSealFindingKind, int> perKind;
    for (const KECGlpsAuditSealFinding& finding : seal.m_vFindings) ++perKind[finding.m_eKind];
    for (const auto& [kind, count] : perKind) EXPECT_LE(count, 17) << Describe(seal);
    if (*c.counted != 0) {
      EXPECT_TRUE(found([&](const KECGlpsAuditSealFinding& finding) {
        return finding.m_strText == c.counted && finding.m_bFails;
      })) << Describe(seal);
    }
    EXPECT_EQ(seal.m_nIntactThrough, 3);
    // A seal that stops the check leaves no seal taken for the last (the genuine seal 3 covers
    // log.xml).
    EXPECT_EQ(seal.m_bLogXmlCovered, c.covered);
    EXPECT_EQ(Verify(dir, keys_[dir]).Verdict(), Glps::eAuditNotIntact);
  }
}

// What the scheme cannot tell: a seal file cut at its end, with the log put back as it was then.
TEST_F(SealedLog, ACutSealFileWithTheLogRolledBackShowsOnlyItsLastSeal) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(Run(dir, 1, 3));
  const std::string then = Copy(dir, "then");
  ASSERT_TRUE(Run(dir, 2, 3));
  // The log as it was after the first run, with the seal file of that time.
  const KECGlpsAuditReport report = Verify(then, keys_[dir]);
  EXPECT_EQ(report.Verdict(), Glps::eAuditIntact) << Describe(report.m_seal);
  EXPECT_EQ(report.m_seal.m_nLastSeal, 2);
  // Only the seal file's tail cut (the seals of the exit and of the save before it, which sealed
  // the same log.xml): log.xml is newer than the last seal left.
  const std::string cut = Copy(dir, "cut");
  std::vector<std::string> lines = Lines(cut + "/" + KECGlpsSeal::SealFileName());
  lines.resize(lines.size() - 2);
  WriteFileBytes(cut + "/" + KECGlpsSeal::SealFileName(), Joined(lines));
  const KECGlpsAuditReport cutReport = Verify(cut, keys_[dir]);
  EXPECT_EQ(cutReport.Verdict(), Glps::eAuditNotIntact);
  EXPECT_THAT(Kinds(cutReport.m_seal, true), Contains(Glps::eAuditSealLogXmlNotCovered));
}

TEST_F(SealedLog, WithoutSealingNothingChanges) {
  const std::string dir = NewLog("plain", false);
  ASSERT_TRUE(Run(dir, 2, 3, {{"a.csv", "1;2\n"}}));
  ASSERT_TRUE(Run(dir, 1, 2));
  const std::vector<std::string> names = ListDirectory(dir);
  EXPECT_THAT(names, Not(Contains(KECGlpsSeal::SealFileName())));
  EXPECT_THAT(names, Not(Contains(KECGlpsSeal::KeyFileName())));
  EXPECT_FALSE(KECGlpsSeal::IsSealed(dir));

  const KECGlpsAuditReport report = KECGlpsAudit::Verify(dir, &infos_[dir]);
  EXPECT_EQ(report.Verdict(), Glps::eAuditIntact);
  EXPECT_FALSE(report.m_seal.m_bSealFile);
  EXPECT_TRUE(report.m_seal.m_vFindings.empty());
  EXPECT_EQ(KECGlpsAudit::Verify(dir, nullptr).Verdict(), Glps::eAuditNotAuthenticated);
  // A key given for a log that has no seals: its seals were removed, or it never had any.
  const KECGlpsAuditReport withKey = Verify(dir, keys_[NewLog("sealed")]);
  EXPECT_EQ(withKey.Verdict(), Glps::eAuditNotIntact);
  EXPECT_THAT(Kinds(withKey.m_seal, true), Contains(Glps::eAuditSealNoSealFile));
  // Clearing works as before; a sealed log is never cleared.
  KECGlpsServices* service = KECGlpsServices::Instance();
  ASSERT_TRUE(service->LogExpInit(dir, true, infos_[dir], KECGlpsLogInfoCrash(), Experiment("Seal"),
                                  nullptr, nullptr));
  EXPECT_TRUE(service->ClearLogExp());
  EXPECT_TRUE(service->LogExpExit(&infos_[dir]));
  KECGlpsServices::Destroy();
  const std::string sealed = NewLog("sealed2");
  ASSERT_TRUE(Run(sealed, 1, 2));
  const std::vector<std::string> before = ListDirectory(sealed);
  ASSERT_TRUE(service = KECGlpsServices::Instance());
  ASSERT_TRUE(service->LogExpInit(sealed, true, infos_[sealed], KECGlpsLogInfoCrash(),
                                  Experiment("Seal"), nullptr, nullptr));
  EXPECT_FALSE(service->ClearLogExp());
  EXPECT_TRUE(service->LogExpExit(&infos_[sealed]));
  KECGlpsServices::Destroy();
  EXPECT_EQ(ListDirectory(sealed), before);
  EXPECT_EQ(Verify(sealed, keys_[sealed]).Verdict(), Glps::eAuditIntact);
}

TEST_F(SealedLog, TheSealingKeyIsTheOwnersAloneMovesOnAndIsNeverExported) {
  const mode_t umaskBefore = umask(0);
  const std::string dir = NewLog("exp");
  const std::string keyFile = dir + "/" + KECGlpsSeal::KeyFileName();
  struct stat st;
  ASSERT_EQ(stat(keyFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // The verification key is stored nowhere in the directory.
  std::string hex = keys_[dir];
  hex.erase(std::remove(hex.begin(), hex.end(), '-'), hex.end());
  for (const std::string& name : ListDirectory(dir)) {
    EXPECT_EQ(ReadFileBytes(dir + "/" + name).find(hex), std::string::npos) << name;
  }

  // Someone widens the key file's permissions; the next opening takes them back.
  ASSERT_EQ(chmod(keyFile.c_str(), 0644), 0);
  const std::string keyBefore = ReadFileBytes(keyFile);
  ASSERT_TRUE(Run(dir, 1, 2));
  ASSERT_EQ(stat(keyFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // The key that sealed is gone from the file: nothing of its slot text is left.
  const std::string keyAfter = ReadFileBytes(keyFile);
  EXPECT_EQ(keyAfter.size(), keyBefore.size());
  const std::string oldKey = keyBefore.substr(keyBefore.find(" key=") + 5, 64);
  EXPECT_EQ(keyAfter.find(oldKey), std::string::npos);

  const std::string target = root_ / "export";
  mkdir(target.c_str(), 0755);
  KECGlpsServices* service = KECGlpsServices::Instance();
  ASSERT_TRUE(service->LogExpInit(dir, true, infos_[dir], KECGlpsLogInfoCrash(), Experiment("Seal"),
                                  nullptr, nullptr));
  EXPECT_TRUE(service->ExportLogExp(target));
  EXPECT_TRUE(service->LogExpExit(&infos_[dir]));
  KECGlpsServices::Destroy();
  EXPECT_FALSE(ListDirectory(target).empty());
  EXPECT_THAT(ListDirectory(target), Not(Contains(KECGlpsSeal::KeyFileName())));
  EXPECT_THAT(ListDirectory(target), Not(Contains(KECGlpsSeal::SealFileName())));
  umask(umaskBefore);
  EXPECT_EQ(Verify(dir, keys_[dir]).Verdict(), Glps::eAuditIntact);
}

// What an interrupted save leaves, put in place by hand: every case seals on at the next save,
// and the whole log verifies.
TEST_F(SealedLog, InterruptedSealsAreTakenUpByTheNextSave) {
  const std::string dir = NewLog("exp");
  const std::string keyFile = dir + "/" + KECGlpsSeal::KeyFileName();
  const std::string sealFile = dir + "/" + KECGlpsSeal::SealFileName();
  ASSERT_TRUE(Run(dir, 1, 2));

  // The last seal reached the file, the key did not move on.
  {
    KECGlpsServices* service = KECGlpsServices::Instance();
    ASSERT_TRUE(service->LogExpInit(dir, true, infos_[dir], KECGlpsLogInfoCrash(),
                                    Experiment("Seal"), nullptr, nullptr));
    EXPECT_TRUE(service->LogExpMsg("before the exit"));
    const std::string keyBefore = ReadFileBytes(keyFile);
    EXPECT_TRUE(service->LogExpExit(&infos_[dir]));
    KECGlpsServices::Destroy();
    WriteFileBytes(keyFile, keyBefore);
  }
  // A seal line cut short.
  const std::string sealsBefore = ReadFileBytes(sealFile);
  ASSERT_TRUE(Run(dir, 1, 2));
  const std::string whole = ReadFileBytes(sealFile);
  WriteFileBytes(sealFile, whole.substr(0, sealsBefore.size() + 40));
  EXPECT_THAT(Kinds(Verify(dir, keys_[dir]).m_seal, false),
              Contains(Glps::eAuditSealIncompleteLine));
  // The second slot of the key file cut short (the first one whole).
  ASSERT_TRUE(Run(dir, 1, 2));
  const std::string key = ReadFileBytes(keyFile);
  WriteFileBytes(keyFile, key.substr(0, key.size() / 2 + 10));

  ASSERT_TRUE(Run(dir, 2, 2));
  const KECGlpsAuditReport report = Verify(dir, keys_[dir]);
  // The seal cut short was lost with the line: its number is missing, nothing else.
  EXPECT_THAT(Kinds(report.m_seal, true), Contains(Glps::eAuditSealMissing))
      << Describe(report.m_seal);
  for (const KECGlpsAuditSealFinding& finding : report.m_seal.m_vFindings) {
    if (finding.m_bFails) {
      EXPECT_EQ(finding.m_eKind, Glps::eAuditSealMissing);
    }
  }
  EXPECT_TRUE(report.m_seal.m_bLogXmlCovered);
}

TEST_F(SealedLog, ASealedLogThatLostItsKeyFailsEverySave) {
  const std::string dir = NewLog("exp");
  ASSERT_TRUE(Run(dir, 1, 2));
  ASSERT_EQ(unlink((dir + "/" + KECGlpsSeal::KeyFileName()).c_str()), 0);
  KECGlpsServices* service = KECGlpsServices::Instance();
  ASSERT_TRUE(service->LogExpInit(dir, true, infos_[dir], KECGlpsLogInfoCrash(), Experiment("Seal"),
                                  nullptr, nullptr));
  EXPECT_TRUE(service->LogExpMsg("after the key was removed"));
  KECGlpsLogInfo info;
  EXPECT_FALSE(service->LogExpSave("", &info));
  // The info handed over is that of the log.xml written all the same.
  EXPECT_EQ(info, glps_test::InfoOf(dir + "/log.xml"));
  EXPECT_FALSE(service->LogExpExit(&info));
  KECGlpsServices::Destroy();
  const KECGlpsAuditReport report = Verify(dir, keys_[dir]);
  EXPECT_EQ(report.Verdict(), Glps::eAuditNotIntact);
  EXPECT_THAT(Kinds(report.m_seal, true), Contains(Glps::eAuditSealLogXmlNotCovered));
}

TEST_F(SealedLog, SettingUpIsRefusedWhereItWouldLoseSomething) {
  const std::string dir = NewLog("exp");
  std::string key, error;
  EXPECT_FALSE(KECGlpsSeal::Init(dir, &key, &error));
  EXPECT_THAT(error, ::testing::HasSubstr("sealed already"));

  // A log that a host holds open.
  const std::string open = NewLog("open", false);
  KECGlpsServices* service = KECGlpsServices::Instance();
  ASSERT_TRUE(service->LogExpInit(open, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                  Experiment("Seal"), nullptr, nullptr));
  EXPECT_FALSE(KECGlpsSeal::Init(open, &key, &error));
  EXPECT_THAT(error, ::testing::HasSubstr("another writer"));
  EXPECT_FALSE(KECGlpsSeal::IsSealed(open));
  KECGlpsLogInfo info;
  EXPECT_TRUE(service->LogExpExit(&info));
  KECGlpsServices::Destroy();
  // Once the host let it go, an existing log is sealed as it is: seal 0 covers its log.xml.
  ASSERT_TRUE(KECGlpsSeal::Init(open, &key, &error)) << error;
  EXPECT_EQ(Verify(open, key).Verdict(), Glps::eAuditIntact);

  EXPECT_FALSE(KECGlpsSeal::Init(root_ / "missing", &key, &error));
  // A setup cut short before it stored its key is set up again.
  const std::string cut = NewLog("cut");
  ASSERT_EQ(unlink((cut + "/" + KECGlpsSeal::KeyFileName()).c_str()), 0);
  EXPECT_TRUE(KECGlpsSeal::Init(cut, &key, &error)) << error;
}

// A seal costs the save one append to the seal file and the key's two slots, no more.
TEST_F(SealedLog, ASealIsOneWriteAndTheKeysTwoSlots) {
  struct Counts {
    int writes = 0;
    int syncs = 0;
  };
  static Counts counts;
  const auto countSave = [&](const std::string& dir) {
    KECGlpsServices* service = KECGlpsServices::Instance();
    EXPECT_TRUE(service->LogExpInit(dir, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                    Experiment("Seal"), nullptr, nullptr));
    EXPECT_TRUE(service->LogExpMsg("one entry"));
    glps::platform::SysCalls& calls = glps::platform::CurrentSysCalls();
    counts = Counts();
    calls.write = [](int fd, const void* buffer, size_t count) {
      ++counts.writes;
      return ::write(fd, buffer, count);
    };
    calls.fsync = [](int fd) {
      ++counts.syncs;
      return ::fsync(fd);
    };
    calls.fdatasync = [](int fd) {
      ++counts.syncs;
      return ::fdatasync(fd);
    };
    KECGlpsLogInfo info;
    EXPECT_TRUE(service->LogExpSave("", &info));
    glps::platform::RestoreSysCalls();
    const Counts result = counts;
    KECGlpsLogInfo ignored;
    service->LogExpExit(&ignored);
    KECGlpsServices::Destroy();
    return result;
  };
  const Counts plain = countSave(NewLog("plain", false));
  const Counts sealed = countSave(NewLog("sealed"));
  EXPECT_EQ(sealed.writes - plain.writes, 3);
  EXPECT_EQ(sealed.syncs - plain.syncs, 3);
}

}  // namespace
