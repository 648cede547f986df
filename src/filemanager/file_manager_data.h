// SPDX-License-Identifier: Apache-2.0
// The record that a log keeps for each file of its directory, the kinds of those files, and the
// interface through which log documents and the log session register files and refresh records.
#ifndef GLPS_FILEMANAGER_FILE_MANAGER_DATA_H_
#define GLPS_FILEMANAGER_FILE_MANAGER_DATA_H_

#include <cstdint>
#include <string>

class KECGlpsFileHashed;

namespace Glps {

// Kinds of the files of a log directory. Value 1 is not used.
enum EFileType : std::int32_t {
  FileNone = 0,       // a fresh record
  FileLog = 2,        // an HTML log document (protected)
  FileMetaData = 3,   // the metadata sidecar of a document (protected)
  FileIndexMain = 4,  // "GLP-Main.html" (not protected)
  FileIndexMenu = 5,  // "GLP-Menu.html" (not protected)
  FileLink = 6,       // a file linked into an experiment log (protected)
};

}  // namespace Glps

// One file of a log directory: its kind and, for a protected file, the fingerprint and size last
// recorded for it. A copyable value; the records of a log form one vector in registration order,
// shared between the log's file manager and the storage that persists it in log.xml.
struct KECGlpsFileManagerData {
  Glps::EFileType m_eType = Glps::FileNone;
  // The name inside the log directory, without any directory part; the record's key. It comes
  // from log.xml, so it is checked with IsPlainFileName before it is joined with a directory.
  std::string m_strFileName;
  // Fingerprint text of the protected content; empty for unprotected files.
  std::string m_strHash;
  std::int64_t m_nSize = 0;
  // The file takes part in verification and re-basing.
  bool m_bHashed = true;
};

// What log documents and the log session call on the file manager of their log. The manager
// outlives every document it opened; all calls come from the one thread that drives the log.
class KECIGlpsFileManager {
 public:
  // Registers the name with the kind and the flag, dropping any earlier fingerprint and size of
  // that name; for a hashed file, fingerprints its present content. False when the record could not
  // be refreshed.
  virtual bool AddFile(const std::string& fileName, Glps::EFileType kind, bool hashed) = 0;
  // The record named by the file's name takes the file's present size and fingerprint. False when
  // no record has that name.
  virtual bool UpdateFileInfo(KECGlpsFileHashed& file) = 0;
  // Replaces the record of the same name in place (all members), or appends it. Always true.
  virtual bool SetFileData(const KECGlpsFileManagerData& record) = 0;
  virtual ~KECIGlpsFileManager();

 protected:
  KECIGlpsFileManager() = default;
  KECIGlpsFileManager(const KECIGlpsFileManager&) = default;
  KECIGlpsFileManager& operator=(const KECIGlpsFileManager&) = default;
};

namespace glps {

// True when the text can stand as a file name inside a log directory: not empty, not "." or "..",
// and without '/', '\\' or a NUL byte. Names that fail are never joined with a directory.
bool IsPlainFileName(const std::string& name);

}  // namespace glps

#endif  // GLPS_FILEMANAGER_FILE_MANAGER_DATA_H_
