// SPDX-License-Identifier: Apache-2.0
#include "log_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "glps/host/gen.h"
#include "session/session_data_storage.h"

namespace glps_tool {

std::string LogXmlPath(const std::string& directory) {
  return KCGenFileUtils::MakeNamePath(directory, "log.xml");
}

bool ReadLogState(const std::string& directory, LogState* state, std::string* error) {
  struct stat st;
  if (stat(directory.c_str(), &st) != 0) {
    *error = directory + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = directory + ": not a directory";
    return false;
  }
  const std::string path = LogXmlPath(directory);
  if (lstat(path.c_str(), &st) != 0) {
    *error = errno == ENOENT ? directory + ": no log.xml here (not a log directory?)"
                             : path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    return false;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  KECGlpsLogSessionDataStorage storage(path);
  if (!storage.Load()) {
    *error = path + ": cannot be read as a complete log archive";
    return false;
  }
  state->header = *storage.GetHeader();
  state->metaData = *storage.GetMetaData();
  state->catalog = *storage.GetCatalog();
  state->records = *storage.GetFileData();
  state->logXmlInfo = storage.GetLoadedLogInfo();
  return true;
}

std::string KindName(Glps::EFileType kind) {
  switch (kind) {
    case Glps::FileNone: return "none";
    case Glps::FileLog: return "log";
    case Glps::FileMetaData: return "metadata";
    case Glps::FileIndexMain: return "index-main";
    case Glps::FileIndexMenu: return "index-menu";
    case Glps::FileLink: return "link";
  }
  return "kind-" + std::to_string(static_cast<long long>(kind));
}

}  // namespace glps_tool
