// SPDX-License-Identifier: Apache-2.0
// What the fuzz targets share besides the test-support library: a scratch directory for the files
// an input is written to, and a check that reports a broken property and aborts, so that libFuzzer
// (and the replay program) count it as a finding.
#ifndef GLPS_FUZZ_FUZZ_SUPPORT_H_
#define GLPS_FUZZ_FUZZ_SUPPORT_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace glps_fuzz {

// Aborts with the failed condition; a sanitizer or libFuzzer turns the abort into a report.
#define GLPS_FUZZ_CHECK(condition)                                                          \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

// A private directory for one fuzzing process, under /dev/shm when there is one (the targets write
// a file per input) or else under $TMPDIR. Removed, with everything in it, when the process ends
// normally. One per process; the targets use it from one thread.
class ScratchDir : public glps_test::TempDir {
 public:
  ScratchDir() : TempDir(Base(), "glps-fuzz-") {}

 private:
  static std::string Base() {
    const char* tmp = std::getenv("TMPDIR");
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp ? tmp : "/tmp");
  }
};

// Replaces the file at `path` with exactly these bytes.
inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  unlink(path.c_str());
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  GLPS_FUZZ_CHECK(fd >= 0);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    GLPS_FUZZ_CHECK(n > 0);
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

}  // namespace glps_fuzz

#endif  // GLPS_FUZZ_FUZZ_SUPPORT_H_
