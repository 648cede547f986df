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
#include "support/records.h"

namespace {

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
  GLPS_FUZZ_CHECK(glps_test::HeaderDifference(*storage.GetHeader(), *reread.GetHeader()).empty());
  GLPS_FUZZ_CHECK(
      glps_test::MetaDataDifference(*storage.GetMetaData(), *reread.GetMetaData()).empty());
  GLPS_FUZZ_CHECK(
      glps_test::CatalogDifference(*storage.GetCatalog(), *reread.GetCatalog()).empty());
  GLPS_FUZZ_CHECK(glps_test::SameRecords(*storage.GetFileData(), *reread.GetFileData()));
  return 0;
}
