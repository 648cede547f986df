// SPDX-License-Identifier: Apache-2.0
#include "seal/seal_format.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "glps/host/gen.h"

namespace glps {
namespace seal {
namespace {

const char kHeaderPrefix[] = "glps-seal 1 log=";
// The labels of the one-way steps from a key: to the next key, and to the log's seal identity.
const char kNextKeyLabel[] = "glps seal: next sealing key";
const char kLogIdLabel[] = "glps seal: log identity";
const std::size_t kLogIdBytes = 16;

const char kHexDigits[] = "0123456789abcdef";

std::string Hex(const unsigned char* bytes, std::size_t count) {
  std::string text;
  text.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    text += kHexDigits[bytes[i] >> 4];
    text += kHexDigits[bytes[i] & 15];
  }
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsLowerHex(std::string_view text, std::size_t length) {
  if (text.size() != length) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Names are written with every byte outside letters, digits and "._-+()~" as %XX, so that a field
// never holds a blank, a ':' or a line end.
bool IsPlainNameByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::strchr("._-+()~", c) != nullptr;
}

std::string EncodeName(const std::string& name) {
  std::string text;
  for (unsigned char c : name) {
    if (c != 0 && IsPlainNameByte(c)) {
      text += static_cast<char>(c);
    } else {
      text += '%';
      text += "0123456789ABCDEF"[c >> 4];
      text += "0123456789ABCDEF"[c & 15];
    }
  }
  return text;
}

bool DecodeName(std::string_view text, std::string* name) {
  name->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      const unsigned char byte = static_cast<unsigned char>(high * 16 + low);
      // Only the one spelling the writer uses is accepted, so that a text has one meaning.
      if (byte != 0 && IsPlainNameByte(byte)) return false;
      if (text[i + 1] >= 'a' || text[i + 2] >= 'a') return false;
      *name += static_cast<char>(byte);
      i += 2;
    } else if (IsPlainNameByte(c)) {
      *name += static_cast<char>(c);
    } else {
      return false;
    }
  }
  return true;
}

// The kind of a sealed file as a seal line spells it: a kind the library does not know is "kind"
// and its number.
std::string KindName(Glps::EFileType kind) { return glps::FileKindName(kind, "kind"); }

bool ParseDecimal(std::string_view text, bool allowSign, std::int64_t* value) {
  std::size_t i = 0;
  bool negative = false;
  if (allowSign && !text.empty() && text[0] == '-') {
    negative = true;
    i = 1;
  }
  if (i == text.size() || text.size() - i > 19) return false;
  // One spelling per value: no leading zeros, no "-0".
  if (text[i] == '0' && (text.size() - i > 1 || negative)) return false;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (magnitude > static_cast<std::uint64_t>(INT64_MAX)) return false;
  *value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

bool ParseKind(std::string_view text, Glps::EFileType* kind) {
  for (Glps::EFileType known : {Glps::FileNone, Glps::FileLog, Glps::FileMetaData,
                                Glps::FileIndexMain, Glps::FileIndexMenu, Glps::FileLink}) {
    if (text == KindName(known)) {
      *kind = known;
      return true;
    }
  }
  std::int64_t value = 0;
  if (text.compare(0, 4, "kind") != 0 || !ParseDecimal(text.substr(4), true, &value) ||
      value < INT32_MIN || value > INT32_MAX) {
    return false;
  }
  *kind = static_cast<Glps::EFileType>(value);
  return KindName(*kind) == text;
}

// Base64 text as the library writes fingerprints: letters, digits, '+', '/', '='.
bool IsBase64Text(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
          c == '/' || c == '=')) {
      return false;
    }
  }
  return true;
}

std::string HashField(const std::string& hash) { return hash.empty() ? "-" : hash; }

bool ParseHashField(std::string_view text, std::string* hash) {
  if (text == "-") {
    hash->clear();
    return true;
  }
  if (!IsBase64Text(text)) return false;
  *hash = std::string(text);
  return true;
}

// The time of a seal as TimeNow writes it: "YYYY-MM-DDTHH:MM:SS.ffffffZ", digits where digits
// are (a year beyond 9999 with more of them, not starting with 0).
bool IsSealTime(std::string_view text) {
  const std::string_view form = "-MM-DDTHH:MM:SS.ffffffZ";
  if (text.size() < 4 + form.size()) return false;
  const std::size_t year = text.size() - form.size();
  if (year > 4 && text[0] == '0') return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char expected = i < year ? 'Y' : form[i - year];
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (std::strchr("YMDHSf", expected) != nullptr ? !digit : text[i] != expected) return false;
  }
  return true;
}

