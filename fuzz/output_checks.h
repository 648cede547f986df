// SPDX-License-Identifier: Apache-2.0
// Checks of what a command prints from hostile input: JSON that any parser takes, and terminal text
// that cannot move the cursor or change the terminal's state.
#ifndef GLPS_FUZZ_OUTPUT_CHECKS_H_
#define GLPS_FUZZ_OUTPUT_CHECKS_H_

#include <cstddef>
#include <string>

namespace glps_fuzz {

// Length of the well-formed UTF-8 sequence at `at` (RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0.
inline std::size_t Utf8SequenceLength(const std::string& s, std::size_t at) {
  const unsigned char c = static_cast<unsigned char>(s[at]);
  if (c < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
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
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(s[at + i]);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

inline bool IsUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t length = Utf8SequenceLength(s, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// Valid UTF-8 with no control character but the line feed, and no DEL.
inline bool IsSafeTerminalText(const std::string& s) {
  for (char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && c != '\n') || c == 0x7F) return false;
  }
  return IsUtf8(s);
}

// A strict JSON (RFC 8259) recognizer: one value with optional white space around it.
class JsonChecker {
 public:
  explicit JsonChecker(const std::string& text) : s_(text) {}

  bool Valid() {
    if (!IsUtf8(s_)) return false;
    Blank();
    if (!Value(0)) return false;
    Blank();
    return i_ == s_.size();
  }

 private:
  static constexpr int kMaxDepth = 200;

  bool At(char c) const { return i_ < s_.size() && s_[i_] == c; }
  bool Eat(char c) {
    if (!At(c)) return false;
    ++i_;
    return true;
  }
  void Blank() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
      ++i_;
  }
  bool Literal(const char* word) {
    const std::string w(word);
    if (s_.compare(i_, w.size(), w) != 0) return false;
    i_ += w.size();
    return true;
  }
  bool Digits() {
    const std::size_t start = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    return i_ > start;
  }
  bool Number() {
    Eat('-');
    if (Eat('0')) {
      if (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') return false;
    } else if (!Digits()) {
      return false;
    }
    if (Eat('.') && !Digits()) return false;
    if (At('e') || At('E')) {
      ++i_;
      if (!Eat('+')) Eat('-');
      if (!Digits()) return false;
    }
    return true;
  }
  static bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }
  bool String() {
    if (!Eat('"')) return false;
    while (i_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[i_]);
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        ++i_;
        if (i_ >= s_.size()) return false;
        const char e = s_[i_++];
        if (e == 'u') {
          for (int k = 0; k < 4; ++k, ++i_) {
            if (i_ >= s_.size() || !IsHex(s_[i_])) return false;
          }
        } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
          return false;
        }
      } else {
        ++i_;
      }
    }
    return false;
  }
  bool Value(int depth) {
    if (depth > kMaxDepth || i_ >= s_.size()) return false;
    const char c = s_[i_];
    if (c == '{') {
      ++i_;
      Blank();
      if (Eat('}')) return true;
      do {
        Blank();
        if (!String()) return false;
        Blank();
        if (!Eat(':')) return false;
        Blank();
        if (!Value(depth + 1)) return false;
        Blank();
      } while (Eat(','));
      return Eat('}');
    }
    if (c == '[') {
      ++i_;
      Blank();
      if (Eat(']')) return true;
      do {
        Blank();
        if (!Value(depth + 1)) return false;
        Blank();
      } while (Eat(','));
      return Eat(']');
    }
    if (c == '"') return String();
    if (c == 't') return Literal("true");
    if (c == 'f') return Literal("false");
    if (c == 'n') return Literal("null");
    return Number();
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

inline bool IsValidJson(const std::string& text) { return JsonChecker(text).Valid(); }

}  // namespace glps_fuzz

#endif  // GLPS_FUZZ_OUTPUT_CHECKS_H_
