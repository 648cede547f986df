// SPDX-License-Identifier: Apache-2.0
#include "support/host.h"

#include <sys/stat.h>

#include "glps/glps.h"

namespace glps_test {

void PrepareHost(const std::string& appDir, const std::string& user) {
  mkdir(appDir.c_str(), 0755);
  KECBaseFilesAndLocations::SetDirectoryAppLog(appDir);
  KCGenUserInfo::Instance()->SetCurrentUserName(user);
  KECQrmsServices::Instance()->ResetDefaults();
}

void ReleaseHost() {
  KECGlpsServices::Destroy();
  KCGenUserInfo::Instance()->ClearOverrides();
  KECQrmsServices::Instance()->ResetDefaults();
}

}  // namespace glps_test
