// SPDX-License-Identifier: Apache-2.0
// The one unit that makes the operating system's file calls for the library. Every system call the
// file classes, the file manager, the storage and the session need is made here; errno is read
// right at the call and turned into the plain results below, once. Nothing here throws.
//
// A log's files are reached through the log's Directory, opened once: every operation on a file is
// relative to that descriptor (openat, renameat, unlinkat, fstatat, never following a symbolic
// link in the file's name), so renaming the directory away or putting a link in its place cannot
// send an operation anywhere else. No file with more than one name, and no file whose write
// permission bits are all clear, is ever opened for writing, cut, extended, replaced or deleted,
// whoever runs the process; new files are always created exclusively.
//
// Tests replace the system calls underneath through platform_syscalls.h (fault injection).
#ifndef GLPS_PLATFORM_PLATFORM_H_
#define GLPS_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace glps {
namespace platform {

// Result of a read or a write: the call succeeded, and the number of bytes transferred.
using IoResult = std::pair<bool, std::uint32_t>;

using FileHandle = int;
constexpr FileHandle kInvalidHandle = -1;

// What the system says about one name in a directory, or about an open file; a symbolic link is
// never followed.
struct FileFacts {
  enum class Kind { kMissing, kRegular, kDirectory, kSymbolicLink, kOther, kUnknown };
  // kUnknown when the system could not tell (no permission to search, an I/O error).
  Kind kind = Kind::kMissing;
  // For a regular file; -1 otherwise.
  std::int64_t size = -1;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  // The number of names the file has; a file with more than one is shared with other places.
  std::uint64_t links = 0;
  // Its write permission bits are all clear: read-only for every user, root included.
  bool readOnly = false;
  // Its permission bits (mode & 07777); 0 when nothing was found.
  std::uint32_t permissions = 0;
  // Why a file could not be opened or examined: the system's error number (0 when none was given).
  int error = 0;

  bool IsRegular() const { return kind == Kind::kRegular; }
  // The same file (device and inode) as `other`; false unless both were found.
  bool SameFileAs(const FileFacts& other) const;
};

// A directory opened once, without following a symbolic link in the last component of its path.
// Every operation below on a file of the directory is relative to this descriptor. Shared (through
// DirectoryPtr) by whoever works in the directory: the log session, its file manager, its
// documents. A directory whose opening failed stays usable: every operation on it fails.
class Directory {
 public:
  ~Directory();
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  bool IsOpen() const { return m_hDirectory != kInvalidHandle; }
  FileHandle Handle() const { return m_hDirectory; }
  // The path as given, for the paths the library shows (never used to reach a file).
  const std::string& Path() const { return m_strPath; }
  // Path and name joined, for showing.
  std::string PathOf(const std::string& name) const;
  // The same directory (device and inode) as `other`; false unless both are open.
  bool SameAs(const Directory& other) const;

 private:
  friend std::shared_ptr<const Directory> OpenDirectory(const std::string& path, bool followLink);
  friend std::shared_ptr<const Directory> OpenParentDirectory(const std::string& path,
                                                              std::string* name);
  friend std::shared_ptr<const Directory> OpenDirectoryIn(const Directory* parent,
                                                          const std::string& name,
                                                          std::string shown, bool followLink,
                                                          int* error);
  friend std::shared_ptr<const Directory> DuplicateDirectory(const Directory& directory,
                                                             std::string shown);
  Directory(FileHandle handle, std::string path);

  const FileHandle m_hDirectory;
  const std::string m_strPath;
};
using DirectoryPtr = std::shared_ptr<const Directory>;

// Opens the directory at `path`; a symbolic link as its last component is refused unless
// `followLink`. Never null; not open on failure (an empty path included).
DirectoryPtr OpenDirectory(const std::string& path, bool followLink = false);
// Opens the directory that holds the file at `path` (every component of the directory's own path
// followed, as a path is) and gives the file's name in it. For callers that name a file by a path.
DirectoryPtr OpenParentDirectory(const std::string& path, std::string* name);

// Opens the directory `name` relative to `parent` (null: relative to the working directory, as a
// path is), shown as `shown`; a symbolic link as the last component of `name` is refused unless
// `followLink`. Never null; not open on failure, with the system's error number in `error` (may be
// null): ELOOP or ENOTDIR when a link or something else than a directory is under the name.
// OpenDirectoryIn(&child, "..", ...) opens a directory's parent.
DirectoryPtr OpenDirectoryIn(const Directory* parent, const std::string& name, std::string shown,
                             bool followLink, int* error);
// Another descriptor of the same open directory, shown as `shown`: whatever is renamed meanwhile,
// it is the directory `directory` has open. Not open on failure (of `directory` too).
DirectoryPtr DuplicateDirectory(const Directory& directory, std::string shown);

// A file named by its directory and its name there. Made from a path (implicitly: the path's parent
// directory is opened then) or from a directory and a name.
struct FileLocation {
  FileLocation(const std::string& path);  // NOLINT(runtime/explicit)
  FileLocation(const char* path);         // NOLINT(runtime/explicit)
  FileLocation(DirectoryPtr directory, std::string name);

