// SPDX-License-Identifier: Apache-2.0
// File records, file kinds and the plain-name check.
#include "filemanager/file_manager_data.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

TEST(FileManagerData, FreshRecordIsAnEmptyProtectedRecordOfNoKind) {
  const KECGlpsFileManagerData record;
  EXPECT_EQ(record.m_eType, Glps::FileNone);
  EXPECT_EQ(static_cast<int>(record.m_eType), 0);
  EXPECT_EQ(record.m_strFileName, "");
  EXPECT_EQ(record.m_strHash, "");
  EXPECT_EQ(record.m_nSize, 0);
  EXPECT_TRUE(record.m_bHashed);
}

TEST(FileManagerData, KindsKeepTheirStoredValues) {
  EXPECT_EQ(sizeof(Glps::EFileType), 4u);
  EXPECT_EQ(Glps::FileLog, 2);
  EXPECT_EQ(Glps::FileMetaData, 3);
  EXPECT_EQ(Glps::FileIndexMain, 4);
  EXPECT_EQ(Glps::FileIndexMenu, 5);
  EXPECT_EQ(Glps::FileLink, 6);
}

TEST(FileManagerData, PlainFileNames) {
  struct Case {
    std::string name;
    bool plain;
  };
  const std::vector<Case> cases = {
      {"GLP-Log-App-1.html", true},
      {"GLP-Log-App-1.xml", true},
      {".hidden", true},
      {"...", true},
      {"a b&c<d>.dat", true},
      {"\xE4\xF6\xFC.txt", true},
      {"", false},
      {".", false},
      {"..", false},
      {"/etc/passwd", false},
      {"../log.xml", false},
      {"sub/file", false},
      {"file/", false},
      {"..\\log.xml", false},
      {"a\\b", false},
      {std::string("a\0b", 3), false},
      {std::string("\0", 1), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(glps::IsPlainFileName(c.name), c.plain) << "'" << c.name << "'";
  }
}

}  // namespace
