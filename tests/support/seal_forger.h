// SPDX-License-Identifier: Apache-2.0
// A sealer of the tests' own, as someone who has taken the computer would make one: with the
// sealing key file of that moment alone, and the construction of the seal file's format that the
// library's documentation gives (the seal line, its MAC under the key). Only for programs that
// link the library's objects (glps_objects).
#ifndef GLPS_TESTS_SUPPORT_SEAL_FORGER_H_
#define GLPS_TESTS_SUPPORT_SEAL_FORGER_H_

#include <string>

namespace glps_test {

// Appends to the seal file of the sealed log in `dir` a seal of the log as it now lies there (its
// log.xml, header, records and linked files), numbered and keyed by the key file's current slot,
// as the library's next save would have sealed it. `bind` false writes the seal in the form of
// seals written before they bound log.xml's header and documents. The key file is left as it was.
// Returns why it could not, or the empty text.
std::string ForgeSeal(const std::string& dir, bool bind = true);

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_SEAL_FORGER_H_
