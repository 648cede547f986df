// SPDX-License-Identifier: Apache-2.0
#include "support/stored_records.h"

#include "crypto/md5_hash.h"
#include "session/session_data_storage.h"

namespace glps_test {

std::string Fingerprint(const std::string& bytes) {
  glps::crypto::Md5Hash hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.FingerprintText();
}

KECGlpsFileManagerData RecordOf(Glps::EFileType kind, const std::string& name,
                                const std::string& content, bool hashed) {
  KECGlpsFileManagerData record;
  record.m_eType = kind;
  record.m_strFileName = name;
  record.m_bHashed = hashed;
  if (hashed) {
    record.m_strHash = Fingerprint(content);
    record.m_nSize = static_cast<std::int64_t>(content.size());
  }
  return record;
}

std::vector<KECGlpsFileManagerData> LoadRecords(const std::string& dir, bool* loaded) {
  KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
  *loaded = storage.Load();
  return *storage.GetFileData();
}

bool EditRecords(const std::string& dir,
                 const std::function<void(std::vector<KECGlpsFileManagerData>*)>& edit) {
  KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
  if (!storage.Load()) return false;
  edit(storage.GetFileData().get());
  return storage.Save();
}

}  // namespace glps_test
