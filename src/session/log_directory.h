// SPDX-License-Identifier: Apache-2.0
// KECGlpsLogDirectory: the directory of one log, opened once, and the log's lock in it.
#ifndef GLPS_SESSION_LOG_DIRECTORY_H_
#define GLPS_SESSION_LOG_DIRECTORY_H_

#include <string>
#include <vector>

#include "filemanager/record_set.h"
#include "platform/platform.h"

// The directory a log lives in, opened once (a symbolic link as the last component of its path is
// refused), and the log's lock: the file "log.lock" in it, created with mode 0600 and held with a
// write lock for as long as this object lives. Only a process that can write the lock file can
// hold it, so the log's writers keep each other out while an account that can only read the
// directory can stop nobody. The lock file is not a file of the log: no record names it, and
// nothing here deletes, copies or writes it.
//
// Every later file operation of the log (the session's, its file manager's, its documents') is made
// relative to this directory (GetDirectory), so renaming the directory away or putting a link in
// its place cannot send one anywhere else.
//
// Owned by the log session; the directory itself is shared with the file manager and the
// documents, which may outlive it. One thread.
class KECGlpsLogDirectory {
 public:
  // The lock file's name: one of the names the log keeps besides its records (record_set.h).
  static constexpr const char* kLockFileName = glps::kLockFileName;

  // Opens the directory at `path` and tries to take the lock.
  explicit KECGlpsLogDirectory(const std::string& path);
  // Drops the lock.
  ~KECGlpsLogDirectory();
  KECGlpsLogDirectory(const KECGlpsLogDirectory&) = delete;
  KECGlpsLogDirectory& operator=(const KECGlpsLogDirectory&) = delete;

  const glps::platform::DirectoryPtr& GetDirectory() const { return m_ptrDirectory; }
  // The path of a file of the directory, for showing to the host; never used to reach the file.
  std::string MakePath(const std::string& fileName) const;

  // This object holds the log's lock. Tries to take it first when it does not yet (another writer
  // may have let it go).
  bool TakeLock();
  bool IsHeld() const { return m_hLock != glps::platform::kInvalidHandle; }

  // Nothing at all is under the name (when the system cannot tell, the name counts as taken).
  bool IsFree(const std::string& fileName) const;
  // A regular file is under the name.
  bool HasRegularFile(const std::string& fileName) const;
  // A regular file with more than one name is under the name: it is shared with another place and
  // must not be written.
  bool IsShared(const std::string& fileName) const;
  // Creates an empty file under the name, exclusively: false when anything is there.
  bool CreateNewFile(const std::string& fileName) const;
  // Replaces the file under the name with `contents` (platform::ReplaceFile).
  bool WriteFile(const std::string& fileName, const std::string& contents) const;
  // Removes the temporary files that saves of these names interrupted. Only the lock's holder.
  void RemoveLeftovers(const std::vector<std::string>& fileNames) const;

  // Copies the named files of this directory into the directory at `target`, opened the same way,
  // replacing files of the same names there. False, copying nothing, when the target cannot be
  // opened, is this very directory, or is a log directory whose lock another writer holds (the
  // lock is held while the files are copied); false when a name is not a plain file name or a copy
  // fails (the others are copied all the same). A copy never replaces a file with more than one
  // name or whose write bits are all clear.
  bool ExportTo(const std::string& target, const std::vector<std::string>& fileNames) const;

 private:
  // Never null.
  glps::platform::DirectoryPtr m_ptrDirectory;
  // The descriptor that holds the log's lock; kInvalidHandle while another holds it.
  glps::platform::FileHandle m_hLock;
};

#endif  // GLPS_SESSION_LOG_DIRECTORY_H_
