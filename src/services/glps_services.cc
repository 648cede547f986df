// SPDX-License-Identifier: Apache-2.0
#include "glps/services.h"

#include <cstdlib>
#include <mutex>

#include "glps/host/services.h"
#include "records/log_status_data.h"
#include "session/log_session.h"

namespace {

const unsigned kTextProductTitle = 10050;
const unsigned kTextLogName = 18630;
const unsigned kTextTamperTitle = 18631;
const unsigned kTextExtraNote = 18635;
const unsigned kTextStart = 18701;
const unsigned kTextExit = 18702;

const std::int32_t kLowestAcceptedVersion = 400;

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

// Why `operation` failed: what the session noted (taking it), or `what` when it noted nothing or
// there is no session.
KECGlpsLogError Failure(const char* operation, KECGlpsLogSession* session, const std::string& what,
                        Glps::ELogError code = Glps::eErrorNone) {
  auto data = std::make_shared<KECGlpsLogError::Data>();
  data->operation = operation;
  data->code = code;
  KECGlpsLogSession::Failure noted;
  if (session != nullptr) noted = session->TakeFailure();
  if (!noted.IsSet()) {
    data->what = what;
    return KECGlpsLogError(std::move(data));
  }
  data->what = noted.what;
  data->file = noted.file;
  if (noted.system.IsSet()) {
    data->systemError = noted.system.error;
    data->systemReason = noted.system.reason;
    if (data->file.empty()) data->file = noted.system.name;
  }
  return KECGlpsLogError(std::move(data));
}

// Why an opening failed: the log cannot be used, for the reason the opening found.
KECGlpsLogError UnusableFailure(const char* operation, const KECGlpsLogOpening::Data& opening,
                                Glps::ELogError code) {
  auto data = std::make_shared<KECGlpsLogError::Data>();
  data->operation = operation;
  data->code = code;
  data->what = "the log cannot be used";
  data->file = opening.directory;
  data->systemError = opening.systemError;
  data->systemReason = opening.reason;
  return KECGlpsLogError(std::move(data));
}

// The opening `opening` with `change` made to a copy of it: the descriptions handed out never
// change.
template <class Change>
void ChangeOpening(std::shared_ptr<const KECGlpsLogOpening::Data>* opening, Change change) {
  auto changed = std::make_shared<KECGlpsLogOpening::Data>(**opening);
  change(changed.get());
  *opening = std::move(changed);
}

// Appends the prefix of a message entry to `prefix`: the session's next message number (none
// without a session), then with `dateTime` the date and the time of the host's master clock, then
// with `user` the user's login name, each followed by two blanks.
void AppendMessagePrefix(std::string* prefix, KECGlpsLogSession* session, bool dateTime,
                         bool user) {
  if (session != nullptr) {
    *prefix += Gen::convert2str(session->GetNextIndex());
    *prefix += Glps::g_strSeparator;
  }
  std::string element;
  if (dateTime) {
    KCGenTime time(false);
    KCTimeMasterClock::Instance()->GetTimeStamp(&time, false);
    time.DateString(&element);
    *prefix += element;
    *prefix += Glps::g_strSeparator;
    time.TimeString(&element, false);
    *prefix += element;
    *prefix += Glps::g_strSeparator;
  }
  if (user) {
    KCGenUserInfo::Instance()->GetCurrentUserName(&element);
    *prefix += element;
    *prefix += Glps::g_strSeparator;
  }
}

// One entry of a log (a message, a crash or tamper entry, the closing lines), composed of the HTML
// of its report items and written into the log's current document with one write. The document's
// bytes are those of the items written one after the other; an item with empty HTML adds nothing.
// A write that fails part-way leaves a partial entry at the end of the document, like a crash
// during the write: a tail the log does not vouch for until the next save.
//
// Made on the caller's stack under the service's mutex.
class Entry {
 public:
  Entry() = default;
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

  Entry& operator<<(const KCRptReportItem& item) {
    m_strHtml += item.GetHtml();
    return *this;
  }

