// SPDX-License-Identifier: Apache-2.0
#include "files/glps_file_html.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include <boost/archive/basic_archive.hpp>
#include <boost/serialization/collection_size_type.hpp>
#include <boost/serialization/item_version_type.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/split_free.hpp>
#include <boost/serialization/version.hpp>

#include "filemanager/file_manager_data.h"
#include "files/document_names.h"
#include "serialization/archive_io.h"

// Sidecar layout: element "m_meta" (class version 0) holding "m_vEntity" (class version 0) in the
// archive's collection form, "count", "item_version", then one "item" (class version 0) per entity
// with "m_eType", "m_nHandle" and "m_guid" (the GUID's stream text). Nothing is tracked.
namespace boost {
namespace serialization {

template <class Archive>
void serialize(Archive& ar, KECGlpsFileHtmlMetaDataEntity& entity, const unsigned int version) {
  glps::archive_io::CheckClassVersion(version, 0);
  ar& make_nvp("m_eType", entity.m_eType);
  ar& make_nvp("m_nHandle", entity.m_nHandle);
  ar& make_nvp("m_guid", entity.m_guid);
}

// The entity vector as a list of archive_io (SaveList, LoadList).
template <class Archive>
void save(Archive& ar, const std::vector<KECGlpsFileHtmlMetaDataEntity>& entities,
          const unsigned int /*version*/) {
  glps::archive_io::SaveList(ar, entities);
}

template <class Archive>
void load(Archive& ar, std::vector<KECGlpsFileHtmlMetaDataEntity>& entities,
          const unsigned int fileVersion) {
  glps::archive_io::CheckClassVersion(fileVersion, 0);
  glps::archive_io::LoadList(ar, entities);
}

template <class Archive>
void serialize(Archive& ar, std::vector<KECGlpsFileHtmlMetaDataEntity>& entities,
               const unsigned int version) {
  split_free(ar, entities, version);
}

template <class Archive>
void serialize(Archive& ar, KECGlpsFileHtmlMetaData& meta, const unsigned int version) {
  glps::archive_io::CheckClassVersion(version, 0);
  ar& make_nvp("m_vEntity", meta.m_vEntity);
}

}  // namespace serialization
}  // namespace boost

KECGlpsFileHtmlMetaDataEntity::KECGlpsFileHtmlMetaDataEntity()
    : m_eType(static_cast<Glps::ELogEntity>(0)), m_nHandle(-1), m_guid(true) {}

KECGlpsFileHtmlMetaDataEntity::KECGlpsFileHtmlMetaDataEntity(const KECGlpsLogMetaDataEntity& entity)
    : m_eType(entity.m_eType), m_nHandle(entity.m_nHandle), m_guid(entity.m_guid) {}

KECGlpsFileHtml::KECGlpsFileHtml(const glps::platform::FileLocation& location,
                                 const std::string& expectedHash, std::int64_t expectedSize,
                                 KECIGlpsFileManager* fileManager)
    : KECGlpsFileHashed(location, expectedHash, expectedSize, true), m_pFileManager(fileManager) {
  LoadMetaData();
}

KECGlpsFileHtml::KECGlpsFileHtml(const glps::platform::FileLocation& location,
                                 const std::string& expectedHash, std::int64_t expectedSize,
                                 KECIGlpsFileManager* fileManager,
                                 const glps::crypto::Md5Hash& verified,
                                 const glps::platform::FileFacts& verifiedFile)
    : KECGlpsFileHashed(location, expectedHash, expectedSize, verified, verifiedFile),
      m_pFileManager(fileManager) {
  if (IsOpen()) LoadMetaData();
}

KECGlpsFileHtml::KECGlpsFileHtml(const glps::platform::FileLocation& location,
                                 KECIGlpsFileManager* fileManager)
    : KECGlpsFileHashed(location, NotOpened()), m_pFileManager(fileManager) {
  LoadMetaData();
}

KECGlpsFileHtml::~KECGlpsFileHtml() = default;

bool KECGlpsFileHtml::Flush() {
  const bool flushed = KECGlpsFile::Flush();
  const bool saved = SaveMetaDataIfChanged();
  return flushed && saved;
}

bool KECGlpsFileHtml::AddEntity(const KECGlpsFileHtmlMetaDataEntity& entity) {
  m_meta.m_vEntity.push_back(entity);
  m_bMetaDataSaved = false;
  return true;
}

bool KECGlpsFileHtml::AddEntity(const KECGlpsLogMetaDataEntity& entity) {
  return AddEntity(KECGlpsFileHtmlMetaDataEntity(entity));
}

std::vector<KCGenGUID> KECGlpsFileHtml::GetEntities(Glps::ELogEntity type,
                                                    std::int32_t handle) const {
  std::vector<KCGenGUID> guids;
  for (const KECGlpsFileHtmlMetaDataEntity& entity : m_meta.m_vEntity) {
    if (entity.m_eType == type && entity.m_nHandle == handle) guids.push_back(entity.m_guid);
  }
  return guids;
}

std::string KECGlpsFileHtml::GetMetaDataName() const { return glps::SidecarNameOf(m_strName); }

std::string KECGlpsFileHtml::GetMetaDataFileName() const {
  return m_ptrDirectory->PathOf(GetMetaDataName());
}

bool KECGlpsFileHtml::LoadMetaData() {
  m_bMetaDataSaved = false;
  return glps::archive_io::LoadXmlArchive(
      *m_ptrDirectory, GetMetaDataName(), [this](glps::archive_io::XmlInputArchive& archive) {
        archive >> boost::serialization::make_nvp("m_meta", m_meta);
      });
}

bool KECGlpsFileHtml::ParseMetaData(const std::string& fileText, KECGlpsFileHtmlMetaData* meta) {
  return glps::archive_io::LoadXmlArchiveFromText(
      fileText, [meta](glps::archive_io::XmlInputArchive& archive) {
        archive >> boost::serialization::make_nvp("m_meta", *meta);
      });
}

bool KECGlpsFileHtml::SaveMetaData() {
  const std::string sidecar = GetMetaDataName();
  // A document that itself carries the extension "xml" would be its own sidecar.
  if (sidecar == m_strName) return false;
  std::string written;
  const bool saved = glps::archive_io::SaveXmlArchive(
      *m_ptrDirectory, sidecar,
      [this](boost::archive::xml_oarchive& archive) {
        const KECGlpsFileHtmlMetaData& meta = m_meta;
        archive << boost::serialization::make_nvp("m_meta", meta);
      },
      &written);
  if (!saved) return false;
  if (m_pFileManager != nullptr) {
    // The record vouches for the bytes written: whatever took the sidecar's place since is found
    // by the next verification instead of being registered.
    glps::crypto::Md5Hash digest;
    digest.Update(written.data(), written.size());
    KECGlpsFileManagerData record;
    record.m_eType = Glps::FileMetaData;
    record.m_strFileName = sidecar;
    record.m_strHash = digest.FingerprintText();
    record.m_nSize = static_cast<std::int64_t>(written.size());
    record.m_bHashed = true;
    if (record.m_strHash.empty() || !m_pFileManager->SetFileData(record)) return false;
  }
  m_bMetaDataSaved = true;
  return true;
}

bool KECGlpsFileHtml::SaveMetaDataIfChanged() { return m_bMetaDataSaved || SaveMetaData(); }
