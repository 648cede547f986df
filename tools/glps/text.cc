// SPDX-License-Identifier: Apache-2.0
#include "text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace glps_tool {
namespace {

// The length of the valid UTF-8 sequence that starts at `at` (1 to 4), or 0 when the bytes there
// are not one: overlong forms, surrogates and code points above U+10FFFF are not valid.
std::size_t Utf8Length(const std::string& s, std::size_t at) {
  const unsigned char c = static_cast<unsigned char>(s[at]);
  if (c < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > s.size()) return 0;
  const unsigned char second = static_cast<unsigned char>(s[at + 1]);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(s[at + i]);
    if (next < 0x80 || next > 0xBF) return 0;
  }
  return length;
}

std::string Hex(const char* format, unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof(buffer), format, value);
  return buffer;
}

}  // namespace

std::size_t DisplayWidth(const std::string& s) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t length = Utf8Length(s, i);
    i += length == 0 ? 1 : length;
    ++width;
  }
  return width;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = Utf8Length(bytes, i);
    // C1 control characters (U+0080 to U+009F, 0xC2 0x80 to 0xC2 0x9F) are escaped byte by byte.
    const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0;
    if (c == '\\') {
      out += "\\\\";
    } else if (c1) {
      out += Hex("\\x%02X", c) + Hex("\\x%02X", static_cast<unsigned char>(bytes[i + 1]));
      i += 2;
      continue;
    } else if (length == 0 || c < 0x20 || c == 0x7F) {
      out += Hex("\\x%02X", c);
    } else {
      out.append(bytes, i, length);
      i += length;
      continue;
    }
    ++i;
  }
  return out;
}

bool IsUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = Utf8Length(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string ToUtf8Lossy(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = Utf8Length(bytes, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(bytes, i, length);
      i += length;
    }
  }
  return out;
}

void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& rightAligned, const std::string& indent) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::size_t w = DisplayWidth(row[c]);
      if (w > widths[c]) widths[c] = w;
    }
  }
  for (const auto& row : rows) {
    std::string line = indent;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - DisplayWidth(row[c]), ' ');
      const bool right = c < rightAligned.size() && rightAligned[c];
      if (c > 0) line += "  ";
      line += right ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : std::string());
    }
    out << line << '\n';
  }
}

bool ParseInt64(const std::string& text, std::int64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!(c >= '0' && c <= '9') && !(i == 0 && c == '-' && text.size() > 1)) return false;
  }
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  *value = parsed;
  return true;
}

}  // namespace glps_tool
