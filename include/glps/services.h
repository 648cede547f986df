// SPDX-License-Identifier: Apache-2.0
// KECGlpsServices: the library's one entry point for the host application.
#ifndef GLPS_SERVICES_H_
#define GLPS_SERVICES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "glps/export.h"
#include "glps/host/gen.h"
#include "glps/host/reports.h"
#include "glps/log_status.h"
#include "glps/records.h"

class KECGlpsLogSession;

// The audit-trail service: keeps at most one application log and at most one experiment log, each
// an open log session in a directory of its own, and writes the host's messages, report items,
// metadata, links, crash and tamper entries into them.
//
// A singleton: Instance() creates it on first use, Destroy() (or unloading the library) deletes it
// together with any log still open, without saving that log. It owns its two sessions.
//
// Threads: every operation, Instance() and Destroy() included, is serialised by one mutex of the
// service, so the host may call it from several threads (an instrument thread, a user-interface
// thread) at once; each call completes, whole, before the next begins, in whatever order the
// threads reach it. Instance() creates one service however many threads ask at once. What is not
// guaranteed: a pointer that Instance() returned must not be used once Destroy() may have run (on
// another thread, or at unload): the host ends its threads' use of the service before it destroys
// it. Calls made from inside a host callback on the same thread are allowed (the mutex is
// recursive). Failures are reported by false results; nothing throws.
//
// WHAT HAPPENED. Besides the results, the service tells the host what the last opening of each log
// found (GetLogAppOpening, GetLogExpOpening: new, intact, tampered with and how, or not usable and
// why), why the last call on each log that failed did (GetLogAppLastError, GetLogExpLastError:
// what, on which file, the system's reason), and whether each log records messages now
// (IsLogAppRecording, IsLogExpRecording). The error codes of LogExpInit are Glps::ELogError.
//
// THE LOG INFO. After every LogAppExit, LogExpSave and LogExpExit, keep the KECGlpsLogInfo handed
// over, WHATEVER THE RESULT, and give it to the next LogAppInit or LogExpInit of the same log. The
// info is always that of the log.xml on disk when the call returns (or the default info when there
// is none that can be read): a save that returns false may still have written log.xml (the
// document's fsync or its sidecar failed afterwards), and a log that could not be saved at all is
// handed the info of the log.xml that is there. A host that keeps its old info after a false
// result gets a false tamper entry at the next opening.
class GLPS_API KECGlpsServices {
 public:
  static KECGlpsServices* Instance();
  static void Destroy();

  KECGlpsServices(const KECGlpsServices&) = delete;
  KECGlpsServices& operator=(const KECGlpsServices&) = delete;

  // --- The application log ---------------------------------------------------------------------
  // Opens the application log in the host's application-log directory, verifying it against the
  // info the host received at the end of its previous run (the default info when none is known).
  bool LogAppInit(const KECGlpsLogInfo& info);
  bool LogAppMsg(const std::string& message);
  bool LogAppReportItem(const KCRptReportItem& item);
  // Writes the closing entries, saves and closes the application log; `info` (may be null) receives
  // the info to hand back to the next LogAppInit, also when the result is false. False when the
  // log could not be saved (it is closed all the same, and `info` describes the log.xml on disk).
  bool LogAppExit(KECGlpsLogInfo* info);
  const std::string GetLogAppFileName() const;
  bool ExportLogApp(const std::string& directory) const;
  bool IsLogAppTampered() const;
  // What the last LogAppInit found of the application log; kept after LogAppExit until the next
  // LogAppInit (no opening before the first).
  KECGlpsLogOpening GetLogAppOpening() const;
  // Why the last call on the application log that failed did; no failure when none has failed since
  // the last LogAppInit.
  KECGlpsLogError GetLogAppLastError() const;
  // The application log is open: LogAppInit opened it and no LogAppExit has closed it.
  bool IsLogAppOpen() const;
  // LogAppMsg writes its messages now: the application log is open and usable, and the
  // restriction service grants the right of the application log.
  bool IsLogAppRecording() const;