// The fields of a seal line's text, separated by single blanks, in order. An empty field (two
// blanks, a blank at either end) is handed out as such, and so is not read as any field.
class Fields {
 public:
  explicit Fields(std::string_view text) : m_text(text) {}
  bool Next(std::string_view* field) {
    if (m_at > m_text.size()) return false;
    const std::size_t end = std::min(m_text.find(' ', m_at), m_text.size());
    *field = m_text.substr(m_at, end - m_at);
    m_at = end + 1;
    return true;
  }
  bool AtEnd() const { return m_at > m_text.size(); }

 private:
  std::string_view m_text;
  std::size_t m_at = 0;
};

std::string FileField(const SealedFile& file) {
  std::string field = "file=" + KindName(file.kind) + ":" + EncodeName(file.name) + ":" +
                      std::to_string(file.size) + ":" + HashField(file.md5);
  if (!file.sha256.empty()) field += ":" + file.sha256;
  return field;
}

bool ParseFileField(std::string_view value, SealedFile* file) {
  std::string_view parts[5];
  std::size_t count = 0;
  for (std::size_t start = 0;;) {
    if (count == 5) return false;
    const std::size_t end = std::min(value.find(':', start), value.size());
    parts[count++] = value.substr(start, end - start);
    if (end == value.size()) break;
    start = end + 1;
  }
  if (count != 4 && count != 5) return false;
  if (!ParseKind(parts[0], &file->kind) || !DecodeName(parts[1], &file->name) ||
      file->name.empty() || !ParseDecimal(parts[2], true, &file->size) ||
      !ParseHashField(parts[3], &file->md5)) {
    return false;
  }
  file->sha256.clear();
  if (count == 4) return true;
  if (!IsBase64Text(parts[4])) return false;
  file->sha256 = std::string(parts[4]);
  return true;
}

bool StartsWith(std::string_view text, std::string_view prefix, std::string_view* rest) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  *rest = text.substr(prefix.size());
  return true;
}

// The seal's fields before its files.
SealLine SealHead(const SealLine& seal) {
  SealLine head;
  head.number = seal.number;
  head.time = seal.time;
  head.logXml = seal.logXml;
  head.bound = seal.bound;
  head.binding = seal.binding;
  return head;
}

}  // namespace

bool LogBinding::operator==(const LogBinding& other) const {
  return header == other.header && documents == other.documents &&
         documentsHash == other.documentsHash;
}

bool SealedFile::operator==(const SealedFile& other) const {
  return kind == other.kind && name == other.name && size == other.size && md5 == other.md5 &&
         sha256 == other.sha256;
}

std::string HeaderLine(const std::string& logId) { return kHeaderPrefix + logId; }

bool ParseHeaderLine(std::string_view line, std::string* logId) {
  std::string_view id;
  if (!StartsWith(line, kHeaderPrefix, &id) || !IsLowerHex(id, 2 * kLogIdBytes)) return false;
  *logId = std::string(id);
  return true;
}

std::string SealText(const SealLine& seal) {
  std::string text = "seal=" + std::to_string(seal.number) + " time=" + seal.time + " xml=";
  text += seal.logXml.m_strLogHash.empty()
              ? std::string("-")
              : seal.logXml.m_strLogHash + ":" + std::to_string(seal.logXml.m_nLogSize);
  if (seal.bound) {
    text += " head=" + HashField(seal.binding.header) +
            " docs=" + std::to_string(seal.binding.documents) + ":" + seal.binding.documentsHash;
  }
  for (const SealedFile& file : seal.changed) text += " " + FileField(file);
  for (const std::string& name : seal.gone) text += " gone=" + EncodeName(name);
  return text;
}

std::string SealLineText(const SealLine& seal) { return SealText(seal) + " mac=" + seal.mac; }

