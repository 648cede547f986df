// SPDX-License-Identifier: Apache-2.0
// log.xml whose pointer elements are marked as references to objects read before: the archive
// reads nothing for such an element, which must fail the load rather than leave a member empty (a
// log opened on it could never be saved again).
#include <string>

#include "gtest/gtest.h"
#include "session/session_data_storage.h"
#include "support/temp_dir.h"

namespace {

using glps_test::ReadFileBytes;
using glps_test::TempDir;
using glps_test::WriteFileBytes;

// `text` with the element `name` (start tag to end tag) replaced by `replacement`.
std::string ReplaceElement(const std::string& text, const std::string& name,
                           const std::string& replacement) {
  const std::string::size_type start = text.find("<" + name);
  const std::string close = "</" + name + ">";
  const std::string::size_type stop = text.find(close, start);
  EXPECT_NE(start, std::string::npos) << name;
  EXPECT_NE(stop, std::string::npos) << name;
  if (start == std::string::npos || stop == std::string::npos) return text;
  return text.substr(0, start) + replacement + text.substr(stop + close.size());
}

TEST(StoragePointerTest, PointerMarkedAsEarlierObjectFailsAndLeavesNoMemberEmpty) {
  TempDir dir;
  const std::string path = dir / "log.xml";
  {
    KECGlpsLogSessionDataStorage saved(path);
    saved.GetCatalog()->m_lNextIndex = 41;
    saved.GetMetaData()->m_strExpName = "kept";
    KECGlpsFileManagerData record;
    record.m_strFileName = "GLP-Log-0001.html";
    saved.GetFileData()->push_back(record);
    ASSERT_TRUE(saved.Save());
  }
  const std::string text = ReadFileBytes(path);
  struct Case {
    const char* element;
    const char* classId;
  };
  for (const Case& c :
       {Case{"m_ptrMetaData", "3"}, Case{"m_ptrCatalog", "5"}, Case{"m_ptrFileData", "8"}}) {
    const std::string reference =
        std::string("<") + c.element + " class_id=\"" + c.classId +
        "\" tracking_level=\"1\" version=\"1\" object_id_reference=\"_0\"></" + c.element + ">";
    WriteFileBytes(path, ReplaceElement(text, c.element, reference));
    KECGlpsLogSessionDataStorage loaded(path);
    EXPECT_FALSE(loaded.Load()) << c.element;
    ASSERT_TRUE(loaded.GetHeader() && loaded.GetMetaData() && loaded.GetCatalog() &&
                loaded.GetFileData())
        << c.element;
    // What came before the broken element was read; the rest keeps its default.
    const std::string element = c.element;
    EXPECT_EQ(loaded.GetMetaData()->m_strExpName, element == "m_ptrMetaData" ? "" : "kept");
    EXPECT_EQ(loaded.GetCatalog()->m_lNextIndex, element == "m_ptrFileData" ? 41 : 0);
    EXPECT_TRUE(loaded.GetFileData()->empty());
    // A log opened on what was loaded can be saved.
    EXPECT_TRUE(loaded.Save()) << c.element;
  }
}

}  // namespace
