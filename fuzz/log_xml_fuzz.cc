// SPDX-License-Identifier: Apache-2.0
// Fuzz target: log.xml as KECGlpsLogSessionDataStorage::Load reads it.
//
// Properties checked beyond "no crash, no sanitizer report, no hang":
// - after any Load, successful or not, none of the four shared objects is missing;
// - whatever loads can be saved and loads back to equal objects (a log that opens must survive
//   its next save unchanged).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "session/session_data_storage.h"

namespace {

bool SameHeader(const KECGlpsLogHeader& a, const KECGlpsLogHeader& b) {
  return a.m_eContentType == b.m_eContentType && a.m_usContentVersion == b.m_usContentVersion &&
         a.m_tmCreation == b.m_tmCreation && a.m_strUserCreation == b.m_strUserCreation &&
         a.m_tmModification == b.m_tmModification &&
         a.m_strUserModification == b.m_strUserModification && a.m_strSource == b.m_strSource &&
         a.m_eDescription == b.m_eDescription && a.m_strDescription == b.m_strDescription &&
         a.m_guid == b.m_guid;
}

bool SameMetaData(const KECGlpsLogMetaData& a, const KECGlpsLogMetaData& b) {
  return a.m_strVersionOriginal == b.m_strVersionOriginal && a.m_guidOriginal == b.m_guidOriginal &&
         a.m_strExpName == b.m_strExpName;
}

bool SameRecords(const std::vector<KECGlpsFileManagerData>& a,
                 const std::vector<KECGlpsFileManagerData>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].m_eType != b[i].m_eType || a[i].m_strFileName != b[i].m_strFileName ||
        a[i].m_strHash != b[i].m_strHash || a[i].m_nSize != b[i].m_nSize ||
        a[i].m_bHashed != b[i].m_bHashed) {
      return false;
    }
  }
  return true;
}

void CheckComplete(const KECGlpsLogSessionDataStorage& storage) {
  GLPS_FUZZ_CHECK(storage.GetHeader() != nullptr);
  GLPS_FUZZ_CHECK(storage.GetMetaData() != nullptr);
  GLPS_FUZZ_CHECK(storage.GetCatalog() != nullptr);
  GLPS_FUZZ_CHECK(storage.GetFileData() != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static glps_fuzz::ScratchDir scratch;
  const std::string path = scratch / "log.xml";
  glps_fuzz::WriteFile(path, data, size);

  KECGlpsLogSessionDataStorage storage(path);
  const bool loaded = storage.Load();
  CheckComplete(storage);
  if (!loaded) return 0;

  const std::string copyPath = scratch / "saved.xml";
  KECGlpsLogSessionDataStorage saved(copyPath);
  saved.PutHeader(storage.GetHeader());
  saved.PutMetaData(storage.GetMetaData());
  saved.PutCatalog(storage.GetCatalog());
  saved.PutFileData(storage.GetFileData());
  GLPS_FUZZ_CHECK(saved.Save());

  KECGlpsLogSessionDataStorage reread(copyPath);
  GLPS_FUZZ_CHECK(reread.Load());
  GLPS_FUZZ_CHECK(SameHeader(*storage.GetHeader(), *reread.GetHeader()));
  GLPS_FUZZ_CHECK(SameMetaData(*storage.GetMetaData(), *reread.GetMetaData()));
  GLPS_FUZZ_CHECK(storage.GetCatalog()->m_lNextIndex == reread.GetCatalog()->m_lNextIndex);
  GLPS_FUZZ_CHECK(storage.GetCatalog()->m_merCodingSchemeInfo ==
                  reread.GetCatalog()->m_merCodingSchemeInfo);
  GLPS_FUZZ_CHECK(SameRecords(*storage.GetFileData(), *reread.GetFileData()));
  return 0;
}
