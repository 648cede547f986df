// SPDX-License-Identifier: Apache-2.0
// Reading what the library wrote: documents as the text a browser shows, and log directories.
#ifndef GLPS_TESTS_SUPPORT_LOG_READING_H_
#define GLPS_TESTS_SUPPORT_LOG_READING_H_

#include <dirent.h>
#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "glps/glps.h"
#include "support/temp_dir.h"

namespace glps_test {

// The text of an HTML fragment as a browser shows it: "<BR>" gives a line break, every other tag
// disappears, and the entities the report items use are decoded (numeric references to ASCII only).
inline std::string PlainText(const std::string& html) {
  std::string out;
  for (std::string::size_type i = 0; i < html.size();) {
    if (html[i] == '<') {
      const std::string::size_type end = html.find('>', i);
      if (end == std::string::npos) break;
      const std::string tag = html.substr(i, end - i + 1);
      if (tag == "<BR>" || tag == "<br>") out += '\n';
      i = end + 1;
    } else if (html[i] == '&' && html.find(';', i) != std::string::npos) {
      const std::string::size_type end = html.find(';', i);
      const std::string entity = html.substr(i, end - i + 1);
      if (entity == "&nbsp;")
        out += ' ';
      else if (entity == "&lt;")
        out += '<';
      else if (entity == "&gt;")
        out += '>';
      else if (entity == "&amp;")
        out += '&';
      else if (entity == "&quot;")
        out += '"';
      else if (entity.size() > 3 && entity[1] == '#') {
        const long code = std::strtol(entity.c_str() + 2, nullptr, 10);
        out += code < 128 ? std::string(1, static_cast<char>(code)) : entity;
      } else {
        out += entity;
      }
      i = end + 1;
    } else {
      if (html[i] != '\n' && html[i] != '\r') out += html[i];
      ++i;
    }
  }
  return out;
}

// The lines of PlainText.
inline std::vector<std::string> PlainLines(const std::string& html) {
  std::vector<std::string> lines;
  std::string text = PlainText(html);
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

// The names in a directory (without "." and ".."), sorted.
inline std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The info the library hands out for the log.xml at `path`: its hash text and size (the no-log-info
// value when it does not exist).
inline KECGlpsLogInfo InfoOf(const std::string& path) {
  KECGlpsLogInfo info;
  if (!KCGenFileUtils::FileExists(path)) return info;
  info.m_strLogHash = KCGenCryptUtils::Instance()->GetFileHash(path);
  info.m_nLogSize = KCGenFileUtils::FileGetSize(path);
  return info;
}

inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The HTML log documents of a directory (regular files, not the index pages), in name order.
inline std::vector<std::string> Documents(const std::string& dir) {
  std::vector<std::string> documents;
  for (const std::string& name : ListDirectory(dir)) {
    if (EndsWith(name, ".html") && name != "GLP-Main.html" && name != "GLP-Menu.html" &&
        KCGenFileUtils::FileExists(dir + "/" + name)) {
      documents.push_back(name);
    }
  }
  return documents;
}

// How many tamper titles (the heading of a tamper entry) the documents of a directory hold.
inline int CountTamperTitles(const std::string& dir) {
  const std::string title = "<H2>" + Txts::GetString(18631) + "</H2>";
  int count = 0;
  for (const std::string& document : Documents(dir)) {
    const std::string html = ReadFileBytes(dir + "/" + document);
    for (auto at = html.find(title); at != std::string::npos; at = html.find(title, at + 1))
      ++count;
  }
  return count;
}

}  // namespace glps_test

// How GoogleTest shows an info in a failure message.
inline void PrintTo(const KECGlpsLogInfo& info, std::ostream* out) {
  *out << '"' << info.m_strLogHash << "\":" << info.m_nLogSize;
}

#endif  // GLPS_TESTS_SUPPORT_LOG_READING_H_
