// SPDX-License-Identifier: Apache-2.0
// The raw file under every file the audit trail writes and verifies.
#ifndef GLPS_FILES_GLPS_FILE_H_
#define GLPS_FILES_GLPS_FILE_H_

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Result of every read and write: the call succeeded, and the bytes actually transferred.
using KECGlpsIoResult = glps::platform::IoResult;

// One file, opened once at construction for reading and writing and closed at destruction, with
// unbuffered read, write, flush, size and truncate, and two hooks that run after every read and
// every write of an open object. The hooks are where KECGlpsFileHashed keeps its running digest.
//
// The object owns its descriptor; it is not copyable. The file is named by its directory and its
// name there (a path names its parent directory, opened then), and reached relative to that
// directory. The open takes the file that is there, or creates it exclusively when there is none;
// it refuses a symbolic link, anything but a regular file, a file with more than one name and a
// file whose write permission bits are all clear, whoever runs the process
// (platform::OpenForWriting). No lock is taken: a log's writers are kept apart by the log's lock.
// An object whose open failed stays usable and answers false, (false, 0) or 0; there is no reopen.
//
// Requires of its caller: one thread at a time per object, and no second writer of the file. Reads
// and writes happen at the current position, which starts at offset 0. Derived classes that
// override one Write should bring the other into scope (using KECGlpsFile::Write).
class KECGlpsFile {
 public:
  explicit KECGlpsFile(const glps::platform::FileLocation& location);
  // With an explicit mode: only an existing file, only a new one, or either.
  KECGlpsFile(const glps::platform::FileLocation& location, glps::platform::OpenMode mode);
  // Names the file without opening it: the object is not open (GetOpenRefusal is kFailed).
  struct NotOpened {};
  KECGlpsFile(const glps::platform::FileLocation& location, NotOpened);
  // Closes the file without flushing it.
  virtual ~KECGlpsFile();
  KECGlpsFile(const KECGlpsFile&) = delete;
  KECGlpsFile& operator=(const KECGlpsFile&) = delete;

  virtual bool IsOpen() const;
  // Makes the written content durable with the file's size (fdatasync: its times are not synced).
  // False when not open or the sync fails.
  virtual bool Flush();
  // Cuts or extends the file to `size` bytes and leaves the position at the end, so the next write
  // appends. False when not open, for a negative size, or when the system call fails.
  virtual bool Truncate(std::int64_t size);
  // Reads up to `count` bytes at the current position, then calls OnRead with the requested count
  // and the result, also when the read failed. End of file is (true, 0). Not open: (false, 0) and
  // no hook.
  virtual KECGlpsIoResult Read(void* buffer, std::uint32_t count);
  // Writes the text's characters (no terminating zero) through the virtual Write(buffer, count).
  // A text longer than the 32-bit count can express is not written: (false, 0), no hook.
  virtual KECGlpsIoResult Write(const std::string& text);
  // Writes `count` bytes at the current position, continuing after partial writes, then calls
  // OnWritten with the requested count and the result, also when the write failed. The result
  // counts the bytes that reached the file, on failure too. Not open: (false, 0) and no hook.
  virtual KECGlpsIoResult Write(const void* buffer, std::uint32_t count);

 protected:
  // Run after every read and write of an open object; do nothing here.
  virtual void OnRead(void* buffer, std::uint32_t count, const KECGlpsIoResult& result);
  virtual void OnWritten(const void* buffer, std::uint32_t count, const KECGlpsIoResult& result);

 public:
  // The file's size: 0 when not open, -1 when the system cannot tell it (never mistaken for an
  // empty file).
  std::int64_t GetSize() const;
  // The file's name in its directory.
  const std::string& GetFileName() const;
  // Why the open failed; kNone for an open object.
  glps::platform::OpenRefusal GetOpenRefusal() const { return m_eRefusal; }
  // The file under this object's name in its directory is still the file this object has open
  // (the same device and inode): it was neither removed nor replaced. False when not open.
  bool IsStillInPlace() const;
  // The identity (device and inode) of the open file; false when not open or unknown.
  bool GetIdentity(glps::platform::FileFacts* facts) const;
  // Closes the file early (a file that must not be written, or that a derived class cannot bring
  // into a usable state); the object is not open afterwards.
  void Close();
  // The open descriptor, for syncing the file before another takes its name
  // (platform::Replacement::CommitAfterSyncingWith); kInvalidHandle when not open. It stays this
  // object's.
  glps::platform::FileHandle GetHandle() const { return m_hFile; }

 protected:
  // Moves the position to an absolute offset. False when not open or the move fails.
  bool Seek(std::int64_t offset);

  // The directory the file is reached through; never null.
  const glps::platform::DirectoryPtr m_ptrDirectory;
  // The directory's path and the name, for showing.
  const std::string m_strPath;
  // The file's name in m_ptrDirectory.
  const std::string m_strName;
  // Set by the open: why it failed, or kNone.
  glps::platform::OpenRefusal m_eRefusal;
  // The open descriptor; kInvalidHandle when the open failed or after Close.
  glps::platform::FileHandle m_hFile;
};

#endif  // GLPS_FILES_GLPS_FILE_H_