  // Adds the message prefix (AppendMessagePrefix) as a plain text item; `session` is the log whose
  // number it takes.
  Entry& AddPrefix(KECGlpsLogSession* session) {
    std::string prefix;
    AppendMessagePrefix(&prefix, session, true, true);
    return *this << KCRptRepItNormal(prefix, false, false, false);
  }

  // Writes the entry into the session's current document. Nothing to write (an empty entry, or no
  // session) counts as success.
  bool WriteTo(KECGlpsLogSession* session) const {
    if (m_strHtml.empty() || session == nullptr) return true;
    return session->WriteText(m_strHtml);
  }

 private:
  std::string m_strHtml;  // the HTML of the items added so far
};

}  // namespace

std::unique_ptr<KECGlpsServices> KECGlpsServices::ms_pInstance;

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
    std::unique_ptr<KECGlpsServices> instance(new KECGlpsServices());
    KCGenCryptUtils::Instance()->InitCrypto();
    ms_pInstance = std::move(instance);
  }
  return ms_pInstance.get();
}

void KECGlpsServices::Destroy() {
  const auto serialised = Serialise();
  ms_pInstance.reset();
}

KECGlpsServices::KECGlpsServices()
    : m_bGlp(false),
      m_pOpeningApp(std::make_shared<const KECGlpsLogOpening::Data>()),
      m_pOpeningExp(std::make_shared<const KECGlpsLogOpening::Data>()) {}

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
  AppendMessagePrefix(&prefix, session, dateTime, user);
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
  m_pOpeningApp = std::make_shared<const KECGlpsLogOpening::Data>(m_pLogApp->GetOpening());
  m_errorApp = KECGlpsLogError();
  LogAppMsg(Txts::GetString(kTextStart, GenerateProductStrings()));
  if (m_pLogApp->IsValid()) return true;
  m_pLogApp->TakeFailure();
  m_errorApp = UnusableFailure("LogAppInit", *m_pOpeningApp, Glps::eErrorNone);
  return false;
}

bool KECGlpsServices::LogAppMsg(const std::string& message) {
  const auto serialised = Serialise();
  // Without a log nothing is written, and no message number is taken.
  if (!AppLogAllowed() || message.empty() || m_pLogApp == nullptr) return true;
  Entry entry;
  entry.AddPrefix(m_pLogApp.get())
      << KCRptRepItNormal(message, false, false, false) << KCRptRepItNewLine(1);
  if (entry.WriteTo(m_pLogApp.get())) return true;
  m_errorApp = Failure("LogAppMsg", m_pLogApp.get(), "the message could not be written");
  return false;
}

bool KECGlpsServices::LogAppReportItem(const KCRptReportItem& item) {
  const auto serialised = Serialise();
  const std::string html = item.GetHtml();
  if (html.empty() || m_pLogApp == nullptr) return true;
  if (m_pLogApp->WriteText(html)) return true;
  m_errorApp = Failure("LogAppReportItem", m_pLogApp.get(), "the item could not be written");
  return false;
}

bool KECGlpsServices::LogAppExit(KECGlpsLogInfo* info) {
  const auto serialised = Serialise();
  if (m_pLogApp == nullptr) {
    m_errorApp = Failure("LogAppExit", nullptr, "no application log is open");
    return false;
  }
  {
    // The exit message (while the right is granted), then the closing lines, as one entry.
    Entry entry;
    if (AppLogAllowed()) {
      entry.AddPrefix(m_pLogApp.get())
          << KCRptRepItNormal(Txts::GetString(kTextExit, GenerateProductStrings()), false, false,
                              false)
          << KCRptRepItNewLine(1);
    }
    entry << KCRptRepItNewLine(1) << KCRptRepItHorizontalLine(3, false) << KCRptRepItNewLine(1);
    entry.WriteTo(m_pLogApp.get());
  }
  // The save's failure is the one the host is told of, not the closing lines'.
  m_pLogApp->TakeFailure();
  const bool saved = m_pLogApp->Close();
  if (!saved) m_errorApp = Failure("LogAppExit", m_pLogApp.get(), "the log could not be saved");
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
  if (m_pLogApp != nullptr && m_pLogApp->Export(directory)) return true;
  m_errorApp = Failure("ExportLogApp", m_pLogApp.get(), "no application log is open");
  return false;
}

