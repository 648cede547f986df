// SPDX-License-Identifier: Apache-2.0
// What the host modules of the unloading tests share: writing a small experiment log.
#ifndef GLPS_TESTS_DLOPEN_MODULE_LOG_H_
#define GLPS_TESTS_DLOPEN_MODULE_LOG_H_

#include <glps/glps.h>

namespace {

// Writes an experiment log in `directory` (which must exist), saves and closes it; true when all
// succeeded. Each module compiles its own copy, so that none calls into another.
bool WriteModuleLog(const char* directory) {
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = "copy";
  unsigned int error = 0;
  bool opened = false;
  KECGlpsServices* service = KECGlpsServices::Instance();
  KECGlpsLogInfo info;
  bool ok = service->LogExpInit(directory, true, info, KECGlpsLogInfoCrash(), experiment, &error,
                                &opened);
  ok = service->LogExpMsg("copied after loading") && ok;
  ok = service->LogExpExit(&info) && ok;
  KECGlpsServices::Destroy();
  return ok;
}

}  // namespace

#endif  // GLPS_TESTS_DLOPEN_MODULE_LOG_H_
