// SPDX-License-Identifier: Apache-2.0
#include "glps/services.h"

#include <cstdlib>
#include <mutex>

#include "glps/host/services.h"
#include "session/log_session.h"

namespace {

const unsigned kTextProductTitle = 10050;
const unsigned kTextLogName = 18630;
const unsigned kTextTamperTitle = 18631;
const unsigned kTextExtraNote = 18635;
const unsigned kTextStart = 18701;
const unsigned kTextExit = 18702;

const std::int32_t kLowestAcceptedVersion = 400;
const unsigned int kErrorRefusedExperiment = 0xE02A2712u;
const unsigned int kErrorUnusableLog = 0xE02A2711u;

bool AppLogAllowed() { return KECQrmsServices::Instance()->GetIsAllowed(Qrms::RightAppGlpLog); }

bool g_bDestroyRegistered = false;

// The mutex that serialises every call of the service, its creation and destruction included.
// Recursive: public operations call one another. Made on first use, before Destroy is registered
// to run at exit, so that it is still there when Destroy runs.
std::recursive_mutex& ServiceMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

std::unique_lock<std::recursive_mutex> Serialise() {
  return std::unique_lock<std::recursive_mutex>(ServiceMutex());
}

}  // namespace

KECGlpsServices* KECGlpsServices::ms_pInstance = nullptr;

KECGlpsServices* KECGlpsServices::Instance() {
  const auto serialised = Serialise();
  if (ms_pInstance == nullptr) {
    if (!g_bDestroyRegistered) {
      // The crypto singleton must exist before Destroy is registered, so that it is still there
      // when Destroy runs at unload (handlers run in reverse order of registration).
      KCGenCryptUtils::Instance();
      // Registered from this library, the handler runs when the library is unloaded (or at exit).
      g_bDestroyRegistered = std::atexit(&KECGlpsServices::Destroy) == 0;
    }
    KECGlpsServices* instance = new KECGlpsServices();
    KCGenCryptUtils::Instance()->InitCrypto();
    ms_pInstance = instance;
  }
  return ms_pInstance;
}

void KECGlpsServices::Destroy() {
  const auto serialised = Serialise();
  KECGlpsServices* instance = ms_pInstance;
  ms_pInstance = nullptr;
  delete instance;
}

KECGlpsServices::KECGlpsServices() : m_bGlp(false) {}

KECGlpsServices::~KECGlpsServices() {
  m_pLogExp.reset();
  m_pLogApp.reset();
  KCGenCryptUtils::Instance()->ExitCrypto();
}

bool KECGlpsServices::IsGlp() const { return m_bGlp; }

std::string KECGlpsServices::GenerateMessagePrefix(Glps::IndexType type, bool dateTime,
                                                   bool user) const {
  std::string prefix;
  KECGlpsLogSession* session = nullptr;
  if (type == Glps::eIndexApp) session = m_pLogApp.get();
  if (type == Glps::eIndexExp) session = m_pLogExp.get();
  if (session != nullptr)
    prefix += Gen::convert2str(session->GetNextIndex()) + Glps::g_strSeparator;
  if (dateTime) {
    KCGenTime time(false);
    KCTimeMasterClock::Instance()->GetTimeStamp(&time, false);
    std::string date;
    std::string timeOfDay;
    time.DateString(&date);
    time.TimeString(&timeOfDay, false);
    prefix += date + Glps::g_strSeparator + timeOfDay + Glps::g_strSeparator;
  }
  if (user) {
    std::string name;
    KCGenUserInfo::Instance()->GetCurrentUserName(&name);
    prefix += name + Glps::g_strSeparator;
  }
  return prefix;
}

std::vector<std::string> KECGlpsServices::GenerateProductStrings() const {
  return {Txts::GetString(kTextProductTitle), KCGenVersionInfo().GetProductVersionLong()};
}

// --- The application log ---------------------------------------------------------------------

bool KECGlpsServices::LogAppInit(const KECGlpsLogInfo& info) {
  const auto serialised = Serialise();
  if (!AppLogAllowed()) return true;
  m_pLogApp.reset();
  const std::string baseName = Txts::GetString(kTextLogName) + Glps::g_strHyphen + Qor::g_szKelvara;
  m_pLogApp.reset(
      new KECGlpsLogSession(KECBaseFilesAndLocations::GetDirectoryAppLog(), baseName, info));
  LogAppMsg(Txts::GetString(kTextStart, GenerateProductStrings()));
  return m_pLogApp->IsValid();
}

