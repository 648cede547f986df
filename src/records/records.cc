// SPDX-License-Identifier: Apache-2.0
#include "glps/records.h"

namespace Glps {

// Initialised at library load in this order: the no-log-info value first.
const std::pair<std::string, std::int64_t> g_infoHashInvalid{std::string(), 0};

const std::string g_strQuote = "'";
const std::string g_strColon = ":";
const std::string g_strSpace = " ";
const std::string g_strDot = ".";
const std::string g_strComma = ",";
const std::string g_strHyphen = "-";
const std::string g_strSeparator = "  ";
const std::string g_strBackslash = "\\";
const std::string g_strAndMore = " ...";
const std::string g_strDelimiter = ", ";
const std::string g_strTab = "     ";

}  // namespace Glps

KECGlpsLogInfo::KECGlpsLogInfo()
    : m_strLogHash(Glps::g_infoHashInvalid.first), m_nLogSize(Glps::g_infoHashInvalid.second) {}

bool KECGlpsLogInfo::IsValid() const {
  return !(m_strLogHash == Glps::g_infoHashInvalid.first &&
           m_nLogSize == Glps::g_infoHashInvalid.second);
}

bool operator==(const KECGlpsLogInfo& lhs, const KECGlpsLogInfo& rhs) {
  return lhs.m_strLogHash == rhs.m_strLogHash && lhs.m_nLogSize == rhs.m_nLogSize;
}

bool operator!=(const KECGlpsLogInfo& lhs, const KECGlpsLogInfo& rhs) { return !(lhs == rhs); }

KECGlpsLogMetaData::KECGlpsLogMetaData() : m_guidOriginal(false) {}

KECGlpsLogMetaDataEntity::KECGlpsLogMetaDataEntity()
    : m_eType(static_cast<Glps::ELogEntity>(0)), m_nHandle(0), m_guid(false) {}

KECGlpsLogMetaDataEntity::KECGlpsLogMetaDataEntity(Glps::ELogEntity type, int handle,
                                                   const KCGenGUID& guid)
    : m_eType(type), m_nHandle(handle), m_guid(guid) {}
