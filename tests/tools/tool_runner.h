// SPDX-License-Identifier: Apache-2.0
// Running the built glps command as a child process and reading what it wrote.
#ifndef GLPS_TESTS_TOOLS_TOOL_RUNNER_H_
#define GLPS_TESTS_TOOLS_TOOL_RUNNER_H_

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace glps_test {

struct ToolResult {
  int status = -1;  // the exit status; -1 when the command did not exit normally
  std::string out;
  std::string err;
  long maxResidentKiB = -1;  // the most memory the command had resident at once
};

// Runs `glps args...` with standard input from /dev/null and standard output and error into files;
// `wrapper` (a program and its arguments) runs the command when it is not empty.
inline ToolResult RunTool(const std::vector<std::string>& args,
                          const std::vector<std::string>& wrapper = {}) {
  TempDir outputs;
  const std::string outPath = outputs / "out";
  const std::string errPath = outputs / "err";
  std::vector<std::string> words = wrapper;
  words.push_back(GLPS_TOOL_PATH);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  ToolResult result;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;
  int status = 0;
  struct rusage usage = {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.maxResidentKiB = usage.ru_maxrss;
  result.out = ReadFileBytes(outPath);
  result.err = ReadFileBytes(errPath);
  return result;
}

// Runs `glps args...` with standard error (and input) on a pseudo-terminal and standard output into
// a file (with `outputOnTerminal`, on the terminal too); `terminal` receives everything written to
// the terminal.
inline int RunToolOnTerminal(const std::vector<std::string>& args, std::string* out,
                             std::string* terminal, bool outputOnTerminal = false) {
  TempDir outputs;
  const std::string outPath = outputs / "out";
  std::vector<std::string> words = {GLPS_TOOL_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return -1;
  if (pid == 0) {
    const int fd = outputOnTerminal ? 1 : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || (!outputOnTerminal && dup2(fd, 1) < 0)) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof(buffer));
    if (n > 0) {
      terminal->append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the child has closed the terminal
    }
  }
  close(master);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  *out = ReadFileBytes(outPath);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `script` with bash and returns what it wrote to standard output.
inline std::string RunShell(const std::string& script) {
  TempDir outputs;
  const std::string outPath = outputs / "out";
  std::vector<std::string> words = {"/bin/bash", "-c", script};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::string();
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return ReadFileBytes(outPath);
}

}  // namespace glps_test

#endif  // GLPS_TESTS_TOOLS_TOOL_RUNNER_H_