bool KECGlpsServices::LogAppMsg(const std::string& message) {
  const auto serialised = Serialise();
  if (!AppLogAllowed() || message.empty()) return true;
  const std::string prefix = GenerateMessagePrefix(Glps::eIndexApp, true, true);
  const bool a = LogAppReportItem(KCRptRepItNormal(prefix, false, false, false));
  const bool b = LogAppReportItem(KCRptRepItNormal(message, false, false, false));
  const bool c = LogAppReportItem(KCRptRepItNewLine(1));
  return a && b && c;
}

bool KECGlpsServices::LogAppReportItem(const KCRptReportItem& item) {
  const auto serialised = Serialise();
  const std::string html = item.GetHtml();
  if (html.empty() || m_pLogApp == nullptr) return true;
  return m_pLogApp->WriteText(html);
}

bool KECGlpsServices::LogAppExit(KECGlpsLogInfo* info) {
  const auto serialised = Serialise();
  if (m_pLogApp == nullptr) return false;
  LogAppMsg(Txts::GetString(kTextExit, GenerateProductStrings()));
  LogAppReportItem(KCRptRepItNewLine(1));
  LogAppReportItem(KCRptRepItHorizontalLine(3, false));
  LogAppReportItem(KCRptRepItNewLine(1));
  const bool saved = m_pLogApp->Close();
  if (info != nullptr) *info = m_pLogApp->GetLogInfo();
  m_pLogApp.reset();
  // The log is closed either way; false tells the host that its last entries were not saved.
  return saved;
}

const std::string KECGlpsServices::GetLogAppFileName() const {
  const auto serialised = Serialise();
  if (m_pLogApp == nullptr) return KCGenStringDefinesTraits<char>::ms_strEmpty;
  return m_pLogApp->GetLogFileName();
}

bool KECGlpsServices::ExportLogApp(const std::string& directory) const {
  const auto serialised = Serialise();
  return m_pLogApp != nullptr && m_pLogApp->Export(directory);
}

bool KECGlpsServices::IsLogAppTampered() const {
  const auto serialised = Serialise();
  return m_pLogApp != nullptr && m_pLogApp->IsTampered();
}

// --- The experiment log ------------------------------------------------------------------------

bool KECGlpsServices::LogExpInit(const std::string& directory, bool glp, const KECGlpsLogInfo& info,
                                 const KECGlpsLogInfoCrash& crash,
                                 const KECGlpsLogInfoExperiment& experiment, unsigned int* error,
                                 bool* opened) {
  const auto serialised = Serialise();
  m_bGlp = glp;
  if (!glp) return true;
  // A refused experiment leaves the log opened before as it is: open, with its unsaved entries,
  // saved by the host's next LogExpExit. The host learns of the refusal from the result and the
  // error.
  if (experiment.m_bExtra && experiment.m_nVersion < kLowestAcceptedVersion) {
    if (error != nullptr) *error = kErrorRefusedExperiment;
    return false;
  }
  m_pLogExp.reset();
  const std::string baseName =
      Txts::GetString(kTextLogName) + Glps::g_strHyphen + experiment.m_strExperiment;
  m_pLogExp.reset(new KECGlpsLogSession(directory, baseName, experiment.m_strExperiment, info));
  LogCrashImpl(false, crash);
  LogExpExtra(experiment);
  LogTamperedImpl(false, m_pLogExp->IsTampered(), crash.m_bCrashed);
  if (opened != nullptr) *opened = true;
  if (!m_pLogExp->IsValid()) {
    if (error != nullptr) *error = kErrorUnusableLog;
    return false;
  }
  return true;
}

bool KECGlpsServices::LogExpExit(KECGlpsLogInfo* info) {
  const auto serialised = Serialise();
  if (!m_bGlp) return true;
  m_bGlp = false;
  if (m_pLogExp == nullptr) return false;
  const bool saved = m_pLogExp->Close();
  CopyLogExpInfo(info);
  m_pLogExp.reset();
  // The log is closed either way; false tells the host that its last entries were not saved.
  return saved;
}

bool KECGlpsServices::LogExpSave(const std::string& /*unused*/, KECGlpsLogInfo* info) {
  const auto serialised = Serialise();
  if (!m_bGlp) return true;
  if (m_pLogExp == nullptr) return false;
  const bool saved = m_pLogExp->Save();
  // Also after a failed save: the info is that of the log.xml on disk, which the host keeps.
  CopyLogExpInfo(info);
  return saved;
}

bool KECGlpsServices::CopyLogExpInfo(KECGlpsLogInfo* info) const {
  if (m_pLogExp == nullptr || info == nullptr) return false;
  *info = m_pLogExp->GetLogInfo();
  return true;
}