bool KECGlpsServices::IsLogAppTampered() const {
  const auto serialised = Serialise();
  return m_pLogApp != nullptr && m_pLogApp->IsTampered();
}

KECGlpsLogOpening KECGlpsServices::GetLogAppOpening() const {
  const auto serialised = Serialise();
  return KECGlpsLogOpening(m_pOpeningApp);
}

KECGlpsLogError KECGlpsServices::GetLogAppLastError() const {
  const auto serialised = Serialise();
  return m_errorApp;
}

bool KECGlpsServices::IsLogAppOpen() const {
  const auto serialised = Serialise();
  return m_pLogApp != nullptr;
}

bool KECGlpsServices::IsLogAppRecording() const {
  const auto serialised = Serialise();
  return m_pLogApp != nullptr && m_pLogApp->IsValid() && AppLogAllowed();
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
    if (error != nullptr) *error = Glps::eErrorExperimentRefused;
    m_errorExp = Failure("LogExpInit", nullptr,
                         "the experiment is refused: made by version " +
                             std::to_string(experiment.m_nVersion) + ", below " +
                             std::to_string(kLowestAcceptedVersion),
                         Glps::eErrorExperimentRefused);
    return false;
  }
  m_pLogExp.reset();
  const std::string baseName =
      Txts::GetString(kTextLogName) + Glps::g_strHyphen + experiment.m_strExperiment;
  m_pLogExp.reset(new KECGlpsLogSession(directory, baseName, experiment.m_strExperiment, info));
  m_errorExp = KECGlpsLogError();
  const bool crashWritten = LogCrashImpl(false, crash);
  LogExpExtra(experiment);
  const bool tamperWritten = LogTamperedImpl(false, m_pLogExp->IsTampered(), crash.m_bCrashed);
  auto opening = std::make_shared<KECGlpsLogOpening::Data>(m_pLogExp->GetOpening());
  opening->crashReported = crashWritten;
  opening->tamperEntryWritten = tamperWritten;
  m_pOpeningExp = std::move(opening);
  if (opened != nullptr) *opened = true;
  if (!m_pLogExp->IsValid()) {
    if (error != nullptr) *error = Glps::eErrorLogUnusable;
    m_pLogExp->TakeFailure();
    m_errorExp = UnusableFailure("LogExpInit", *m_pOpeningExp, Glps::eErrorLogUnusable);
    return false;
  }
  return true;
}

bool KECGlpsServices::LogExpExit(KECGlpsLogInfo* info) {
  const auto serialised = Serialise();
  if (!m_bGlp) return true;
  m_bGlp = false;
  if (m_pLogExp == nullptr) {
    m_errorExp = Failure("LogExpExit", nullptr, "no experiment log is open");
    return false;
  }
  const bool saved = m_pLogExp->Close();
  if (!saved) m_errorExp = Failure("LogExpExit", m_pLogExp.get(), "the log could not be saved");
  CopyLogExpInfo(info);
  m_pLogExp.reset();
  // The log is closed either way; false tells the host that its last entries were not saved.
  return saved;
}

bool KECGlpsServices::LogExpSave(const std::string& /*unused*/, KECGlpsLogInfo* info) {
  const auto serialised = Serialise();
  if (!m_bGlp) return true;
  if (m_pLogExp == nullptr) {
    m_errorExp = Failure("LogExpSave", nullptr, "no experiment log is open");
    return false;
  }
  const bool saved = m_pLogExp->Save();
  if (!saved) m_errorExp = Failure("LogExpSave", m_pLogExp.get(), "the log could not be saved");
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
  if (!m_bGlp) return true;
  Entry entry;
  entry << KCRptRepItNormal(Txts::GetString(kTextExtraNote), false, false, false)
        << KCRptRepItNewLine(1);
  return entry.WriteTo(m_pLogExp.get());
}

