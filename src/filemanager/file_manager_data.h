// SPDX-License-Identifier: Apache-2.0
// The interface through which log documents and the log session register files and refresh records.
#ifndef GLPS_FILEMANAGER_FILE_MANAGER_DATA_H_
#define GLPS_FILEMANAGER_FILE_MANAGER_DATA_H_

#include <cstdint>
#include <string>

#include "glps/records.h"

class KECGlpsFileHashed;

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