bool KECGlpsServices::LogExpExtra(const KECGlpsLogInfoExperiment& experiment) {
  if (!experiment.m_bExtra) return false;
  LogExpReportItem(KCRptRepItNormal(Txts::GetString(kTextExtraNote), false, false, false));
  return LogExpReportItem(KCRptRepItNewLine(1));
}

bool KECGlpsServices::LogExpReportItem(const KCRptReportItem& item) {
  const auto serialised = Serialise();
  if (!m_bGlp) return true;
  const std::string html = item.GetHtml();
  if (html.empty() || m_pLogExp == nullptr) return true;
  return m_pLogExp->WriteText(html);
}

bool KECGlpsServices::LogExpMsg(const std::string& message) {
  const auto serialised = Serialise();
  if (!m_bGlp || message.empty()) return true;
  const std::string prefix = GenerateMessagePrefix(Glps::eIndexExp, true, true);
  const bool a = LogExpReportItem(KCRptRepItNormal(prefix, false, false, false));
  const bool b = LogExpReportItem(KCRptRepItNormal(message, true, false, false));
  const bool c = LogExpReportItem(KCRptRepItNewLine(1));
  return a && b && c;
}

bool KECGlpsServices::LogExpMsgContext(const std::string& message, const std::string& context) {
  const auto serialised = Serialise();
  if (!m_bGlp) return true;
  const std::string prefix = GenerateMessagePrefix(Glps::eIndexExp, true, true);
  bool result = LogExpReportItem(KCRptRepItNormal(prefix, false, false, false));
  result = LogExpReportItem(KCRptRepItNormal(message, false, false, false)) && result;
  if (!context.empty()) {
    result = LogExpReportItem(KCRptRepItNormal(Glps::g_strColon, false, false, false)) && result;
    const std::string quoted = Glps::g_strSeparator + Glps::g_strQuote + context + Glps::g_strQuote;
    result = LogExpReportItem(KCRptRepItNormal(quoted, true, false, false)) && result;
  }
  result = LogExpReportItem(KCRptRepItNewLine(1)) && result;
  return result;
}

bool KECGlpsServices::LogExpLink(const std::string& fileName) {
  const auto serialised = Serialise();
  return m_pLogExp != nullptr && m_pLogExp->AddLink(fileName);
}

std::pair<std::string, std::int64_t> KECGlpsServices::GetLogExpLinkHashInfo(
    const std::string& fileName) const {
  const auto serialised = Serialise();
  if (m_pLogExp == nullptr) return {std::string(), 0};
  return m_pLogExp->GetLinkHashInfo(fileName);
}

bool KECGlpsServices::LogExpMetaData(const KECGlpsLogMetaData& meta) {
  const auto serialised = Serialise();
  return m_pLogExp != nullptr && m_pLogExp->SetMetaData(meta);
}

bool KECGlpsServices::LogExpMetaDataName(const std::string& name) {
  const auto serialised = Serialise();
  return m_pLogExp != nullptr && m_pLogExp->SetMetaDataName(name);
}

bool KECGlpsServices::LogExpMetaDataEntity(const KECGlpsLogMetaDataEntity& entity) {
  const auto serialised = Serialise();
  return m_pLogExp != nullptr && m_pLogExp->AddMetaDataEntity(entity);
}

KECGlpsLogMetaData KECGlpsServices::GetLogExpMetaData() const {
  const auto serialised = Serialise();
  if (m_pLogExp == nullptr) return KECGlpsLogMetaData();
  return m_pLogExp->GetMetaData();
}

std::vector<std::pair<std::string, KCGenGUID>> KECGlpsServices::GetLogExpMetaDataEntity(
    Glps::ELogEntity type, int handle) const {
  std::vector<std::pair<std::string, KCGenGUID>> entities;
  GetLogExpMetaDataEntity(type, handle, &entities);
  return entities;
}

bool KECGlpsServices::GetLogExpMetaDataEntity(
    Glps::ELogEntity type, int handle,
    std::vector<std::pair<std::string, KCGenGUID>>* entities) const {
  const auto serialised = Serialise();
  std::vector<std::pair<std::string, KCGenGUID>> found;
  const bool complete =
      m_pLogExp != nullptr && m_pLogExp->GetMetaDataEntities(type, handle, &found);
  if (entities != nullptr) *entities = std::move(found);
  return complete;
}

bool KECGlpsServices::ClearLogExp() const {
  const auto serialised = Serialise();
  return m_pLogExp != nullptr && m_pLogExp->Clear();
}

