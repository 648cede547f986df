// SPDX-License-Identifier: Apache-2.0
// What the library stores, computed or read through its own internal classes: the fingerprint it
// records for a file's bytes and the records of a log.xml. Only for programs that link the
// library's objects (glps_objects).
#ifndef GLPS_TESTS_SUPPORT_STORED_RECORDS_H_
#define GLPS_TESTS_SUPPORT_STORED_RECORDS_H_

#include <functional>
#include <string>
#include <vector>

#include "glps/records.h"

namespace glps_test {

// The fingerprint text the library records for a protected file holding `bytes`.
std::string Fingerprint(const std::string& bytes);

// The record the library keeps for a file `name` of this kind holding `content`: its fingerprint
// and size when it is protected (`hashed`), neither otherwise.
KECGlpsFileManagerData RecordOf(Glps::EFileType kind, const std::string& name,
                                const std::string& content, bool hashed = true);

// The records of the log.xml in `dir`; `loaded` tells whether it loaded whole.
std::vector<KECGlpsFileManagerData> LoadRecords(const std::string& dir, bool* loaded);

// Rewrites the log.xml in `dir` with its records as `edit` leaves them, as someone who can write
// the directory could; false when log.xml does not load or cannot be saved.
bool EditRecords(const std::string& dir,
                 const std::function<void(std::vector<KECGlpsFileManagerData>*)>& edit);

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_STORED_RECORDS_H_
