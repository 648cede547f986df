// SPDX-License-Identifier: Apache-2.0
#include "support/file_racer.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace glps_test {

SwapAfterRead::SwapAfterRead(const std::string& directory, const std::string& name,
                             const std::string& replacement)
    : m_strDirectory(directory), m_strName(name), m_strReplacement(replacement) {
  m_nInotify = inotify_init1(IN_CLOEXEC);
  if (m_nInotify < 0 || pipe(m_stop) != 0 ||
      inotify_add_watch(m_nInotify, directory.c_str(), IN_CLOSE_NOWRITE) < 0) {
    throw std::runtime_error("cannot watch " + directory);
  }
  // The watch is in place before the constructor returns: no read after it is missed.
  m_thread = std::thread([this] { Run(); });
}

SwapAfterRead::~SwapAfterRead() {
  Swapped();
  close(m_stop[0]);
  close(m_stop[1]);
  close(m_nInotify);
}

bool SwapAfterRead::Swapped() {
  if (m_thread.joinable()) {
    const char stop = 's';
    if (write(m_stop[1], &stop, 1) != 1) std::perror("racer");
    m_thread.join();
  }
  return m_bSwapped;
}

void SwapAfterRead::Run() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{m_nInotify, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    // A read finished before the stop was asked for is seen first: its event is already queued.
    if (fds[0].revents == 0) return;
    const ssize_t n = read(m_nInotify, buffer, sizeof buffer);
    for (ssize_t at = 0; n > 0 && at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->len != 0 && m_strName == event->name) {
        m_bSwapped =
            std::rename(m_strReplacement.c_str(), (m_strDirectory + "/" + m_strName).c_str()) == 0;
        return;
      }
    }
  }
}

}  // namespace glps_test