  // --- The experiment log ----------------------------------------------------------------------
  // Opens the experiment log in `directory`. `error` receives 0xE02A2712 (Glps::
  // eErrorExperimentRefused) when the experiment is refused and 0xE02A2711 (Glps::
  // eErrorLogUnusable) when the log cannot be used; `opened` is set once a session exists.
  // Neither is written otherwise, so the host initialises both. A refused experiment changes no
  // log: an experiment log opened before stays open, logging on, and is saved by the next
  // LogExpExit. A log that cannot be used writes nothing and is never started afresh over the files
  // of an existing one (for instance when its log.xml matches the info but cannot be loaded).
  bool LogExpInit(const std::string& directory, bool glp, const KECGlpsLogInfo& info,
                  const KECGlpsLogInfoCrash& crash, const KECGlpsLogInfoExperiment& experiment,
                  unsigned int* error, bool* opened);
  // Save and exit hand the info of the log.xml on disk to `info` (may be null), also when the save
  // failed and also for a log that could not be used: keep it whatever the result (see THE LOG
  // INFO above). False tells the host that its latest entries are not saved. Exit closes the log
  // either way.
  bool LogExpExit(KECGlpsLogInfo* info);
  bool LogExpSave(const std::string& unused, KECGlpsLogInfo* info);
  bool LogExpMsg(const std::string& message);
  bool LogExpMsgContext(const std::string& message, const std::string& context);
  bool LogExpReportItem(const KCRptReportItem& item);
  bool LogExpLink(const std::string& fileName);
  std::pair<std::string, std::int64_t> GetLogExpLinkHashInfo(const std::string& fileName) const;
  bool LogExpMetaData(const KECGlpsLogMetaData& meta);
  bool LogExpMetaDataName(const std::string& name);
  bool LogExpMetaDataEntity(const KECGlpsLogMetaDataEntity& entity);
  // The experiment log's metadata as last set; a default record when no experiment log is open.
  KECGlpsLogMetaData GetLogExpMetaData() const;
  // (document file name, GUID) of every entity of that type and handle that was logged, in every
  // document of the log. Empty without an experiment log, and also when the entities of a document
  // could not be read (a sidecar that cannot be read or no longer matches its record, no
  // descriptor left): the answer is never a part of the entities. Use the form below to tell that
  // from no entity.
  std::vector<std::pair<std::string, KCGenGUID>> GetLogExpMetaDataEntity(Glps::ELogEntity type,
                                                                         int handle) const;
  // The same into `entities` (may be null); true when every document's entities could be read.
  // False, with `entities` empty, without an experiment log or when the answer would be
  // incomplete.
  bool GetLogExpMetaDataEntity(Glps::ELogEntity type, int handle,
                               std::vector<std::pair<std::string, KCGenGUID>>* entities) const;
  bool ClearLogExp() const;
  bool ExportLogExp(const std::string& directory) const;
  const std::string GetLogExpFileName() const;
  const std::string GetLogExpDirectory() const;
  void SetMerCodingSchemeInfo(const std::pair<bool, std::int32_t>& info);
  std::pair<bool, std::int32_t> GetMerCodingSchemeInfo() const;
  // What the last opening of the experiment log found (by LogExpInit, or by ClearLogExp, which
  // opens the cleared log afresh); kept after LogExpExit until the next opening. A refused
  // LogExpInit, or one with `glp` false, opens nothing and changes it not.
  KECGlpsLogOpening GetLogExpOpening() const;
  // Why the last call on the experiment log that failed did (a refused LogExpInit included, with
  // its error code); no failure when none has failed since the last opening.
  KECGlpsLogError GetLogExpLastError() const;
  // An experiment log is open: LogExpInit opened it (usable or not) and no LogExpExit has closed
  // it.
  bool IsLogExpOpen() const;
  // LogExpMsg writes its messages now: experiment logging is on (the last LogExpInit had `glp`
  // set), and an experiment log is open and usable. False after a refused LogExpInit with no log
  // open before it, when LogExpMsg returns true and writes nothing.
  bool IsLogExpRecording() const;

  // --- Crash and tamper entries of the application log ------------------------------------------
  bool LogAppCrash(const KECGlpsLogInfoCrash& crash);
  bool LogAppTampered(bool tampered, bool crashed);

  // --- The running user ------------------------------------------------------------------------
  // True when the running user is one of the restriction service's users; otherwise
  // `administrators` (may be null) receives the administrators' names.
  bool IsCurrentUserOK(std::vector<std::string>* administrators) const;
  std::vector<std::string> GetCurrentRights() const;

 private:
  friend struct std::default_delete<KECGlpsServices>;

  KECGlpsServices();
  virtual ~KECGlpsServices();

  bool IsGlp() const;
  // The prefix of a message entry of the log of `type`: its next number, then the date and time,
  // then the user's login name, each followed by two blanks. Entries compose the same prefix in a
  // storage of their own; this form stays part of the library's binary interface.
  std::string GenerateMessagePrefix(Glps::IndexType type, bool dateTime, bool user) const;
  std::vector<std::string> GenerateProductStrings() const;
  bool CopyLogExpInfo(KECGlpsLogInfo* info) const;
  bool LogExpExtra(const KECGlpsLogInfoExperiment& experiment);
  bool LogExpCrash(const KECGlpsLogInfoCrash& crash);
  bool LogCrashImpl(bool appLog, const KECGlpsLogInfoCrash& crash);
  bool LogExpTampered(bool tampered, bool crashed);
  bool LogTamperedImpl(bool appLog, bool tampered, bool crashed);

  // The one instance; null before Instance() and after Destroy().
  static std::unique_ptr<KECGlpsServices> ms_pInstance;

  // Experiment logging is switched on: set by LogExpInit, cleared by LogExpExit.
  bool m_bGlp;
  std::unique_ptr<KECGlpsLogSession> m_pLogApp;  // null when the application log is not open
  std::unique_ptr<KECGlpsLogSession> m_pLogExp;  // null when no experiment log is open
  // What the last opening of each log found; never null.
  mutable std::shared_ptr<const KECGlpsLogOpening::Data> m_pOpeningApp;
  mutable std::shared_ptr<const KECGlpsLogOpening::Data> m_pOpeningExp;
  // Why the last call on each log that failed did.
  mutable KECGlpsLogError m_errorApp;
  mutable KECGlpsLogError m_errorExp;
};

#endif  // GLPS_SERVICES_H_