bool ParseSealLine(std::string_view line, SealLine* seal, std::string* text, bool keepFiles) {
  const std::size_t macAt = line.rfind(" mac=");
  if (macAt == std::string_view::npos) return false;
  SealLine parsed;
  const std::string_view mac = line.substr(macAt + 5);
  if (!IsLowerHex(mac, 64)) return false;
  parsed.mac = std::string(mac);
  // Each field is read and must be the very text the writer makes of what was read, so that a
  // seal has one spelling; the fields are read in place, one at a time, whatever their number.
  const std::string_view body = line.substr(0, macAt);
  Fields fields(body);
  std::string_view field;
  std::string_view value;
  std::int64_t number = 0;
  if (!fields.Next(&field) || !StartsWith(field, "seal=", &value) ||
      !ParseDecimal(value, false, &number)) {
    return false;
  }
  parsed.number = static_cast<std::uint64_t>(number);
  if (!fields.Next(&field) || !StartsWith(field, "time=", &value) || !IsSealTime(value)) {
    return false;
  }
  parsed.time = std::string(value);
  if (!fields.Next(&field) || !StartsWith(field, "xml=", &value)) return false;
  if (value != "-") {
    const std::size_t colon = value.rfind(':');
    if (colon == std::string_view::npos || !IsBase64Text(value.substr(0, colon)) ||
        !ParseDecimal(value.substr(colon + 1), false, &parsed.logXml.m_nLogSize)) {
      return false;
    }
    parsed.logXml.m_strLogHash = std::string(value.substr(0, colon));
  }
  bool more = fields.Next(&field);
  // The binding, in seals written since it was added: both fields or neither.
  if (more && StartsWith(field, "head=", &value)) {
    if (!ParseHashField(value, &parsed.binding.header) || !fields.Next(&field) ||
        !StartsWith(field, "docs=", &value)) {
      return false;
    }
    const std::size_t colon = value.find(':');
    if (colon == std::string_view::npos ||
        !ParseDecimal(value.substr(0, colon), false, &parsed.binding.documents) ||
        !IsBase64Text(value.substr(colon + 1))) {
      return false;
    }
    parsed.binding.documentsHash = std::string(value.substr(colon + 1));
    parsed.bound = true;
    more = fields.Next(&field);
  }
  SealedFile file;
  for (; more && StartsWith(field, "file=", &value); more = fields.Next(&field)) {
    if (!ParseFileField(value, &file) || FileField(file) != field) return false;
    if (keepFiles) parsed.changed.push_back(file);
  }
  std::string name;
  for (; more; more = fields.Next(&field)) {
    if (!StartsWith(field, "gone=", &value) || !DecodeName(value, &name) || name.empty() ||
        "gone=" + EncodeName(name) != field) {
      return false;
    }
    if (keepFiles) parsed.gone.push_back(name);
  }
  // The fields before the files, as the writer spells them.
  const std::string head = SealText(SealHead(parsed));
  if (body.substr(0, head.size()) != head ||
      (body.size() > head.size() && body[head.size()] != ' ')) {
    return false;
  }
  *seal = std::move(parsed);
  if (text != nullptr) *text = std::string(body);
  return true;
}

std::string MacOf(const crypto::SecretKey& key, const std::string& logId, const std::string& text) {
  const std::string input = HeaderLine(logId) + "\n" + text + "\n";
  return crypto::HmacSha256Hex(key, input.data(), input.size());
}

bool NextKey(const crypto::SecretKey& key, crypto::SecretKey* next) {
  unsigned char bytes[crypto::SecretKey::kSize];
  const bool ok = crypto::HkdfExpand(key, kNextKeyLabel, bytes, sizeof(bytes));
  if (ok) next->Assign(bytes);
  crypto::Wipe(bytes, sizeof(bytes));
  return ok;
}

std::string LogIdOf(const crypto::SecretKey& k0) {
  unsigned char bytes[kLogIdBytes];
  if (!crypto::HkdfExpand(k0, kLogIdLabel, bytes, sizeof(bytes))) return std::string();
  return Hex(bytes, sizeof(bytes));
}

std::string VerificationKeyText(const crypto::SecretKey& k0) {
  const std::string hex = Hex(k0.Bytes(), crypto::SecretKey::kSize);
  std::string text;
  for (std::size_t i = 0; i < hex.size(); i += 8) {
    if (i != 0) text += '-';
    text += hex.substr(i, 8);
  }
  return text;
}

