// SPDX-License-Identifier: Apache-2.0
// KCGenGUID: value, text form and stream operators.
#include <openssl/rand.h>

#include <istream>
#include <ostream>

#include "glps/host/gen.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kTextLength = 38;

// The value of a hexadecimal digit of either case, or -1.
int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// What the character at position i of the braced form must be: '{', '}', '-' or 'x' for a digit.
char ExpectedAt(std::size_t i) {
  if (i == 0) return '{';
  if (i == kTextLength - 1) return '}';
  if (i == 9 || i == 14 || i == 19 || i == 24) return '-';
  return 'x';
}

// Feeds the characters of the braced form one at a time and collects the bytes.
class GuidParser {
 public:
  // False when c cannot be the next character of the form.
  bool Feed(char c) {
    const char expected = ExpectedAt(m_pos);
    if (expected != 'x') {
      if (c != expected) return false;
    } else {
      const int v = HexValue(static_cast<unsigned char>(c));
      if (v < 0) return false;
      unsigned char& byte = m_bytes[m_digits / 2];
      byte = static_cast<unsigned char>(m_digits % 2 == 0 ? v << 4 : (byte | v));
      ++m_digits;
    }
    ++m_pos;
    return true;
  }
  bool Complete() const { return m_pos == kTextLength; }
  const std::array<unsigned char, 16>& Bytes() const { return m_bytes; }

 private:
  std::size_t m_pos = 0;
  std::size_t m_digits = 0;
  std::array<unsigned char, 16> m_bytes{};
};

}  // namespace

KCGenGUID::KCGenGUID(bool generate) : m_bytes{} {
  if (!generate) return;
  if (RAND_bytes(m_bytes.data(), static_cast<int>(m_bytes.size())) != 1) {
    m_bytes.fill(0);
    return;
  }
  m_bytes[6] = static_cast<unsigned char>((m_bytes[6] & 0x0F) | 0x40);  // version 4
  m_bytes[8] = static_cast<unsigned char>((m_bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

KCGenGUID::KCGenGUID(const std::string& text) : m_bytes{} { FromString(text); }

KCGenGUID::KCGenGUID(const char* text) : m_bytes{} {
  if (text != nullptr) FromString(text);
}

bool KCGenGUID::IsNull() const {
  for (unsigned char b : m_bytes) {
    if (b != 0) return false;
  }
  return true;
}

std::string KCGenGUID::ToString() const {
  std::string text;
  text.reserve(kTextLength);
  std::size_t digit = 0;
  for (std::size_t i = 0; i < kTextLength; ++i) {
    const char expected = ExpectedAt(i);
    if (expected != 'x') {
      text += expected;
    } else {
      const unsigned char byte = m_bytes[digit / 2];
      text += kHexDigits[digit % 2 == 0 ? byte >> 4 : byte & 0x0F];
      ++digit;
    }
  }
  return text;
}

bool KCGenGUID::FromString(const std::string& text) {
  if (text.size() != kTextLength) return false;
  GuidParser parser;
  for (char c : text) {
    if (!parser.Feed(c)) return false;
  }
  m_bytes = parser.Bytes();
  return true;
}

std::ostream& operator<<(std::ostream& os, const KCGenGUID& guid) { return os << guid.ToString(); }

std::istream& operator>>(std::istream& is, KCGenGUID& guid) {
  std::istream::sentry sentry(is);
  if (!sentry) return is;
  std::streambuf* buf = is.rdbuf();
  GuidParser parser;
  std::string text;
  std::ios::iostate state = std::ios::goodbit;
  while (!parser.Complete()) {
    const auto c = buf->sgetc();
    if (std::char_traits<char>::eq_int_type(c, std::char_traits<char>::eof())) {
      state |= std::ios::eofbit | std::ios::failbit;
      break;
    }
    // A character that does not fit stays in the stream.
    const char ch = std::char_traits<char>::to_char_type(c);
    if (!parser.Feed(ch)) {
      state |= std::ios::failbit;
      break;
    }
    text += ch;
    buf->sbumpc();
  }
  if (parser.Complete() && !guid.FromString(text)) state |= std::ios::failbit;
  is.setstate(state);
  return is;
}