bool KECGlpsServices::ExportLogExp(const std::string& directory) const {
  const auto serialised = Serialise();
  return m_pLogExp != nullptr && m_pLogExp->Export(directory);
}

const std::string KECGlpsServices::GetLogExpFileName() const {
  const auto serialised = Serialise();
  if (m_pLogExp == nullptr) return KCGenStringDefinesTraits<char>::ms_strEmpty;
  return m_pLogExp->GetLogFileName();
}

const std::string KECGlpsServices::GetLogExpDirectory() const {
  const auto serialised = Serialise();
  if (m_pLogExp == nullptr) return KCGenStringDefinesTraits<char>::ms_strEmpty;
  return m_pLogExp->GetDirectory();
}

void KECGlpsServices::SetMerCodingSchemeInfo(const std::pair<bool, std::int32_t>& info) {
  const auto serialised = Serialise();
  if (m_pLogExp != nullptr) m_pLogExp->SetMerCodingSchemeInfo(info);
}

std::pair<bool, std::int32_t> KECGlpsServices::GetMerCodingSchemeInfo() const {
  const auto serialised = Serialise();
  if (m_pLogExp == nullptr) return {true, -1};
  return m_pLogExp->GetMerCodingSchemeInfo();
}

// --- Crash and tamper entries -------------------------------------------------------------------

bool KECGlpsServices::LogAppCrash(const KECGlpsLogInfoCrash& crash) {
  const auto serialised = Serialise();
  return LogCrashImpl(true, crash);
}

bool KECGlpsServices::LogExpCrash(const KECGlpsLogInfoCrash& crash) {
  return LogCrashImpl(false, crash);
}

bool KECGlpsServices::LogCrashImpl(bool appLog, const KECGlpsLogInfoCrash& crash) {
  if (!crash.m_bCrashed) return false;
  const auto write = [this, appLog](const KCRptReportItem& item) {
    return appLog ? LogAppReportItem(item) : LogExpReportItem(item);
  };
  if (!crash.m_vLines.empty()) {
    write(KCRptRepItNormal(crash.m_strText, false, false, false));
    write(KCRptRepItNewLine(1));
    for (const std::string& line : crash.m_vLines) {
      write(KCRptRepItNormal(Glps::g_strTab + line, false, false, false));
      write(KCRptRepItNewLine(1));
    }
  }
  write(KCRptRepItNewLine(1));
  return true;
}

bool KECGlpsServices::LogAppTampered(bool tampered, bool crashed) {
  const auto serialised = Serialise();
  return LogTamperedImpl(true, tampered, crashed);
}

bool KECGlpsServices::LogExpTampered(bool tampered, bool crashed) {
  return LogTamperedImpl(false, tampered, crashed);
}

bool KECGlpsServices::LogTamperedImpl(bool appLog, bool tampered, bool crashed) {
  if (!tampered || crashed) return false;
  const auto write = [this, appLog](const KCRptReportItem& item) {
    return appLog ? LogAppReportItem(item) : LogExpReportItem(item);
  };
  const bool a = write(KCRptRepItNewLine(1));
  const bool b = write(KCRptRepItTitle(Txts::GetString(kTextTamperTitle)));
  return a && b;
}

// --- The running user ---------------------------------------------------------------------------

bool KECGlpsServices::IsCurrentUserOK(std::vector<std::string>* administrators) const {
  const auto serialised = Serialise();
  if (administrators != nullptr) administrators->clear();
  std::string login;
  KCGenUserInfo::Instance()->GetCurrentUserName(&login);
  const std::vector<KCRmsUserInfo> users = KECQrmsServices::Instance()->GetAllUsers();
  for (const KCRmsUserInfo& user : users) {
    if (user.GetUserNameA() == login) return true;
  }
  if (administrators != nullptr) {
    for (const KCRmsUserInfo& user : users) {
      if (!user.IsAdmin()) continue;
      std::string fullName;
      const std::string name = user.GetUserNameA();
      if (KCGenUserInfo::Instance()->GetFullUserName(name, &fullName) && !fullName.empty()) {
        administrators->push_back(fullName + " (" + name + ")");
      } else {
        administrators->push_back(name);
      }
    }
  }
  return false;
}

std::vector<std::string> KECGlpsServices::GetCurrentRights() const {
  const auto serialised = Serialise();
  std::string login;
  KCGenUserInfo::Instance()->GetCurrentUserName(&login);
  for (const KCRmsUserInfo& user : KECQrmsServices::Instance()->GetAllUsers()) {
    if (user.GetUserNameA() == login) {
      return KECQrmsServices::Instance()->GetUserEnabledRoleRestr(login);
    }
  }
  return {};
}
