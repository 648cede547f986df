// SPDX-License-Identifier: Apache-2.0
// Finding the logs below a directory, read-only, for the audit: KECGlpsAuditWalk walks a tree
// through the directories it opened and hands out each log directory open, so that verifying it
// (KECGlpsAudit::Verify) reads the very directory that was found, wherever names are changed
// meanwhile.
#ifndef GLPS_AUDIT_WALK_H_
#define GLPS_AUDIT_WALK_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "glps/audit.h"
#include "glps/export.h"

// A log directory held open: every file of the log is reached relative to it, so renaming the
// directory or putting a symbolic link in its place cannot make a verification read anything else.
// A value: copies share the one open directory, which closes with the last of them.
class GLPS_API KECGlpsAuditLogDirectory {
 public:
  // Not open.
  KECGlpsAuditLogDirectory();
  ~KECGlpsAuditLogDirectory();
  KECGlpsAuditLogDirectory(const KECGlpsAuditLogDirectory&);
  KECGlpsAuditLogDirectory& operator=(const KECGlpsAuditLogDirectory&);

  // Opens the directory at `path` (a symbolic link as its last component followed, as a path given
  // on a command line is). Not open on failure, the reason in `error` (may be null).
  static KECGlpsAuditLogDirectory Open(const std::string& path, std::string* error);

  bool IsOpen() const;
  // The path by which it was found or opened, for showing (never used to reach a file).
  const std::string& Path() const;

  // What the library holds of it.
  struct Opened;

 private:
  friend struct KECGlpsAuditLogDirectoryAccess;
  explicit KECGlpsAuditLogDirectory(std::shared_ptr<const Opened> opened);
  // Null when not open.
  std::shared_ptr<const Opened> m_pOpened;
};

namespace Glps {

// What the walk hands out.
enum EAuditWalkItem : std::int32_t {
  // A directory holding a log's files (log.xml of any kind, documents or sidecars named as the
  // library names them, the index pages, log.lock, log.seal, log.seal-key), or one of the expected
  // logs: to be verified, also when it cannot be (no log.xml, a log.xml that is a link, ...).
  eAuditWalkLog = 0,
  // A directory at or below the root that cannot be read (permission denied, vanished or replaced
  // during the walk, an I/O error): whatever it holds is not verified.
  eAuditWalkUnreadable = 1,
  // An expected log that the walk did not find.
  eAuditWalkMissing = 2,
};

}  // namespace Glps

// One item of a walk. A plain value.
struct GLPS_API KECGlpsAuditWalkItem {
  Glps::EAuditWalkItem m_eKind = Glps::eAuditWalkLog;
  // The root as given joined with the names below it ("lab/group/Titration_7").
  std::string m_strPath;
  // Relative to the root, '/' between names; empty for the root itself.
  std::string m_strRelative;
  // Why a directory cannot be read, or an expected log was not found; empty for a log.
  std::string m_strReason;
  // A log's directory, open; not open otherwise.
  KECGlpsAuditLogDirectory m_directory;
};

// Walks the directory tree at a root, read-only, and hands out every log directory at or below it,
// every directory that cannot be read, and, at the end, every expected log that was not found.
// Each directory is opened relative to the one above it, never through a symbolic link, so the walk
// reads nothing outside the root, and each log is handed out open: verified through that
// descriptor, it is the directory the walk found. Symbolic links are not followed; a directory's
// names are visited in byte order, a directory before what is below it. Memory and time per
// directory do not grow with its depth (a tree as deep as the file system allows is walked with a
// bounded number of open descriptors), and a file system mounted within itself is not walked twice.
// Owned by its caller; one thread at a time. Holds up to about 70 descriptors while it walks;
// each log handed out holds one more until its last copy goes.
class GLPS_API KECGlpsAuditWalk {
 public:
  // Walks `root` (a symbolic link as its last component followed, as a path given on a command
  // line is). `expected`: logs that must be found, as paths relative to the root ('/' between
  // names; "" or "." for the root itself): each is handed out as a log if it is found at all (even
  // without any of a log's files), else as missing.
  explicit KECGlpsAuditWalk(const std::string& root,
                            const std::vector<std::string>& expected = std::vector<std::string>());
  ~KECGlpsAuditWalk();
  KECGlpsAuditWalk(const KECGlpsAuditWalk&) = delete;
  KECGlpsAuditWalk& operator=(const KECGlpsAuditWalk&) = delete;

  // The next item; false when the walk is done.
  bool Next(KECGlpsAuditWalkItem* item);

 private:
  struct State;
  // Never null.
  std::unique_ptr<State> m_pState;
};

#endif  // GLPS_AUDIT_WALK_H_
