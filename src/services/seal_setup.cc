// SPDX-License-Identifier: Apache-2.0
// The public face of sealing (glps/seal.h).
#include "glps/seal.h"

#include "seal/log_sealer.h"
#include "seal/seal_format.h"
#include "session/log_directory.h"
#include "session/session_data_storage.h"

bool KECGlpsSeal::Init(const std::string& directory, std::string* verificationKey,
                       std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (verificationKey == nullptr) {
    *error = "no place for the verification key was given";
    return false;
  }
  const KECGlpsLogDirectory log(directory);
  if (!log.GetDirectory()->IsOpen()) {
    *error = directory + ": not a directory, or it cannot be opened";
    return false;
  }
  // Holding the log's lock while the seal and key files are made: no host saves meanwhile, and a
  // host that has the log open keeps it unsealed until it opens it again.
  if (!log.IsHeld()) {
    *error = directory + ": another writer holds the log (is a host using it?)";
    return false;
  }
  KECGlpsLogSessionDataStorage storage(glps::platform::FileLocation(log.GetDirectory(), "log.xml"));
  const bool loaded = storage.Load();
  if (!loaded && storage.GetLoadedStatus() != 1) {
    *error = directory + ": log.xml cannot be read as a complete log archive";
    return false;
  }
  const KECGlpsLogInfo logXml = loaded ? storage.GetLoadedLogInfo() : KECGlpsLogInfo();
  return KECGlpsLogSealer::Setup(log.GetDirectory(), loaded ? storage.GetHeader().get() : nullptr,
                                 *storage.GetFileData(), logXml, verificationKey, error);
}

bool KECGlpsSeal::IsSealed(const std::string& directory) {
  const glps::platform::DirectoryPtr opened = glps::platform::OpenDirectory(directory, true);
  return opened->IsOpen() && (glps::platform::NameTaken(*opened, glps::seal::kSealFileName) ||
                              glps::platform::NameTaken(*opened, glps::seal::kKeyFileName));
}

bool KECGlpsSeal::IsVerificationKey(const std::string& text) {
  glps::crypto::SecretKey key;
  return glps::seal::ParseVerificationKey(text, &key);
}

const char* KECGlpsSeal::SealFileName() { return glps::seal::kSealFileName; }

const char* KECGlpsSeal::KeyFileName() { return glps::seal::kKeyFileName; }