bool KECGlpsServices::LogExpReportItem(const KCRptReportItem& item) {
  const auto serialised = Serialise();
  if (!m_bGlp) return true;
  const std::string html = item.GetHtml();
  if (html.empty() || m_pLogExp == nullptr) return true;
  if (m_pLogExp->WriteText(html)) return true;
  m_errorExp = Failure("LogExpReportItem", m_pLogExp.get(), "the item could not be written");
  return false;
}

bool KECGlpsServices::LogExpMsg(const std::string& message) {
  const auto serialised = Serialise();
  if (!m_bGlp || message.empty() || m_pLogExp == nullptr) return true;
  Entry entry;
  entry.AddPrefix(m_pLogExp.get())
      << KCRptRepItNormal(message, true, false, false) << KCRptRepItNewLine(1);
  if (entry.WriteTo(m_pLogExp.get())) return true;
  m_errorExp = Failure("LogExpMsg", m_pLogExp.get(), "the message could not be written");
  return false;
}

bool KECGlpsServices::LogExpMsgContext(const std::string& message, const std::string& context) {
  const auto serialised = Serialise();
  if (!m_bGlp || m_pLogExp == nullptr) return true;
  Entry entry;
  entry.AddPrefix(m_pLogExp.get()) << KCRptRepItNormal(message, false, false, false);
  if (!context.empty()) {
    const std::string quoted = Glps::g_strSeparator + Glps::g_strQuote + context + Glps::g_strQuote;
    entry << KCRptRepItNormal(Glps::g_strColon, false, false, false)
          << KCRptRepItNormal(quoted, true, false, false);
  }
  entry << KCRptRepItNewLine(1);
  if (entry.WriteTo(m_pLogExp.get())) return true;
  m_errorExp = Failure("LogExpMsgContext", m_pLogExp.get(), "the message could not be written");
  return false;
}

bool KECGlpsServices::LogExpLink(const std::string& fileName) {
  const auto serialised = Serialise();
  if (m_pLogExp != nullptr && m_pLogExp->AddLink(fileName)) return true;
  m_errorExp = Failure("LogExpLink", m_pLogExp.get(), "no experiment log is open");
  return false;
}

std::pair<std::string, std::int64_t> KECGlpsServices::GetLogExpLinkHashInfo(
    const std::string& fileName) const {
  const auto serialised = Serialise();
  if (m_pLogExp == nullptr) return {std::string(), 0};
  return m_pLogExp->GetLinkHashInfo(fileName);
}

bool KECGlpsServices::LogExpMetaData(const KECGlpsLogMetaData& meta) {
  const auto serialised = Serialise();
  if (m_pLogExp != nullptr && m_pLogExp->SetMetaData(meta)) return true;
  m_errorExp = Failure("LogExpMetaData", nullptr,
                       m_pLogExp ? "the log holds no metadata" : "no experiment log is open");
  return false;
}

bool KECGlpsServices::LogExpMetaDataName(const std::string& name) {
  const auto serialised = Serialise();
  if (m_pLogExp != nullptr && m_pLogExp->SetMetaDataName(name)) return true;
  m_errorExp = Failure("LogExpMetaDataName", nullptr,
                       m_pLogExp ? "the log holds no metadata" : "no experiment log is open");
  return false;
}

bool KECGlpsServices::LogExpMetaDataEntity(const KECGlpsLogMetaDataEntity& entity) {
  const auto serialised = Serialise();
  if (m_pLogExp != nullptr && m_pLogExp->AddMetaDataEntity(entity)) return true;
  m_errorExp =
      Failure("LogExpMetaDataEntity", nullptr,
              m_pLogExp ? "no document is open to hold the entity" : "no experiment log is open");
  return false;
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
  if (!complete) {
    m_errorExp = Failure("GetLogExpMetaDataEntity", m_pLogExp.get(), "no experiment log is open");
  }
  if (entities != nullptr) *entities = std::move(found);
  return complete;
}

