// SPDX-License-Identifier: Apache-2.0
#include "glps/records.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LogInfo, DefaultIsTheNoLogInfoValueAndInvalid) {
  const KECGlpsLogInfo info;
  EXPECT_EQ(info.m_strLogHash, Glps::g_infoHashInvalid.first);
  EXPECT_EQ(info.m_nLogSize, Glps::g_infoHashInvalid.second);
  EXPECT_EQ(Glps::g_infoHashInvalid.first, "");
  EXPECT_EQ(Glps::g_infoHashInvalid.second, 0);
  EXPECT_FALSE(info.IsValid());
}

TEST(LogInfo, ValidityAndEquality) {
  struct Case {
    std::string hash;
    std::int64_t size;
    bool valid;
  };
  const Case cases[] = {{"", 0, false}, {"", 1, true}, {"abc", 0, true}, {"abc", -1, true}};
  for (const Case& c : cases) {
    KECGlpsLogInfo info;
    info.m_strLogHash = c.hash;
    info.m_nLogSize = c.size;
    EXPECT_EQ(info.IsValid(), c.valid) << c.hash << " " << c.size;
  }

  KECGlpsLogInfo a;
  a.m_strLogHash = "AbC=";
  a.m_nLogSize = 5;
  KECGlpsLogInfo b = a;
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a != b);
  b.m_strLogHash = "abc=";  // differs in letter case only
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a != b);
  b = a;
  b.m_nLogSize = 6;
  EXPECT_TRUE(a != b);
}

TEST(Records, Defaults) {
  const KECGlpsLogInfoCrash crash;
  EXPECT_FALSE(crash.m_bCrashed);
  EXPECT_TRUE(crash.m_strText.empty());
  EXPECT_TRUE(crash.m_vLines.empty());

  const KECGlpsLogInfoExperiment experiment;
  EXPECT_EQ(experiment.m_nAux, 0);
  EXPECT_EQ(experiment.m_nVersion, 0);
  EXPECT_FALSE(experiment.m_bExtra);
  EXPECT_FALSE(experiment.m_bAux);

  const KECGlpsLogMetaData meta;
  EXPECT_TRUE(meta.m_guidOriginal.IsNull());
  EXPECT_TRUE(meta.m_strVersionOriginal.empty() && meta.m_strExpName.empty());

  const KECGlpsLogMetaDataEntity entity;
  EXPECT_EQ(entity.m_eType, 0);
  EXPECT_EQ(entity.m_nHandle, 0);
  EXPECT_TRUE(entity.m_guid.IsNull());

  const KECGlpsLogCatalog catalog;
  EXPECT_EQ(catalog.m_lNextIndex, 0);
  EXPECT_EQ(catalog.m_merCodingSchemeInfo, std::make_pair(true, -1));

  const KECGlpsLogHeader header;
  EXPECT_EQ(header.m_eContentType, 0);
  EXPECT_EQ(header.m_usContentVersion, 0);
  EXPECT_TRUE(header.m_tmCreation.IsNull());
  EXPECT_TRUE(header.m_guid.IsNull());
}

TEST(Records, CopiesKeepEveryField) {
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = "exp";
  experiment.m_nAux = -7;
  experiment.m_nVersion = 410;
  experiment.m_bExtra = true;
  experiment.m_bAux = true;
  const KECGlpsLogInfoExperiment copy = experiment;
  EXPECT_EQ(copy.m_strExperiment, "exp");
  EXPECT_EQ(copy.m_nAux, -7);
  EXPECT_EQ(copy.m_nVersion, 410);
  EXPECT_TRUE(copy.m_bExtra);
  EXPECT_TRUE(copy.m_bAux);

  const KCGenGUID guid("{D15149F8-F127-4781-B1F6-3C762D712E15}");
  const KECGlpsLogMetaDataEntity entity(static_cast<Glps::ELogEntity>(7), -3, guid);
  KECGlpsLogMetaDataEntity assigned;
  assigned = entity;
  EXPECT_EQ(assigned.m_eType, 7);
  EXPECT_EQ(assigned.m_nHandle, -3);
  EXPECT_EQ(assigned.m_guid, guid);

  KECGlpsLogCatalog catalog;
  catalog.m_lNextIndex = 12;
  catalog.m_merCodingSchemeInfo = {false, 99};
  KECGlpsLogCatalog other;
  other = catalog;
  EXPECT_EQ(other.m_lNextIndex, 12);
  EXPECT_EQ(other.m_merCodingSchemeInfo, std::make_pair(false, 99));
}

TEST(Constants, SeparatorTexts) {
  EXPECT_EQ(Glps::g_strQuote, "'");
  EXPECT_EQ(Glps::g_strColon, ":");
  EXPECT_EQ(Glps::g_strSpace, " ");
  EXPECT_EQ(Glps::g_strDot, ".");
  EXPECT_EQ(Glps::g_strComma, ",");
  EXPECT_EQ(Glps::g_strHyphen, "-");
  EXPECT_EQ(Glps::g_strSeparator, "  ");
  EXPECT_EQ(Glps::g_strBackslash, "\\");
  EXPECT_EQ(Glps::g_strAndMore, " ...");
  EXPECT_EQ(Glps::g_strDelimiter, ", ");
  EXPECT_EQ(Glps::g_strTab, "     ");
  EXPECT_EQ(Glps::g_strTab.find('\t'), std::string::npos);
}

}  // namespace
