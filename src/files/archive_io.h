// Reading and writing the library's XML archives (log.xml and the document sidecars).
//
// Archives are written with the XML output archive (flags 0) into memory, every line end is turned
// into CR LF the way a Windows text stream writes, and the file is replaced atomically. Reading
// takes the whole file, turns CR LF back into LF (files with bare LF line ends read the same), and
// parses from memory with the XML input archive (flags 0). Neither direction lets an exception out:
// every failure is a false result.
//
// Also here: the class-version check that every load of ours makes (the archive itself accepts
// class versions newer than the program's), and the primitive serialization of the host's GUID and
// time values.
#ifndef GLPS_FILES_ARCHIVE_IO_H_
#define GLPS_FILES_ARCHIVE_IO_H_

#include <cstdint>
#include <functional>
#include <string>

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/level.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/throw_exception.hpp>

#include "glps/host/gen.h"

// GUIDs and times go into the archives as plain element text, written with their stream output
// operators and read back with their stream input operators; they carry no class information.
BOOST_CLASS_IMPLEMENTATION(KCGenGUID, boost::serialization::primitive_type)
BOOST_CLASS_IMPLEMENTATION(KCGenTime, boost::serialization::primitive_type)

namespace glps {
namespace archive_io {

// The largest archive file that is read at all; anything larger fails to load. Far above any
// archive a log writes (a record takes about 300 bytes).
constexpr std::int64_t kMaxArchiveSize = std::int64_t{256} << 20;

// Throws the archive's unsupported_class_version exception when the class version read from a file
// is newer than the newest one this program writes.
inline void CheckClassVersion(unsigned int fileVersion, unsigned int newestVersion) {
  if (fileVersion > newestVersion) {
    boost::serialization::throw_exception(boost::archive::archive_exception(
        boost::archive::archive_exception::unsupported_class_version));
  }
}

// Writes an archive to memory, lets `write` put its content in, closes the archive, converts the
// line ends (files/text_mode.h) and replaces `path` atomically (platform::ReplaceFile: a read-only file is not
// replaced, and on failure the old file stays as it was). True only when all of that succeeded;
// any exception thrown by `write` or the archive is a false result.
bool SaveXmlArchive(const std::string& path,
                    const std::function<void(boost::archive::xml_oarchive&)>& write);

// Reads the whole file at `path` (at most maxSize bytes), converts the line ends (files/text_mode.h)
// and parses it:
// the archive's prologue, then whatever `read` takes out, then the archive's closing tag, which
// must be complete. True only when all of that succeeded; any exception (archive errors, bad_alloc,
// length errors, anything) is a false result, and `read` keeps whatever it had stored before.
bool LoadXmlArchive(const std::string& path,
                    const std::function<void(boost::archive::xml_iarchive&)>& read,
                    std::int64_t maxSize = kMaxArchiveSize);

// The same on archive text already in memory (line ends as in the file).
bool LoadXmlArchiveFromText(const std::string& fileText,
                            const std::function<void(boost::archive::xml_iarchive&)>& read);

}  // namespace archive_io
}  // namespace glps

#endif  // GLPS_FILES_ARCHIVE_IO_H_
