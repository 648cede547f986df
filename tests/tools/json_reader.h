// SPDX-License-Identifier: Apache-2.0
// A small strict JSON reader for checking the command's --json output: the whole text must be one
// JSON value (RFC 8259) in valid UTF-8, with nothing but white space after it.
#ifndef GLPS_TESTS_TOOLS_JSON_READER_H_
#define GLPS_TESTS_TOOLS_JSON_READER_H_

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace glps_test {

struct Json {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // strings, decoded to UTF-8
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  // The member of that name, or a null value.
  const Json& operator[](const std::string& name) const {
    static const Json none;
    for (const auto& member : members) {
      if (member.first == name) return member.second;
    }
    return none;
  }
  bool Has(const std::string& name) const {
    for (const auto& member : members) {
      if (member.first == name) return true;
    }
    return false;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}

  bool Read(Json* value) {
    if (!ValidUtf8()) return false;
    SkipSpace();
    if (!Value(value, 0)) return false;
    SkipSpace();
    return at_ == s_.size();
  }

 private:
  bool ValidUtf8() const {
    for (std::size_t i = 0; i < s_.size();) {
      const unsigned char c = static_cast<unsigned char>(s_[i]);
      std::size_t n = c < 0x80                 ? 1
                      : c >= 0xC2 && c <= 0xDF ? 2
                      : c >= 0xE0 && c <= 0xEF ? 3
                      : c >= 0xF0 && c <= 0xF4 ? 4
                                               : 0;
      if (n == 0 || i + n > s_.size()) return false;
      std::uint32_t cp = n == 1 ? c : c & (0x7F >> n);
      for (std::size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(s_[i + k]);
        if ((d & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (d & 0x3F);
      }
      const std::uint32_t lowest[] = {0, 0, 0x80, 0x800, 0x10000};
      if (cp < lowest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
      i += n;
    }
    return true;
  }
  void SkipSpace() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t'))
      ++at_;
  }
  bool Literal(const char* word) {
    const std::string w(word);
    if (s_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }
  static void AppendUtf8(std::uint32_t cp, std::string* out) {
    if (cp < 0x80) {
      *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      *out += static_cast<char>(0xC0 | (cp >> 6));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out += static_cast<char>(0xE0 | (cp >> 12));
      *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (cp >> 18));
      *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  bool Hex4(std::uint32_t* cp) {
    if (at_ + 4 > s_.size()) return false;
    *cp = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[at_++];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      *cp = *cp * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  }
  bool String(std::string* out) {
    if (at_ >= s_.size() || s_[at_] != '"') return false;
    ++at_;
    while (at_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        *out += static_cast<char>(c);
        continue;
      }
      if (at_ >= s_.size()) return false;
      const char e = s_[at_++];
      switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          std::uint32_t cp = 0;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!Literal("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
          }
          AppendUtf8(cp, out);
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool Number(double* out) {
    const std::size_t start = at_;
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    const auto digits = [this] {
      const std::size_t from = at_;
      while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
      return at_ - from;
    };
    if (at_ < s_.size() && s_[at_] == '0') {
      ++at_;
    } else if (digits() == 0) {
      return false;
    }
    if (at_ < s_.size() && s_[at_] == '.') {
      ++at_;
      if (digits() == 0) return false;
    }
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (digits() == 0) return false;
    }
    *out = std::strtod(s_.substr(start, at_ - start).c_str(), nullptr);
    return true;
  }
  bool Value(Json* v, int depth) {
    if (depth > 64 || at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') {
      v->type = Json::Type::kObject;
      ++at_;
      SkipSpace();
      if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
      for (;;) {
        std::string name;
        SkipSpace();
        if (!String(&name)) return false;
        SkipSpace();
        if (at_ >= s_.size() || s_[at_++] != ':') return false;
        SkipSpace();
        Json member;
        if (!Value(&member, depth + 1)) return false;
        v->members.emplace_back(name, member);
        SkipSpace();
        if (at_ >= s_.size()) return false;
        if (s_[at_] == '}') return ++at_, true;
        if (s_[at_++] != ',') return false;
      }
    }
    if (c == '[') {
      v->type = Json::Type::kArray;
      ++at_;
      SkipSpace();
      if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
      for (;;) {
        SkipSpace();
        Json item;
        if (!Value(&item, depth + 1)) return false;
        v->items.push_back(item);
        SkipSpace();
        if (at_ >= s_.size()) return false;
        if (s_[at_] == ']') return ++at_, true;
        if (s_[at_++] != ',') return false;
      }
    }
    if (c == '"') {
      v->type = Json::Type::kString;
      return String(&v->text);
    }
    if (Literal("true")) {
      v->type = Json::Type::kBool;
      v->boolean = true;
      return true;
    }
    if (Literal("false")) {
      v->type = Json::Type::kBool;
      return true;
    }
    if (Literal("null")) return true;
    v->type = Json::Type::kNumber;
    return Number(&v->number);
  }

  const std::string& s_;
  std::size_t at_ = 0;
};

// Parses `text` as one JSON value; false when it is not exactly that.
inline bool ParseJson(const std::string& text, Json* value) {
  *value = Json();
  return JsonReader(text).Read(value);
}

}  // namespace glps_test

#endif  // GLPS_TESTS_TOOLS_JSON_READER_H_
