// SPDX-License-Identifier: Apache-2.0
// Reading and writing the library's XML archives (log.xml and the document sidecars).
//
// Archives are written with the XML output archive (flags 0) into memory, every line end is turned
// into CR LF the way a Windows text stream writes, and the file is replaced atomically. Reading
// takes the whole file, turns CR LF back into LF (files with bare LF line ends read the same), and
// parses from memory with the XML input archive (flags 0). Neither direction lets an exception out:
// every failure is a false result.
//
// Every load reads through XmlInputArchive, Boost's XML input archive with a safe end-tag check.
//
// Also here: the class-version check that every load of ours makes (the archive itself accepts
// class versions newer than the program's), the one loader and saver of the lists the archives hold
// (log.xml's file records, a sidecar's entities), and the primitive serialization of the host's
// GUID and time values.
#ifndef GLPS_SERIALIZATION_ARCHIVE_IO_H_
#define GLPS_SERIALIZATION_ARCHIVE_IO_H_

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <utility>
#include <vector>

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/basic_archive.hpp>
#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/collection_size_type.hpp>
#include <boost/serialization/item_version_type.hpp>
#include <boost/serialization/level.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/throw_exception.hpp>
#include <boost/serialization/version.hpp>

#include "glps/host/gen.h"
#include "platform/platform.h"

// GUIDs and times go into the archives as plain element text, written with their stream output
// operators and read back with their stream input operators; they carry no class information.
BOOST_CLASS_IMPLEMENTATION(KCGenGUID, boost::serialization::primitive_type)
BOOST_CLASS_IMPLEMENTATION(KCGenTime, boost::serialization::primitive_type)

namespace glps {
namespace archive_io {

// Boost's XML input archive (the same grammar, the same checks, the same flags) except for one
// thing: the end tag of each named element is compared with the expected name as whole strings.
// Boost's own comparison indexes the expected name by the length of the name in the file and
// compares that many bytes, so an end tag longer than the expected name makes it read past the end
// of the expected name's text. One object per load, used by one thread.
class XmlInputArchive : public boost::archive::xml_iarchive_impl<XmlInputArchive> {
 public:
  // Reads the archive's prologue at once unless `flags` has no_header, as xml_iarchive does.
  explicit XmlInputArchive(std::istream& is, unsigned int flags = 0);
  ~XmlInputArchive() override;

 private:
  friend class boost::archive::detail::interface_iarchive<XmlInputArchive>;
  friend class boost::archive::basic_xml_iarchive<XmlInputArchive>;
  friend class boost::archive::load_access;

  // Called around every named element; they take the place of basic_xml_iarchive's.
  void load_start(const char* name);
  void load_end(const char* name);

  // Named elements started and not yet ended. The outermost element's end tag is not compared
  // with its name, as in Boost.
  unsigned int m_nDepth = 0;
};

// The largest archive file that is read at all; anything larger fails to load. Far above any
// archive a log writes (a record takes about 300 bytes).
constexpr std::int64_t kMaxArchiveSize = std::int64_t{256} << 20;

// True when a load takes an archive file of these bytes (no larger than kMaxArchiveSize). Every
// writer of an archive file checks it before it writes, so that nothing is written that loading
// refuses.
inline bool LoadableSize(const std::string& fileText) {
  return static_cast<std::int64_t>(fileText.size()) <= kMaxArchiveSize;
}

// Throws the archive's unsupported_class_version exception when the class version read from a file
// is newer than the newest one this program writes.
inline void CheckClassVersion(unsigned int fileVersion, unsigned int newestVersion) {
  if (fileVersion > newestVersion) {
    boost::serialization::throw_exception(boost::archive::archive_exception(
        boost::archive::archive_exception::unsupported_class_version));
  }
}

// A list in the archive's standard collection form: "count", "item_version" (archive library
// versions above 3; the class version of Item), then one "item" per element. The text is the one
// the archive's own std::vector serialization writes, so files written either way read the same.
template <class Item, class Archive>
void SaveList(Archive& ar, const std::vector<Item>& items) {
  const boost::serialization::collection_size_type count(items.size());
  ar << boost::serialization::make_nvp("count", count);
  if (ar.get_library_version() > boost::archive::library_version_type(3)) {
    const boost::serialization::item_version_type itemVersion(
        boost::serialization::version<Item>::value);
    ar << boost::serialization::make_nvp("item_version", itemVersion);
  }
  for (const Item& item : items) ar << boost::serialization::make_nvp("item", item);
}

// Reads a list that SaveList wrote into `items` (emptied first). The count comes from the file and
// is not trusted: nothing is reserved for it, and each item is appended once it has been read
// whole, so a count beyond the items present fails at the first missing item with the items before
// it kept, and a file can make the list no larger than the file itself. An item version newer than
// Item's class version fails before any item is read. Items are never referred to by pointer, so
// the address the archive tracks for an item (if a file claims it is tracked) is not moved along.
template <class Item, class Archive>
void LoadList(Archive& ar, std::vector<Item>& items) {
  items.clear();
  boost::serialization::collection_size_type count;
  ar >> boost::serialization::make_nvp("count", count);
  if (ar.get_library_version() > boost::archive::library_version_type(3)) {
    boost::serialization::item_version_type itemVersion(0);
    ar >> boost::serialization::make_nvp("item_version", itemVersion);
    CheckClassVersion(itemVersion, boost::serialization::version<Item>::value);
  }
  for (std::size_t i = 0; i < count; ++i) {
    Item item;
    ar >> boost::serialization::make_nvp("item", item);
    items.push_back(std::move(item));
  }
}

// Writes an archive to memory, lets `write` put its content in, closes the archive, converts the
// line ends (serialization/text_mode.h) and replaces the file `name` of the directory atomically
// (platform::ReplaceFile: a read-only file, or one with more than one name, is not replaced, and on
// failure the old file stays as it was). True only when all of that succeeded; any exception thrown
// by `write` or the archive is a false result. An archive larger than kMaxArchiveSize, which no
// load would take, is not written: false, the old file left as it was. `written` (may be null)
// receives the bytes of the file when they took the name (also when only the directory's sync
// failed afterwards), and is emptied otherwise.
bool SaveXmlArchive(const platform::Directory& directory, const std::string& name,
                    const std::function<void(boost::archive::xml_oarchive&)>& write,
                    std::string* written = nullptr);

// Reads the whole file `name` of the directory (at most maxSize bytes), converts the line ends
// (serialization/text_mode.h) and parses it: the archive's prologue, then whatever `read` takes
// out, then the archive's closing tag, which must be complete. True only when all of that
// succeeded; any exception (archive errors, bad_alloc, length errors, anything) is a false result,
// and `read` keeps whatever it had stored before.
bool LoadXmlArchive(const platform::Directory& directory, const std::string& name,
                    const std::function<void(XmlInputArchive&)>& read,
                    std::int64_t maxSize = kMaxArchiveSize);

// The same on archive text already in memory (line ends as in the file).
bool LoadXmlArchiveFromText(const std::string& fileText,
                            const std::function<void(XmlInputArchive&)>& read);

}  // namespace archive_io
}  // namespace glps

#endif  // GLPS_SERIALIZATION_ARCHIVE_IO_H_