bool KECGlpsServices::ClearLogExp() const {
  const auto serialised = Serialise();
  if (m_pLogExp == nullptr) {
    m_errorExp = Failure("ClearLogExp", nullptr, "no experiment log is open");
    return false;
  }
  const unsigned openings = m_pLogExp->GetOpenings();
  const bool cleared = m_pLogExp->Clear();
  if (!cleared)
    m_errorExp = Failure("ClearLogExp", m_pLogExp.get(), "the log could not be cleared");
  // A clear that went as far as deleting the files opened the log afresh.
  if (m_pLogExp->GetOpenings() != openings) {
    m_pOpeningExp = std::make_shared<const KECGlpsLogOpening::Data>(m_pLogExp->GetOpening());
  }
  return cleared;
}

bool KECGlpsServices::ExportLogExp(const std::string& directory) const {
  const auto serialised = Serialise();
  if (m_pLogExp != nullptr && m_pLogExp->Export(directory)) return true;
  m_errorExp = Failure("ExportLogExp", m_pLogExp.get(), "no experiment log is open");
  return false;
}

KECGlpsLogOpening KECGlpsServices::GetLogExpOpening() const {
  const auto serialised = Serialise();
  return KECGlpsLogOpening(m_pOpeningExp);
}

KECGlpsLogError KECGlpsServices::GetLogExpLastError() const {
  const auto serialised = Serialise();
  return m_errorExp;
}

bool KECGlpsServices::IsLogExpOpen() const {
  const auto serialised = Serialise();
  return m_pLogExp != nullptr;
}

bool KECGlpsServices::IsLogExpRecording() const {
  const auto serialised = Serialise();
  return m_bGlp && m_pLogExp != nullptr && m_pLogExp->IsValid();
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
  const bool reported = LogCrashImpl(true, crash);
  if (reported && m_pLogApp != nullptr) {
    ChangeOpening(&m_pOpeningApp,
                  [](KECGlpsLogOpening::Data* data) { data->crashReported = true; });
  }
  return reported;
}

bool KECGlpsServices::LogExpCrash(const KECGlpsLogInfoCrash& crash) {
  return LogCrashImpl(false, crash);
}

bool KECGlpsServices::LogCrashImpl(bool appLog, const KECGlpsLogInfoCrash& crash) {
  if (!crash.m_bCrashed) return false;
  // The experiment log is written only while experiment logging is on.
  if (!appLog && !m_bGlp) return true;
  Entry entry;
  if (!crash.m_vLines.empty()) {
    entry << KCRptRepItNormal(crash.m_strText, false, false, false) << KCRptRepItNewLine(1);
    for (const std::string& line : crash.m_vLines) {
      entry << KCRptRepItNormal(Glps::g_strTab + line, false, false, false) << KCRptRepItNewLine(1);
    }
  }
  entry << KCRptRepItNewLine(1);
  entry.WriteTo(appLog ? m_pLogApp.get() : m_pLogExp.get());
  return true;
}

bool KECGlpsServices::LogAppTampered(bool tampered, bool crashed) {
  const auto serialised = Serialise();
  const bool written = LogTamperedImpl(true, tampered, crashed);
  if (written && m_pLogApp != nullptr) {
    ChangeOpening(&m_pOpeningApp,
                  [](KECGlpsLogOpening::Data* data) { data->tamperEntryWritten = true; });
  } else if (tampered && !crashed && m_pLogApp != nullptr) {
    m_errorApp =
        Failure("LogAppTampered", m_pLogApp.get(), "the tamper entry could not be written");
  }
  return written;
}

bool KECGlpsServices::LogExpTampered(bool tampered, bool crashed) {
  return LogTamperedImpl(false, tampered, crashed);
}

bool KECGlpsServices::LogTamperedImpl(bool appLog, bool tampered, bool crashed) {
  if (!tampered || crashed) return false;
  if (!appLog && !m_bGlp) return true;
  Entry entry;
  entry << KCRptRepItNewLine(1) << KCRptRepItTitle(Txts::GetString(kTextTamperTitle));
  return entry.WriteTo(appLog ? m_pLogApp.get() : m_pLogExp.get());
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
