// SPDX-License-Identifier: Apache-2.0
#include "support/seal_forger.h"

#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "crypto/md5_hash.h"
#include "crypto/seal_crypto.h"
#include "seal/seal_format.h"
#include "session/session_data_storage.h"

namespace glps_test {
namespace {

bool ReadAll(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::string Sha256OfFile(const std::string& path) {
  std::string bytes;
  if (!ReadAll(path, &bytes)) return std::string();
  glps::crypto::Sha256Hash hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.FinishText();
}

// The value of " NAME=" in a slot of the key file, up to the next blank.
std::string SlotField(const std::string& slot, const std::string& name) {
  const std::string key = " " + name + "=";
  const std::size_t at = slot.find(key);
  if (at == std::string::npos) return std::string();
  const std::size_t start = at + key.size();
  return slot.substr(start, slot.find_first_of(" \n", start) - start);
}

}  // namespace

std::string ForgeSeal(const std::string& dir, bool bind) {
  namespace seal = glps::seal;
  // The key file: "glps-seal-key 1 log=ID next=N key=HEX check=...", its first slot.
  std::string keyFile;
  if (!ReadAll(dir + "/" + seal::kKeyFileName, &keyFile)) return "no key file";
  const std::string slot = keyFile.substr(0, keyFile.find('\n') + 1);
  const std::string logId = SlotField(slot, "log");
  const std::string next = SlotField(slot, "next");
  glps::crypto::SecretKey key;
  if (logId.empty() || next.empty() || !seal::ParseVerificationKey(SlotField(slot, "key"), &key)) {
    return "the key file's first slot cannot be read";
  }

  // What the seals so far commit to: every seal line folded in file order.
  std::string sealFile;
  if (!ReadAll(dir + "/" + seal::kSealFileName, &sealFile)) return "no seal file";
  seal::SealState before;
  std::size_t start = sealFile.find('\n') + 1;
  for (std::size_t end; (end = sealFile.find('\n', start)) != std::string::npos; start = end + 1) {
    seal::SealLine line;
    if (seal::ParseSealLine(sealFile.substr(start, end - start), &line, nullptr)) {
      seal::FoldSeal(line, &before);
    }
  }

  // The log as it lies: log.xml's info, header and records; linked files hashed as they are.
  KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
  if (!storage.Load()) return "log.xml does not load";
  std::string logXml;
  ReadAll(dir + "/log.xml", &logXml);
  const std::vector<KECGlpsFileManagerData>& records = *storage.GetFileData();
  std::map<std::string, std::string> links;
  for (const KECGlpsFileManagerData& record : records) {
    if (record.m_eType == Glps::FileLink) {
      links[record.m_strFileName] = Sha256OfFile(dir + "/" + record.m_strFileName);
    }
  }

  seal::SealLine line;
  line.number = std::stoull(next);
  line.time = seal::TimeNow();
  line.logXml.m_strLogHash = glps::crypto::Sha256Text(logXml.data(), logXml.size());
  line.logXml.m_nLogSize = static_cast<std::int64_t>(logXml.size());
  line.bound = bind;
  if (bind) line.binding = seal::BindingOf(storage.GetHeader().get(), records);
  seal::SetChanges(before, seal::StateOfRecords(records, links), &line);
  line.mac = seal::MacOf(key, logId, seal::SealText(line));

  // Appended after the last whole line.
  sealFile.resize(start);
  sealFile += seal::SealLineText(line) + "\n";
  std::ofstream out(dir + "/" + seal::kSealFileName, std::ios::binary | std::ios::trunc);
  out << sealFile;
  return out ? std::string() : "the seal file cannot be written";
}

}  // namespace glps_test