bool ParseVerificationKey(const std::string& text, crypto::SecretKey* k0) {
  unsigned char bytes[crypto::SecretKey::kSize];
  std::size_t nibbles = 0;
  bool ok = true;
  for (char c : text) {
    if (c == '-' || c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    const int value = HexValue(c);
    if (value < 0 || nibbles == 2 * sizeof(bytes)) {
      ok = false;
      break;
    }
    if (nibbles % 2 == 0) {
      bytes[nibbles / 2] = static_cast<unsigned char>(value << 4);
    } else {
      bytes[nibbles / 2] = static_cast<unsigned char>(bytes[nibbles / 2] | value);
    }
    ++nibbles;
  }
  ok = ok && nibbles == 2 * sizeof(bytes);
  if (ok) k0->Assign(bytes);
  crypto::Wipe(bytes, sizeof(bytes));
  return ok;
}

SealState StateOfRecords(const std::vector<KECGlpsFileManagerData>& records,
                         const std::map<std::string, std::string>& sha256) {
  SealState state;
  for (const KECGlpsFileManagerData& record : records) {
    if (!record.m_bHashed) continue;
    SealedFile file;
    file.kind = record.m_eType;
    file.name = record.m_strFileName;
    file.size = record.m_nSize;
    file.md5 = record.m_strHash;
    if (record.m_eType == Glps::FileLink) {
      const auto it = sha256.find(record.m_strFileName);
      if (it != sha256.end()) file.sha256 = it->second;
    }
    // A name recorded twice (only an edited log.xml holds such a set) is sealed as its first
    // record, the one the library acts on.
    state.emplace(file.name, file);
  }
  return state;
}

void SetChanges(const SealState& before, const SealState& now, SealLine* seal) {
  seal->changed.clear();
  seal->gone.clear();
  for (const auto& [name, file] : now) {
    const auto it = before.find(name);
    if (it == before.end() || it->second != file) seal->changed.push_back(file);
  }
  for (const auto& [name, file] : before) {
    if (now.count(name) == 0) seal->gone.push_back(name);
  }
}

void FoldSeal(const SealLine& seal, SealState* state) {
  for (const SealedFile& file : seal.changed) (*state)[file.name] = file;
  for (const std::string& name : seal.gone) state->erase(name);
}

std::string HeaderHash(const KECGlpsLogHeader& header) {
  const std::pair<const char*, std::string> fields[] = {
      {"m_eContentType", std::to_string(static_cast<std::int32_t>(header.m_eContentType))},
      {"m_usContentVersion", std::to_string(header.m_usContentVersion)},
      {"m_tmCreation", header.m_tmCreation.ToString()},
      {"m_strUserCreation", header.m_strUserCreation},
      {"m_tmModification", header.m_tmModification.ToString()},
      {"m_strUserModification", header.m_strUserModification},
      {"m_strSource", header.m_strSource},
      {"m_eDescription", std::to_string(static_cast<std::int32_t>(header.m_eDescription))},
      {"m_strDescription", header.m_strDescription},
      {"m_guid", header.m_guid.ToString()},
  };
  crypto::Sha256Hash hash;
  for (const auto& [name, value] : fields) {
    const std::string line = std::string(name) + "=" + EncodeName(value) + "\n";
    hash.Update(line.data(), line.size());
  }
  return hash.FinishText();
}

std::vector<std::string> DocumentNames(const std::vector<KECGlpsFileManagerData>& records) {
  std::vector<std::string> names;
  for (const KECGlpsFileManagerData& record : records) {
    if (record.m_eType == Glps::FileLog) names.push_back(record.m_strFileName);
  }
  return names;
}

std::map<std::int64_t, std::string> DocumentsHashes(const std::vector<std::string>& names,
                                                    const std::vector<std::int64_t>& counts) {
  std::vector<std::int64_t> due = counts;
  std::sort(due.begin(), due.end());
  due.erase(std::unique(due.begin(), due.end()), due.end());
  std::map<std::int64_t, std::string> hashes;
  crypto::Sha256Hash hash;
  std::size_t taken = 0;
  for (const std::int64_t count : due) {
    if (count < 0 || static_cast<std::uint64_t>(count) > names.size()) continue;
    for (; taken < static_cast<std::size_t>(count); ++taken) {
      const std::string line = EncodeName(names[taken]) + "\n";
      hash.Update(line.data(), line.size());
    }
    hashes[count] = hash.Text();
  }
  return hashes;
}

LogBinding BindingOf(const KECGlpsLogHeader* header,
                     const std::vector<KECGlpsFileManagerData>& records) {
  LogBinding binding;
  if (header != nullptr) binding.header = HeaderHash(*header);
  const std::vector<std::string> names = DocumentNames(records);
  binding.documents = static_cast<std::int64_t>(names.size());
  binding.documentsHash = DocumentsHashes(names, {binding.documents})[binding.documents];
  return binding;
}

std::string TimeNow() {
  const auto now = std::chrono::system_clock::now();
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(micros / 1000000);
  struct tm utc;
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(micros % 1000000));
  return text;
}

}  // namespace seal
}  // namespace glps
