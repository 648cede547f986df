// SPDX-License-Identifier: Apache-2.0
// How the records of a log's persisted state go into log.xml: class versions, tracking, element
// names and member order, for the XML archives of serialization/archive_io.h. Every load checks the
// class version it is given and rejects one newer than the version written here.
//
// Shared pointers keep the serialization traits of the archive library (class version 1, never
// tracked, the object as element "px"), but the object is read and written in place rather than
// through the archive's pointer machinery, because pointer input trusts the file: a class id
// beyond the known ones indexes past the archive's class table (a crash), an object reference
// hands back an earlier object of another class as this one, and a null pointer leaves the member
// empty. Reading in place uses the file's class id for nothing, and an object that is not there
// fails the load. The text is the same either way: the first "px" of each class carries class id,
// tracking level and version and, the objects being tracked, an object id.
//
// Include this header (and no other serialization of these types) wherever they are archived.
#ifndef GLPS_SERIALIZATION_LOG_SERIALIZATION_H_
#define GLPS_SERIALIZATION_LOG_SERIALIZATION_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/archive/basic_archive.hpp>
#include <boost/serialization/collection_size_type.hpp>
#include <boost/serialization/item_version_type.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/shared_ptr.hpp>
#include <boost/serialization/split_free.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/tracking.hpp>
#include <boost/serialization/version.hpp>
#include <boost/shared_ptr.hpp>

#include "glps/records.h"
#include "serialization/archive_io.h"

// Version 1 added m_merCodingSchemeInfo.
BOOST_CLASS_VERSION(KECGlpsLogCatalog, 1)

// The objects behind the four shared pointers of log.xml carry an object id, as objects written
// through a pointer do under selective tracking. Written in place (see above), they get it only
// when tracked always; the text is the same.
BOOST_CLASS_TRACKING(KECGlpsLogHeader, boost::serialization::track_always)
BOOST_CLASS_TRACKING(KECGlpsLogMetaData, boost::serialization::track_always)
BOOST_CLASS_TRACKING(KECGlpsLogCatalog, boost::serialization::track_always)
BOOST_CLASS_TRACKING(std::vector<KECGlpsFileManagerData>, boost::serialization::track_always)

namespace glps {
namespace log_serialization {

// Counts, while a file is read, the objects behind shared pointers whose content was read. A file
// may mark a "px" as tracked and name an earlier object's id instead of giving the content; the
// archive then reads nothing, which LoadShared turns into a failure.
struct SharedObjectsRead {
  unsigned long count = 0;
};

// Its address is the key of the counter among the archive's helpers.
inline const char kSharedObjectsReadKey = 0;

template <class Archive>
SharedObjectsRead& SharedObjectsReadOf(Archive& ar) {
  return ar.template get_helper<SharedObjectsRead>(const_cast<char*>(&kSharedObjectsReadKey));
}

// Called by the serialization of each object that lives behind one of the shared pointers.
template <class Archive>
void NoteSharedObjectRead(Archive& ar) {
  if constexpr (Archive::is_loading::value) ++SharedObjectsReadOf(ar).count;
}

template <class Archive, class T>
void SaveShared(Archive& ar, const boost::shared_ptr<T>& pointer) {
  if (!pointer) {
    // A null pointer would not read back into a usable log; the caller's save fails instead.
    boost::serialization::throw_exception(
        boost::archive::archive_exception(boost::archive::archive_exception::output_stream_error));
  }
  const T& object = *pointer;
  ar << boost::serialization::make_nvp("px", object);
}

// `pointer` takes a new object only once it has been read completely.
template <class Archive, class T>
void LoadShared(Archive& ar, boost::shared_ptr<T>& pointer, unsigned int version) {
  archive_io::CheckClassVersion(version,
                                boost::serialization::version<boost::shared_ptr<T>>::value);
  std::unique_ptr<T> object(new T());
  const unsigned long readBefore = SharedObjectsReadOf(ar).count;
  ar >> boost::serialization::make_nvp("px", *object);
  if (SharedObjectsReadOf(ar).count == readBefore) {
    boost::serialization::throw_exception(
        boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error));
  }
  pointer.reset(object.release());
}

}  // namespace log_serialization
}  // namespace glps

