// SPDX-License-Identifier: Apache-2.0
// The GoogleTest fixture of the tests that drive the service as a host does.
#ifndef GLPS_TESTS_SUPPORT_HOST_FIXTURE_H_
#define GLPS_TESTS_SUPPORT_HOST_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include "glps/glps.h"
#include "support/host.h"
#include "support/records.h"
#include "support/temp_dir.h"

namespace glps_test {

// The error the service reports for a log it cannot use.
constexpr unsigned kErrorUnusable = 0xE02A2711u;

// A fresh temporary directory per test with the application-log directory "<tmp>/app", the user
// User() ("tester" unless a test overrides it) and default rights; the service is destroyed (open
// logs dropped unsaved) when the test ends.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PrepareHost(AppDir(), User());
    service_ = KECGlpsServices::Instance();
  }
  void TearDown() override { ReleaseHost(); }

  virtual std::string User() const { return "tester"; }

  std::string AppDir() const { return tmp_ / "app"; }

  // Opens the experiment log in `dir` as experiment `experiment`.
  bool OpenExp(const std::string& dir, const KECGlpsLogInfo& info, unsigned* error = nullptr,
               const std::string& experiment = "Exp") {
    bool opened = false;
    return service_->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), Experiment(experiment),
                                error, &opened);
  }

  TempDir tmp_;
  KECGlpsServices* service_ = nullptr;
};

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_HOST_FIXTURE_H_
