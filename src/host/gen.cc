// SPDX-License-Identifier: Apache-2.0
// The standard file header, the version info and the string helpers.
#include "glps/host/gen.h"

#ifndef GLPS_VERSION_STRING
#error "GLPS_VERSION_STRING must be defined by the build"
#endif

KCGenStandardFileHeader::KCGenStandardFileHeader()
    : m_eContentType(eContentTypeNone),
      m_usContentVersion(0),
      m_tmCreation(false),
      m_tmModification(false),
      m_eDescription(eDescriptionNone),
      m_guid(false) {}

KCGenStandardFileHeader::KCGenStandardFileHeader(const KCGenStandardFileHeader& other) = default;
KCGenStandardFileHeader& KCGenStandardFileHeader::operator=(const KCGenStandardFileHeader& other) =
    default;
KCGenStandardFileHeader::~KCGenStandardFileHeader() = default;

KCGenVersionInfo::KCGenVersionInfo() = default;
KCGenVersionInfo::~KCGenVersionInfo() = default;

std::string KCGenVersionInfo::GetProductVersionLong() const { return GLPS_VERSION_STRING; }

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool kstringutil::equal_no_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::size_t kstringutil::replace_all(std::string* text, const std::string& find,
                                     const std::string& replacement) {
  if (text == nullptr || find.empty()) return 0;
  // Built into a new text, so that many replacements in a long text stay linear.
  std::string result;
  std::size_t count = 0;
  std::size_t start = 0;
  for (std::size_t pos = text->find(find); pos != std::string::npos;
       pos = text->find(find, start)) {
    result.append(*text, start, pos - start);
    result += replacement;
    start = pos + find.size();
    ++count;
  }
  if (count == 0) return 0;
  result.append(*text, start, std::string::npos);
  text->swap(result);
  return count;
}

std::string Gen::convert2str(long value) { return std::to_string(value); }

const std::string KCGenStringDefinesTraits<char>::ms_strEmpty;
