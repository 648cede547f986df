// SPDX-License-Identifier: Apache-2.0
#include "serialization/archive_io.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstddef>
#include <istream>
#include <sstream>
#include <streambuf>

#include <boost/archive/detail/archive_serializer_map.hpp>
#include <boost/archive/impl/archive_serializer_map.ipp>
#include <boost/archive/impl/basic_xml_grammar.hpp>
#include <boost/archive/impl/basic_xml_iarchive.ipp>
#include <boost/archive/impl/xml_iarchive_impl.ipp>
#include <boost/archive/xml_archive_exception.hpp>

#include "platform/platform.h"
#include "serialization/text_mode.h"

// The archive's templates, for this archive class; the grammar itself is Boost's compiled one.
template class boost::archive::basic_xml_iarchive<glps::archive_io::XmlInputArchive>;
template class boost::archive::xml_iarchive_impl<glps::archive_io::XmlInputArchive>;
template class boost::archive::detail::archive_serializer_map<glps::archive_io::XmlInputArchive>;

namespace glps {
namespace archive_io {

XmlInputArchive::XmlInputArchive(std::istream& is, unsigned int flags)
    : boost::archive::xml_iarchive_impl<XmlInputArchive>(is, flags) {
  if ((flags & boost::archive::no_header) == 0) init();
}

XmlInputArchive::~XmlInputArchive() = default;

void XmlInputArchive::load_start(const char* name) {
  if (name == nullptr) return;
  if (!gimpl->parse_start_tag(get_is())) {
    boost::serialization::throw_exception(
        boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error));
  }
  ++m_nDepth;
}

void XmlInputArchive::load_end(const char* name) {
  if (name == nullptr) return;
  if (!gimpl->parse_end_tag(get_is())) {
    boost::serialization::throw_exception(
        boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error));
  }
  if (m_nDepth > 0) --m_nDepth;
  if (m_nDepth == 0) return;
  if ((get_flags() & boost::archive::no_xml_tag_checking) == 0 && gimpl->rv.object_name != name) {
    boost::serialization::throw_exception(boost::archive::xml_archive_exception(
        boost::archive::xml_archive_exception::xml_archive_tag_mismatch, name));
  }
}

namespace {

// A read-only stream buffer over text that lives elsewhere (no copy of a possibly large file). The
// archive only reads forward and puts back the one character it has just read.
class MemoryReadBuffer : public std::streambuf {
 public:
  MemoryReadBuffer(const char* data, std::size_t size) {
    char* begin = const_cast<char*>(data);
    setg(begin, begin, begin + size);
  }
  std::size_t Consumed() const { return static_cast<std::size_t>(gptr() - eback()); }
};

bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// What follows the last element of a complete archive: its closing tag, blanks around it, nothing
// else. A file cut anywhere before the end of that tag is incomplete.
bool IsCompleteTrailer(const std::string& text, std::size_t pos) {
  static const std::string kClose = "</boost_serialization>";
  while (pos < text.size() && IsXmlBlank(text[pos])) ++pos;
  if (text.compare(pos, kClose.size(), kClose) != 0) return false;
  pos += kClose.size();
  return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(pos), text.end(), IsXmlBlank);
}

}  // namespace

bool SaveXmlArchive(const platform::Directory& directory, const std::string& name,
                    const std::function<void(boost::archive::xml_oarchive&)>& write,
                    std::string* written) {
  if (written != nullptr) written->clear();
  try {
    std::ostringstream out;
    {
      boost::archive::xml_oarchive archive(out, 0);
      write(archive);
    }  // closing the archive writes its closing tag
    if (!out) return false;
    const std::string text = ToTextFile(out.str());
    if (!LoadableSize(text)) return false;
    bool inPlace = false;
    const bool replaced = platform::ReplaceFile(directory, name, text, &inPlace);
    if (inPlace && written != nullptr) *written = text;
    return replaced;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    return false;
  }
}

bool LoadXmlArchiveFromText(const std::string& fileText,
                            const std::function<void(XmlInputArchive&)>& read) {
  try {
    const std::string text = FromTextFile(fileText);
    MemoryReadBuffer buffer(text.data(), text.size());
    std::istream in(&buffer);
    XmlInputArchive archive(in, 0);
    read(archive);
    // The archive's destructor reads the closing tag but has to ignore a failure there (and
    // reading past the end would throw out of it), so the tail is checked here, while an exception
    // still stops the destructor from reading.
    if (!IsCompleteTrailer(text, buffer.Consumed())) {
      boost::serialization::throw_exception(
          boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error));
    }
    return true;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    return false;
  }
}

bool LoadXmlArchive(const platform::Directory& directory, const std::string& name,
                    const std::function<void(XmlInputArchive&)>& read, std::int64_t maxSize) {
  try {
    std::string text;
    if (!platform::ReadWholeFile(directory, name, &text, maxSize)) return false;
    return LoadXmlArchiveFromText(text, read);
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    return false;
  }
}

}  // namespace archive_io
}  // namespace glps
