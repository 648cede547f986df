// SPDX-License-Identifier: Apache-2.0
// A racer on a log directory: it watches the directory with inotify and, as soon as a reader has
// read a file and closed it, renames another file over it, as a person who may write the
// directory can do while an auditor reads it.
#ifndef GLPS_TESTS_SUPPORT_FILE_RACER_H_
#define GLPS_TESTS_SUPPORT_FILE_RACER_H_

#include <string>
#include <thread>

namespace glps_test {

// Watches `directory` from construction. The first time the file `name` in it is closed after
// being opened for reading, `replacement` (a path on the same file system, outside the directory)
// is renamed over it, at once, on a thread of its own. Made and destroyed on one thread; the
// destructor stops the racer, whether or not it swapped.
class SwapAfterRead {
 public:
  SwapAfterRead(const std::string& directory, const std::string& name,
                const std::string& replacement);
  ~SwapAfterRead();
  SwapAfterRead(const SwapAfterRead&) = delete;
  SwapAfterRead& operator=(const SwapAfterRead&) = delete;

  // Stops the racer and tells whether it swapped the file.
  bool Swapped();

 private:
  void Run();

  const std::string m_strDirectory;
  const std::string m_strName;
  const std::string m_strReplacement;
  int m_nInotify = -1;
  int m_stop[2] = {-1, -1};  // a pipe: its write end stops the racer
  bool m_bSwapped = false;   // written by the racer, read after it is joined
  std::thread m_thread;
};

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_FILE_RACER_H_
