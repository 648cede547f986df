// SPDX-License-Identifier: Apache-2.0
// Reading a PDF back as an inspector's tools do: its text page by page (pdftotext of poppler-utils)
// and its document information (pdfinfo).
#ifndef GLPS_TESTS_SUPPORT_PDF_READING_H_
#define GLPS_TESTS_SUPPORT_PDF_READING_H_

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace glps_test {

// Runs the program `args[0]` (looked up in PATH) and returns what it wrote on standard output;
// `status` receives its exit status (-1 when it could not be run or did not exit normally).
inline std::string RunProgram(std::vector<std::string> args, int* status) {
  TempDir outputs;
  const std::string outPath = outputs / "out";
  std::vector<char*> argv;
  for (std::string& word : args) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  *status = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::string();
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return ReadFileBytes(outPath);
}

// The text of every page, as `pdftotext -layout` places it (lines as they stand on the page).
// Empty when pdftotext fails.
inline std::vector<std::string> PdfPages(const std::string& pdfPath) {
  int status = -1;
  const std::string text =
      RunProgram({"pdftotext", "-layout", "-enc", "UTF-8", pdfPath, "-"}, &status);
  std::vector<std::string> pages;
  if (status != 0) return pages;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\f', start)) != std::string::npos; start = end + 1) {
    pages.push_back(text.substr(start, end - start));
  }
  return pages;
}

// `text` with every run of white space made one blank, and none at either end: what a reader sees
// of a text, whatever the line breaks and column gaps of the page.
inline std::string Words(const std::string& text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f') {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

// `text` without any blank, line break, tab or page break: what a reader sees of a text whose lines
// the page may wrap anywhere.
inline std::string WithoutBlanks(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' && c != '\n' && c != '\t' && c != '\f') out += c;
  }
  return out;
}

// A word of a page with its box, in points from the page's top left corner.
struct PdfWord {
  int page = 0;  // from 1
  double xMin = 0;
  double yMin = 0;
  double xMax = 0;
  double yMax = 0;
  std::string text;
};

// Every word of the PDF with its box, in reading order, as `pdftotext -bbox` gives them; empty
// when it fails.
inline std::vector<PdfWord> PdfWords(const std::string& pdfPath) {
  int status = -1;
  const std::string html =
      RunProgram({"pdftotext", "-bbox", "-enc", "UTF-8", pdfPath, "-"}, &status);
  std::vector<PdfWord> words;
  if (status != 0) return words;
  const auto number = [](const std::string& tag, const std::string& name) {
    const std::size_t at = tag.find(name + "=\"");
    return at == std::string::npos ? 0.0 : std::strtod(tag.c_str() + at + name.size() + 2, nullptr);
  };
  int page = 0;
  for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
    if (html.compare(at, 5, "<page") == 0) ++page;
    if (html.compare(at, 5, "<word") != 0) continue;
    const std::size_t close = html.find('>', at);
    const std::size_t end = html.find("</word>", close);
    if (close == std::string::npos || end == std::string::npos) break;
    const std::string tag = html.substr(at, close - at);
    PdfWord word;
    word.page = page;
    word.xMin = number(tag, "xMin");
    word.yMin = number(tag, "yMin");
    word.xMax = number(tag, "xMax");
    word.yMax = number(tag, "yMax");
    word.text = html.substr(close + 1, end - close - 1);
    words.push_back(word);
  }
  return words;
}

// pdfinfo's fields ("Title", "Creator", "Pages", ...) with their values; empty when it fails.
inline std::map<std::string, std::string> PdfInfo(const std::string& pdfPath) {
  int status = -1;
  const std::string text = RunProgram({"pdfinfo", "-isodates", pdfPath}, &status);
  std::map<std::string, std::string> fields;
  if (status != 0) return fields;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      const std::size_t value = line.find_first_not_of(' ', colon + 1);
      fields[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
    }
    start = end + 1;
  }
  return fields;
}

}  // namespace glps_test

#endif  // GLPS_TESTS_SUPPORT_PDF_READING_H_
