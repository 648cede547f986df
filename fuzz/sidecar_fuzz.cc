// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the metadata sidecar of an HTML log document, as KECGlpsFileHtml reads it when the
// document is opened (LoadMetaData).
//
// Properties checked beyond "no crash, no sanitizer report, no hang": a sidecar that loads can be
// saved and loads back to the same entities in the same order.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/glps_file_html.h"
#include "fuzz_support.h"
#include "support/records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static glps_fuzz::ScratchDir scratch;
  const std::string document = scratch / "GLP-Log-0001.html";
  glps_fuzz::WriteFile(scratch / "GLP-Log-0001.xml", data, size);

  std::vector<KECGlpsFileHtmlMetaDataEntity> loaded;
  {
    // Opening an empty document against an empty record; the sidecar is read on the way.
    KECGlpsFileHtml html(document, "", 0, nullptr);
    if (!html.LoadMetaData()) return 0;
    loaded = html.GetMetaData().m_vEntity;
    GLPS_FUZZ_CHECK(html.SaveMetaData());
  }
  KECGlpsFileHtml reopened(document, "", 0, nullptr);
  GLPS_FUZZ_CHECK(reopened.LoadMetaData());
  GLPS_FUZZ_CHECK(glps_test::EntitiesDifference(loaded, reopened.GetMetaData().m_vEntity).empty());
  return 0;
}
