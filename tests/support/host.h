// SPDX-License-Identifier: Apache-2.0
// The host as the service expects it (an application-log directory, a running user, the
// restriction service's defaults), set up and released the same way by every test, fuzz target
// and benchmark that drives KECGlpsServices. Uses the public interface only.
#ifndef GLPS_TESTS_SUPPORT_HOST_H_
#define GLPS_TESTS_SUPPORT_HOST_H_

#include <string>

namespace glps_test {

// Makes `appDir` (mode 0755, when missing) the application-log directory, `user` the running user
// and resets the restriction service's users and rights to their defaults.
void PrepareHost(const std::string& appDir, const std::string& user);

// Destroys the service (open logs dropped unsaved) and takes back PrepareHost's user and rights.
void ReleaseHost();

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_HOST_H_