  // For showing: the directory's path and the name.
  std::string Path() const { return directory->PathOf(name); }

  DirectoryPtr directory;  // never null
  std::string name;
};

// Why an opening for writing did not happen.
enum class OpenRefusal {
  kNone,
  kMissing,         // nothing under the name (when an existing file was asked for)
  kExists,          // something under the name (when a new file was asked for)
  kNotRegular,      // a symbolic link, a directory, a FIFO, ...
  kMultiplyLinked,  // the file has more than one name
  kReadOnly,        // the file's write permission bits are all clear
  kFailed,          // any other error
};

enum class OpenMode {
  kExisting,       // only a file that is there
  kNew,            // only a file created now, exclusively
  kExistingOrNew,  // the file that is there, or one created now, exclusively
};

// Opens a file of the directory for reading and writing, the position at 0, close-on-exec. Refused
// (kInvalidHandle, `refusal` saying why, may be null): anything but a regular file, a file with
// more than one name, a file whose write bits are all clear. A new file has mode 0644 less the
// umask. No lock is taken: a log's writers are kept apart by the log's lock (TakeLock).
FileHandle OpenForWriting(const Directory& directory, const std::string& name, OpenMode mode,
                          OpenRefusal* refusal = nullptr);

// Opens a file of the directory read-only, without updating its access time where the system
// allows it, never creating it; a symbolic link is not followed and a FIFO or device does not
// block. `facts` (may be null) receives what was found: for an opened regular file, the facts of
// the opened file; otherwise why there is none (kMissing, kSymbolicLink, kDirectory, kOther, or a
// regular file that could not be opened). kInvalidHandle unless a regular file was opened.
FileHandle OpenReadOnly(const Directory& directory, const std::string& name,
                        FileFacts* facts = nullptr);

// The facts of a name in the directory (no link followed). Returns facts.kind != kUnknown.
bool Stat(const Directory& directory, const std::string& name, FileFacts* facts);
// The facts of an open file; false when the system cannot tell.
bool Stat(FileHandle handle, FileFacts* facts);

// Closes the descriptor (and so drops any lock it holds). Does not flush. kInvalidHandle is
// ignored.
void Close(FileHandle handle);

// Reads up to `count` bytes at the current position. End of file is (true, 0).
IoResult Read(FileHandle handle, void* buffer, std::uint32_t count);

// Writes `count` bytes at the current position, continuing after partial writes until all bytes are
// written or an error occurs; the result counts the bytes actually written.
IoResult Write(FileHandle handle, const void* buffer, std::uint32_t count);

// Cuts or extends the file to `size` bytes and leaves the position at its end. A negative size
// fails.
bool Truncate(FileHandle handle, std::int64_t size);

// Moves the position to the absolute `offset`. A negative offset fails.
bool Seek(FileHandle handle, std::int64_t offset);

// The file's size, or -1 when it cannot be read.
std::int64_t Size(FileHandle handle);

// Makes the file's content durable (fsync).
bool Sync(FileHandle handle);

// Makes the file's data durable, with its size and whatever else reading the data back needs, but
// not its times (fdatasync): for a file appended to, where nothing else of its metadata matters.
bool SyncData(FileHandle handle);

// Replaces the file `name` of the directory with `contents` so that readers see either the old or
// the new file, never a mix: writes a temporary file ".<name>.tmp-XXXXXX" (created exclusively) in
// the directory, syncs it, renames it over the name and syncs the directory. A missing file is
// created (mode 0644 less the umask); an existing one keeps its permission bits. On failure before
// the rename the old file is left as it was and no temporary file remains. A failure to sync the
// directory after the rename also gives false: the new content is then in place but may not survive
// a crash; `inPlace` (may be null) tells whether the new content took the name.
// Refused (false, nothing written): an existing file whose write bits are all clear, or that has
// more than one name; anything but a regular file under the name, a symbolic link included (the
// link is neither followed nor replaced).
bool ReplaceFile(const Directory& directory, const std::string& name, const std::string& contents,
                 bool* inPlace = nullptr);
// ReplaceFile for a file that only its owner may read or write: the new file has mode 0600 whatever
// the umask and whatever mode the file it replaces had, and is never readable by anyone else while
// it is written.
bool ReplaceOwnerOnlyFile(const Directory& directory, const std::string& name,
                          const std::string& contents);

// Takes away every permission bit of group and others from the open file (fchmod); true when none
// is left, also when there was none to take.
bool MakeOwnerOnly(FileHandle handle);

// ReplaceFile in two steps, so that a caller can make other files durable between writing the new
// content and putting it in place, and the disk's work on them overlaps: Prepare writes the
// temporary file and starts writing it to disk without waiting; Commit waits until its content is
// durable, checks the name again, renames it over the name and syncs the directory. Refused, and
// failing, as ReplaceFile; a prepared file that is not committed is removed (by Commit when it
// fails, by Discard, or at destruction), so no temporary file remains after a failure.
//
// Owned by its caller, one replacement at a time; the directory must outlive the object.
class Replacement {
 public:
  Replacement() = default;
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Writes `contents` into a new temporary file of the directory (discarding one prepared before).
  // False, leaving nothing behind, when the name may not be replaced or the file cannot be written.
  bool Prepare(const Directory& directory, const std::string& name, const std::string& contents);
  bool IsPrepared() const { return m_hTemp != kInvalidHandle; }
  // Puts the prepared file in place durably. False when nothing is prepared or anything fails;
  // `inPlace` (may be null) tells whether the new content took the name (also when only the
  // directory's sync failed afterwards).
  bool Commit(bool* inPlace = nullptr);
  // Commit, with the data of `other` made durable first (SyncData), whatever happens to the
  // replacement; *otherSynced receives its result. The rename follows only once both syncs have
  // ended, so a file that names `other` takes its name only after `other` was made durable (or
  // failed to be, which the caller judges).
  bool CommitAfterSyncingWith(FileHandle other, bool* otherSynced, bool* inPlace = nullptr);
  // Removes the prepared file, if any.
  void Discard();