namespace boost {
namespace serialization {

template <class Archive>
void serialize(Archive& ar, KECGlpsLogHeader& header, const unsigned int version) {
  glps::archive_io::CheckClassVersion(version, 0);
  glps::log_serialization::NoteSharedObjectRead(ar);
  ar& make_nvp("m_eContentType", header.m_eContentType);
  ar& make_nvp("m_usContentVersion", header.m_usContentVersion);
  ar& make_nvp("m_tmCreation", header.m_tmCreation);
  ar& make_nvp("m_strUserCreation", header.m_strUserCreation);
  ar& make_nvp("m_tmModification", header.m_tmModification);
  ar& make_nvp("m_strUserModification", header.m_strUserModification);
  ar& make_nvp("m_strSource", header.m_strSource);
  ar& make_nvp("m_eDescription", header.m_eDescription);
  ar& make_nvp("m_strDescription", header.m_strDescription);
  ar& make_nvp("m_guid", header.m_guid);
}

template <class Archive>
void serialize(Archive& ar, KECGlpsLogMetaData& metaData, const unsigned int version) {
  glps::archive_io::CheckClassVersion(version, 0);
  glps::log_serialization::NoteSharedObjectRead(ar);
  ar& make_nvp("m_strVersionOriginal", metaData.m_strVersionOriginal);
  ar& make_nvp("m_guidOriginal", metaData.m_guidOriginal);
  ar& make_nvp("m_strExpName", metaData.m_strExpName);
}

// The coding-scheme pair of the catalog.
template <class Archive>
void serialize(Archive& ar, std::pair<bool, std::int32_t>& pair, const unsigned int version) {
  glps::archive_io::CheckClassVersion(version, 0);
  ar& make_nvp("first", pair.first);
  ar& make_nvp("second", pair.second);
}

template <class Archive>
void serialize(Archive& ar, KECGlpsLogCatalog& catalog, const unsigned int version) {
  glps::archive_io::CheckClassVersion(version, 1);
  glps::log_serialization::NoteSharedObjectRead(ar);
  ar& make_nvp("m_lNextIndex", catalog.m_lNextIndex);
  // A version-0 catalog has no pair; it keeps its default.
  if (version >= 1) ar& make_nvp("m_merCodingSchemeInfo", catalog.m_merCodingSchemeInfo);
}

template <class Archive>
void serialize(Archive& ar, KECGlpsFileManagerData& record, const unsigned int version) {
  glps::archive_io::CheckClassVersion(version, 0);
  ar& make_nvp("m_eType", record.m_eType);
  ar& make_nvp("m_strFileName", record.m_strFileName);
  ar& make_nvp("m_strHash", record.m_strHash);
  ar& make_nvp("m_nSize", record.m_nSize);
  ar& make_nvp("m_bHashed", record.m_bHashed);
}

// The record vector as a list of archive_io (SaveList, LoadList).
template <class Archive>
void save(Archive& ar, const std::vector<KECGlpsFileManagerData>& records,
          const unsigned int /*version*/) {
  glps::archive_io::SaveList(ar, records);
}

template <class Archive>
void load(Archive& ar, std::vector<KECGlpsFileManagerData>& records, const unsigned int version) {
  glps::archive_io::CheckClassVersion(version, 0);
  glps::log_serialization::NoteSharedObjectRead(ar);
  glps::archive_io::LoadList(ar, records);
}

template <class Archive>
void serialize(Archive& ar, std::vector<KECGlpsFileManagerData>& records,
               const unsigned int version) {
  split_free(ar, records, version);
}

#define GLPS_SHARED_RECORD_SERIALIZATION(T)                                           \
  template <class Archive>                                                            \
  void save(Archive& ar, const boost::shared_ptr<T>& pointer, const unsigned int) {   \
    glps::log_serialization::SaveShared(ar, pointer);                                 \
  }                                                                                   \
  template <class Archive>                                                            \
  void load(Archive& ar, boost::shared_ptr<T>& pointer, const unsigned int version) { \
    glps::log_serialization::LoadShared(ar, pointer, version);                        \
  }

GLPS_SHARED_RECORD_SERIALIZATION(KECGlpsLogHeader)
GLPS_SHARED_RECORD_SERIALIZATION(KECGlpsLogMetaData)
GLPS_SHARED_RECORD_SERIALIZATION(KECGlpsLogCatalog)
GLPS_SHARED_RECORD_SERIALIZATION(std::vector<KECGlpsFileManagerData>)

#undef GLPS_SHARED_RECORD_SERIALIZATION

}  // namespace serialization
}  // namespace boost

#endif  // GLPS_SERIALIZATION_LOG_SERIALIZATION_H_
