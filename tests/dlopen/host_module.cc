// SPDX-License-Identifier: Apache-2.0
// A host module for the unloading tests: a shared object that links libglps.so and offers plain C
// entry points, so that the test program drives the service without linking the library itself.
// Loading this module loads libglps.so; unloading it is the only reference, so it unloads the
// library too.
#include <glps/audit.h>
#include <glps/glps.h>

#include "module_log.h"

extern "C" {

// Opens an experiment log in `directory` (which must exist) and writes one message; true when both
// succeeded. The log is left open and unsaved.
bool glps_module_open_experiment_log(const char* directory) {
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = "unload";
  unsigned int error = 0;
  bool opened = false;
  const bool initialised = KECGlpsServices::Instance()->LogExpInit(
      directory, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(), experiment, &error, &opened);
  const bool logged = KECGlpsServices::Instance()->LogExpMsg("before unloading");
  return initialised && opened && logged;
}

void glps_module_destroy() { KECGlpsServices::Destroy(); }

// Writes an experiment log in `directory` (which must exist), saves and closes it; true when all
// succeeded.
bool glps_module_write_log(const char* directory) { return WriteModuleLog(directory); }

// The verdict of the audit of the log in `directory` (Glps::EAuditVerdict).
int glps_module_verify(const char* directory) {
  return KECGlpsAudit::Verify(directory, KECGlpsAuditRequest()).Verdict();
}

}  // extern "C"
