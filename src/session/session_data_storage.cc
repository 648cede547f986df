// SPDX-License-Identifier: Apache-2.0
#include "session/session_data_storage.h"

#include <cstdint>

#include "crypto/md5_hash.h"
#include "platform/platform.h"
#include "serialization/archive_io.h"
#include "serialization/log_serialization.h"
#include "serialization/log_xml_writer.h"

namespace {

// Reads one of the four pointers of the storage. A file can mark the pointer element itself as
// tracked and name an object read before instead of holding one; the archive then reads nothing and
// leaves the pointer empty. That fails the load, so no member is ever left empty.
template <class Archive, class T>
boost::shared_ptr<T> LoadPointer(Archive& ar, const char* name) {
  boost::shared_ptr<T> pointer;
  ar >> boost::serialization::make_nvp(name, pointer);
  if (!pointer) {
    boost::serialization::throw_exception(
        boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error));
  }
  return pointer;
}

}  // namespace

namespace boost {
namespace serialization {

// The storage is the element "Session": class version 0, not tracked (it is written by value), its
// members m_ptrHeader, m_ptrMetaData, m_ptrCatalog and m_ptrFileData in this order. It is read
// here; KECGlpsLogXmlWriter writes it, as the archive would.
// Each member takes its new object as soon as that object has been read, so a failure part-way
// leaves the members before it read and the ones after it as they were.
template <class Archive>
void load(Archive& ar, KECGlpsLogSessionDataStorage& storage, const unsigned int version) {
  glps::archive_io::CheckClassVersion(version, 0);
  storage.PutHeader(LoadPointer<Archive, KECGlpsLogHeader>(ar, "m_ptrHeader"));
  storage.PutMetaData(LoadPointer<Archive, KECGlpsLogMetaData>(ar, "m_ptrMetaData"));
  storage.PutCatalog(LoadPointer<Archive, KECGlpsLogCatalog>(ar, "m_ptrCatalog"));
  storage.PutFileData(
      LoadPointer<Archive, std::vector<KECGlpsFileManagerData>>(ar, "m_ptrFileData"));
}

template <class Archive>
void serialize(Archive& ar, KECGlpsLogSessionDataStorage& storage, const unsigned int version) {
  split_free(ar, storage, version);
}

}  // namespace serialization
}  // namespace boost

KECGlpsLogSessionDataStorage::KECGlpsLogSessionDataStorage(
    const glps::platform::FileLocation& location)
    : m_location(location),
      m_nLoadedStatus(1),
      m_bLoadedInfoKnown(true),
      m_bWritten(false),
      m_ptrHeader(new KECGlpsLogHeader()),
      m_ptrMetaData(new KECGlpsLogMetaData()),
      m_ptrCatalog(new KECGlpsLogCatalog()),
      m_ptrFileData(new std::vector<KECGlpsFileManagerData>()) {}

KECGlpsLogSessionDataStorage::~KECGlpsLogSessionDataStorage() = default;

namespace {

// An info is whole or the no-log-info value: a hash that could not be made gives no size either.
KECGlpsLogInfo InfoOfBytes(const std::string& bytes) {
  KECGlpsLogInfo info;
  info.m_strLogHash = glps::crypto::Sha256Text(bytes.data(), bytes.size());
  if (!info.m_strLogHash.empty()) info.m_nLogSize = static_cast<std::int64_t>(bytes.size());
  return info;
}

}  // namespace

int KECGlpsLogSessionDataStorage::GetStatus() const {
  glps::platform::FileFacts facts;
  glps::platform::Stat(*m_location.directory, m_location.name, &facts);
  if (!facts.IsRegular()) return 1;
  return facts.readOnly ? 2 : 0;
}

KECGlpsLogInfo KECGlpsLogSessionDataStorage::GetLogInfo() const {
  std::string text;
  if (glps::platform::ReadWholeFile(*m_location.directory, m_location.name, &text,
                                    glps::archive_io::kMaxArchiveSize)) {
    return InfoOfBytes(text);
  }
  return KECGlpsLogInfo();
}

bool KECGlpsLogSessionDataStorage::MatchesLogInfo(const KECGlpsLogInfo& info) const {
  return GetLogInfo() == info;
}

bool KECGlpsLogSessionDataStorage::Load() {
  if (m_ptrFileData) m_ptrFileData->clear();
  m_nLoadedStatus = 1;
  m_infoLoaded = KECGlpsLogInfo();
  m_bLoadedInfoKnown = true;
  std::string text;
  glps::platform::FileFacts facts;
  const bool read = glps::platform::ReadWholeFile(*m_location.directory, m_location.name, &text,
                                                  glps::archive_io::kMaxArchiveSize, &facts);
  if (facts.kind != glps::platform::FileFacts::Kind::kRegular) return false;
  m_nLoadedStatus = facts.readOnly ? 2 : 0;
  if (!read) {
    m_bLoadedInfoKnown = false;
    m_infoLoaded.m_nLogSize = facts.size;
    return false;
  }
  m_infoLoaded = InfoOfBytes(text);
  return glps::archive_io::LoadXmlArchiveFromText(
      text, [this](glps::archive_io::XmlInputArchive& archive) {
        archive >> boost::serialization::make_nvp("Session", *this);
      });
}

bool KECGlpsLogSessionDataStorage::LoadedInfoMatches(const KECGlpsLogInfo& info) const {
  return m_bLoadedInfoKnown && m_infoLoaded == info;
}

bool KECGlpsLogSessionDataStorage::PrepareSave(KECGlpsLogXmlWriter* writer) {
  m_bWritten = false;
  m_infoWritten = KECGlpsLogInfo();
  m_replacement.Discard();
  if (!m_ptrHeader || !m_ptrMetaData || !m_ptrCatalog || !m_ptrFileData) return false;
  KECGlpsLogXmlWriter fresh;
  if (writer == nullptr) writer = &fresh;
  try {
    const std::string& text =
        writer->Write(*m_ptrHeader, *m_ptrMetaData, *m_ptrCatalog, *m_ptrFileData);
    if (!glps::archive_io::LoadableSize(text)) return false;
    if (!m_replacement.Prepare(*m_location.directory, m_location.name, text)) return false;
    m_infoPrepared = InfoOfBytes(text);
    return true;
  } catch (...) {
    // Out of memory for the text: nothing is written, as when the file cannot be.
    m_replacement.Discard();
    return false;
  }
}

bool KECGlpsLogSessionDataStorage::CommitSave() {
  bool inPlace = false;
  const bool saved = m_replacement.Commit(&inPlace);
  if (inPlace) {
    m_bWritten = true;
    m_infoWritten = m_infoPrepared;
  }
  return saved;
}

bool KECGlpsLogSessionDataStorage::CommitSaveSyncing(glps::platform::FileHandle alongside,
                                                     bool* alongsideSynced) {
  bool inPlace = false;
  const bool saved = m_replacement.CommitAfterSyncingWith(alongside, alongsideSynced, &inPlace);
  if (inPlace) {
    m_bWritten = true;
    m_infoWritten = m_infoPrepared;
  }
  return saved;
}

bool KECGlpsLogSessionDataStorage::Save(KECGlpsLogXmlWriter* writer) {
  return PrepareSave(writer) && CommitSave();
}
