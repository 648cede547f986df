// SPDX-License-Identifier: Apache-2.0
// Line ends of the text files the library writes (log.xml, sidecars, index pages): every line end
// is CR LF on disk, whatever the platform, as a text stream on the platform the format comes from
// writes it. Reading turns CR LF back into LF and leaves a lone CR alone, so every text
// round-trips.
#ifndef GLPS_SERIALIZATION_TEXT_MODE_H_
#define GLPS_SERIALIZATION_TEXT_MODE_H_

#include <string>

namespace glps {

// Every "\n" becomes "\r\n".
inline std::string ToTextFile(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Every "\r\n" becomes "\n"; a lone "\r" stays.
inline std::string FromTextFile(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::string::size_type i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    out += bytes[i];
  }
  return out;
}

}  // namespace glps

#endif  // GLPS_SERIALIZATION_TEXT_MODE_H_
