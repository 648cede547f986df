// SPDX-License-Identifier: Apache-2.0
// For tests that inject faults through the library's system-call table
// (platform/platform_syscalls.h), and an independent view of files: OpenSSL's own fingerprint of a
// file and a file's mode.
#ifndef GLPS_TESTS_SUPPORT_SYSCALLS_H_
#define GLPS_TESTS_SUPPORT_SYSCALLS_H_

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/platform_syscalls.h"

namespace glps_test {

// Puts the real system calls back when it goes, whatever a test replaced through calls(). Make one
// before replacing any call, so that a failed assertion cannot leave the faults in place for the
// next test.
class SysCallsGuard {
 public:
  SysCallsGuard() = default;
  ~SysCallsGuard();
  SysCallsGuard(const SysCallsGuard&) = delete;
  SysCallsGuard& operator=(const SysCallsGuard&) = delete;
  glps::platform::SysCalls& calls();
};

// Counts the bytes that the library reads from each file, by the file's name (the last component
// of its path), for as long as it lives; the reads themselves are made as usual. One at a time.
class ReadCounter {
 public:
  ReadCounter();
  ~ReadCounter();
  ReadCounter(const ReadCounter&) = delete;
  ReadCounter& operator=(const ReadCounter&) = delete;
  // The bytes read so far from files of that name.
  std::int64_t BytesRead(const std::string& name) const;

 private:
  SysCallsGuard m_guard;
};

// `openssl dgst -md5 -binary FILE | base64`, without the line end; "<failed>" when it cannot run.
std::string OpensslMd5Base64(const std::string& path);

// The permission bits of `path` (links not followed); 0 when it does not exist.
mode_t ModeOf(const std::string& path);

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_SYSCALLS_H_
