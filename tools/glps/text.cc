// SPDX-License-Identifier: Apache-2.0
#include "text.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <unistr.h>
#include <uniwidth.h>

namespace glps_tool {
namespace {

// The length of the valid UTF-8 sequence that starts at `at` (1 to 4), with its code point in
// `*code`, or 0 when the bytes there are not one: overlong forms, surrogates and code points above
// U+10FFFF are not valid (libunistring's reading).
std::size_t Utf8Length(const std::string& s, std::size_t at, ucs4_t* code = nullptr) {
  ucs4_t decoded = 0;
  const int length =
      u8_mbtoucr(&decoded, reinterpret_cast<const std::uint8_t*>(s.data()) + at, s.size() - at);
  if (length <= 0) return 0;
  if (code != nullptr) *code = decoded;
  return static_cast<std::size_t>(length);
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
    ucs4_t code = 0;
    const std::size_t length = Utf8Length(s, i, &code);
    i += length == 0 ? 1 : length;
    // A wide character (CJK) takes two columns, a combining mark none; a byte that is not UTF-8,
    // and a control character, one (they are shown escaped).
    const int columns = length == 0 ? 1 : uc_width(code, "UTF-8");
    width += columns < 0 ? 1 : static_cast<std::size_t>(columns);
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
  return u8_check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) == nullptr;
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
