// SPDX-License-Identifier: Apache-2.0
// An HTML log document: the hashed file the log entries are appended to, and the list of host
// entities logged into it, kept in a metadata sidecar next to it.
#ifndef GLPS_FILES_GLPS_FILE_HTML_H_
#define GLPS_FILES_GLPS_FILE_HTML_H_

#include <cstdint>
#include <string>
#include <vector>

#include "files/glps_file_hashed.h"
#include "glps/host/gen.h"
#include "glps/records.h"

class KECIGlpsFileManager;

// One host object logged into a document: its kind, the host's handle and its GUID. A copyable
// value; the values are those of the KECGlpsLogMetaDataEntity the host passed.
struct KECGlpsFileHtmlMetaDataEntity {
  KECGlpsFileHtmlMetaDataEntity();
  explicit KECGlpsFileHtmlMetaDataEntity(const KECGlpsLogMetaDataEntity& entity);

  Glps::ELogEntity m_eType;
  std::int32_t m_nHandle;
  KCGenGUID m_guid;
};

// The metadata of one document, persisted in its sidecar.
struct KECGlpsFileHtmlMetaData {
  // In the order the entities were added; duplicates allowed.
  std::vector<KECGlpsFileHtmlMetaDataEntity> m_vEntity;
};

// An HTML log document while it is open. The file is opened against its record (recorded
// fingerprint and size) and brought back to the recorded size, so writing continues exactly the
// content the record vouches for; the document adds no HTML of its own. Its entity list lives in
// the sidecar "<document name>.xml", an XML archive rewritten (atomically) at every Flush and then
// registered with the file manager, which fingerprints it like the document.
//
// Created on the heap by the file manager and shared between its document cache and the log
// session; not copyable. Requires of its callers: one thread; the file manager passed in outlives
// the document; no second writer on the document or its sidecar. Entities added after the last
// Flush are lost when the document is destroyed.
class KECGlpsFileHtml : public KECGlpsFileHashed {
 public:
  // Opens the document at `path` against the recorded fingerprint and size (created empty when
  // missing, then cut back or extended to `expectedSize`) and loads the sidecar, if there is a
  // readable one. The tamper finding of the open is not reported here; the file manager verifies
  // documents itself. `fileManager` may be null: the sidecar is then saved but registered nowhere.
  KECGlpsFileHtml(const glps::platform::FileLocation& location, const std::string& expectedHash,
                  std::int64_t expectedSize, KECIGlpsFileManager* fileManager);
  // The same, with the digest of the recorded content taken over from the verification that has
  // just read the very file `verifiedFile` (KECGlpsFileHashed's taking-over constructor); not
  // open, and the sidecar not loaded, when that digest cannot stand for the file opened.
  KECGlpsFileHtml(const glps::platform::FileLocation& location, const std::string& expectedHash,
                  std::int64_t expectedSize, KECIGlpsFileManager* fileManager,
                  const glps::crypto::Md5Hash& verified,
                  const glps::platform::FileFacts& verifiedFile);
  // A document that is not opened, for one that must not be written: its entities are loaded from
  // its sidecar (if there is a readable one); every write fails.
  KECGlpsFileHtml(const glps::platform::FileLocation& location, KECIGlpsFileManager* fileManager);
  // Neither flushes nor saves the sidecar.
  ~KECGlpsFileHtml() override;

  // Makes the HTML durable (KECGlpsFile::Flush), then saves the sidecar unless its content is the
  // one this document last saved (SaveMetaDataIfChanged); true only if both succeeded.
  bool Flush() override;

  // Appends a copy to the entity list; written at the next Flush. Always true.
  bool AddEntity(const KECGlpsFileHtmlMetaDataEntity& entity);
  bool AddEntity(const KECGlpsLogMetaDataEntity& entity);
  // The GUIDs of every entity with this type and handle, in stored order.
  std::vector<KCGenGUID> GetEntities(Glps::ELogEntity type, std::int32_t handle) const;
  const KECGlpsFileHtmlMetaData& GetMetaData() const { return m_meta; }

  // The sidecar's path: the document's path with the extension "xml" (for showing; the sidecar is
  // reached through the document's directory).
  std::string GetMetaDataFileName() const;
  // Replaces the entity list by the sidecar's. False when there is no readable sidecar (the list
  // stays as it was) or the sidecar is not a complete, well-formed archive of a known version (the
  // list keeps the entities read before the error).
  bool LoadMetaData();
  // Reads the text of a sidecar file into `meta` as LoadMetaData does: false when it is not a
  // complete, well-formed archive of a known version, `meta` then keeping the entities read before
  // the error.
  static bool ParseMetaData(const std::string& fileText, KECGlpsFileHtmlMetaData* meta);
  // Replaces the sidecar atomically with the entity list, then registers it with the file manager
  // (kind FileMetaData, hashed) with the fingerprint and size of the bytes written, never of a file
  // read back. False when the sidecar could not be written (it is not replaced when it has more
  // than one name or is read-only, nor when the archive would be larger than any sidecar that is
  // read back: archive_io::kMaxArchiveSize); nothing is registered then.
  bool SaveMetaData();
  // SaveMetaData, unless this document has saved the sidecar and no entity was added or loaded
  // since: the sidecar and its record then hold the entity list already, and are left as they are.
  // (Should anyone have changed the sidecar meanwhile, its record no longer fits it and the next
  // verification says so, instead of the change being overwritten and registered.)
  bool SaveMetaDataIfChanged();

 private:
  // The sidecar's name in the document's directory.
  std::string GetMetaDataName() const;

  KECGlpsFileHtmlMetaData m_meta;
  // This document saved the sidecar, and m_meta has not changed since.
  bool m_bMetaDataSaved = false;
  // Not owned; outlives this document.
  KECIGlpsFileManager* m_pFileManager;
};

#endif  // GLPS_FILES_GLPS_FILE_HTML_H_