 private:
  // Both null or empty unless a file is prepared.
  const Directory* m_pDirectory = nullptr;
  std::string m_strName;
  std::string m_strTempName;
  FileHandle m_hTemp = kInvalidHandle;
};

// Reads the whole regular file `name` of the directory into `contents` (left unchanged on failure).
// False when it is a symbolic link or not a regular file, cannot be opened or read, or is larger
// than `maxSize` bytes. `facts` (may be null) receives what was found under the name: for a regular
// file that was opened, the facts of the opened file, so that they describe the bytes read.
bool ReadWholeFile(const Directory& directory, const std::string& name, std::string* contents,
                   std::int64_t maxSize = INT64_MAX, FileFacts* facts = nullptr);

// Copies the regular file `name` of `from` to `to`, replacing a file of the same name there as
// ReplaceFile does (refused in the same cases), streaming in chunks. False, leaving the target as
// it was and no temporary file, on any failure.
bool CopyFile(const Directory& from, const std::string& name, const Directory& to);

// Removes the name from the directory. True when it is gone (also when nothing was there). Refused:
// a directory, a regular file with more than one name, a regular file whose write bits are all
// clear. A symbolic link or other special file is removed itself, never what it points to.
bool DeleteFile(const Directory& directory, const std::string& name);

// Takes a write lock on the lock file `name` of the directory, tied to the returned descriptor: a
// second holder, in this process or another, fails until Close. With `create`, a missing lock file
// is created first (mode 0600, exclusively). Only a process that can write the file can take the
// lock, so a reader can never keep a writer out. The file is neither written nor deleted.
// kInvalidHandle when the lock is held elsewhere or cannot be had.
FileHandle TakeLock(const Directory& directory, const std::string& name, bool create);

// Removes, from the directory, the temporary files that an interrupted ReplaceFile or CopyFile of
// one of `names` left behind (".<name>.tmp-XXXXXX", regular files with one name whose write bits
// are not all clear). Only the holder of the directory's lock may call it: no replace of those
// names can be under way. Returns the number of files removed.
int RemoveLeftoverTempFiles(const Directory& directory, const std::vector<std::string>& names);

// The names in the directory, without "." and "..", in the order the system gives them. False, with
// the system's error number in `error`, when it cannot be listed.
bool ListNames(const Directory& directory, std::vector<std::string>* names, int* error);

// One name of a directory with what the listing says is under it.
struct DirectoryEntry {
  std::string name;
  // The listing's kind (no link followed), or, where the listing gives none, what fstatat finds:
  // kRegular, kDirectory, kSymbolicLink, kOther; kUnknown when neither can tell.
  FileFacts::Kind kind = FileFacts::Kind::kUnknown;
};

// The entries of the directory, without "." and "..", in the order the system gives them. False,
// with the system's error number in `error`, when it cannot be listed (the entries are then left as
// they were).
bool ListEntries(const Directory& directory, std::vector<DirectoryEntry>* entries, int* error);

// Path-based forms, for callers that name a file by a path: the path's parent directory is opened
// and the operation above made in it.
bool ReplaceFile(const std::string& path, const std::string& contents);
// ReplaceFile of the path's name with what `fill` writes into the temporary file (given at its
// start); `fill` returning false gives up, leaving the old file as it was.
bool ReplaceFileWith(const std::string& path, const std::function<bool(FileHandle)>& fill);
bool ReadWholeFile(const std::string& path, std::string* contents, std::int64_t maxSize = INT64_MAX,
                   FileFacts* facts = nullptr);

// A new file without a name (O_TMPFILE) in the system's temporary directory ($TMPDIR when it is an
// absolute path, else /tmp), open for reading and writing, mode 0600: no other process can open
// it, and it is gone when it is closed. Where the file system makes no nameless files, a file made
// there exclusively is unlinked at once. kInvalidHandle, with the system's error number in
// `error`, when none can be made.
FileHandle OpenPrivateTempFile(int* error);

// True when anything is at `path`: a file, a directory, a symbolic link (even one that points
// nowhere). Also true when the system cannot tell (for instance, no permission to search the
// directory), so that a name is never taken for free by mistake. False only when nothing is there.
bool PathExists(const std::string& path);
// The same for a name in a directory.
bool NameTaken(const Directory& directory, const std::string& name);

// --- Why an operation failed ---------------------------------------------------------------------
// The unit notes, for the calling thread, why the last of its operations that failed did: the
// system call and the system's error number, read once where the call returned, or the unit's own
// reason for refusing (a file with a second name, a read-only file, ...). A caller that describes a
// failure clears the note before the operation and reads it right after the operation failed, as
// one reads errno; nothing above this unit reads errno. A lookup whose failure is an answer (a name
// that is missing) notes nothing, and neither does the clean-up after a failure.
struct Failure {
  // The system call ("write", "renameat", ...) or the operation that refused; empty when nothing
  // was noted.
  std::string call;
  // The name concerned in its directory, or the path (cut at PATH_MAX - 1 bytes); empty for an
  // operation on a descriptor alone.
  std::string name;
  // The system's error number; 0 when the unit refused on its own.
  int error = 0;
  // The system's text for `error` ("No space left on device"), or the unit's own reason.
  std::string reason;

  bool IsSet() const { return !call.empty(); }
};
// The note of the calling thread (IsSet() false when nothing failed since ClearFailure).
Failure LastFailure();
void ClearFailure();
// The system's text for an error number.
std::string ErrorText(int error);

// --- Libraries that must stay loaded ------------------------------------------------------------
// Keeps the shared object that holds the code at `address`, and every object it needs, loaded until
// the process ends, whoever unloads it: for a library that registers with a library that is never
// unloaded what cannot be registered twice. False, with the loader's reason in `error`, when no
// loaded object holds the address.
bool KeepLoaded(const void* address, std::string* error);

}  // namespace platform
}  // namespace glps

#endif  // GLPS_PLATFORM_PLATFORM_H_
