// SPDX-License-Identifier: Apache-2.0
#include "session/log_directory.h"

#include "filemanager/file_manager_data.h"

namespace platform = glps::platform;

KECGlpsLogDirectory::KECGlpsLogDirectory(const std::string& path)
    : m_ptrDirectory(platform::OpenDirectory(path)), m_hLock(platform::kInvalidHandle) {
  TakeLock();
}

KECGlpsLogDirectory::~KECGlpsLogDirectory() { platform::Close(m_hLock); }

std::string KECGlpsLogDirectory::MakePath(const std::string& fileName) const {
  return m_ptrDirectory->PathOf(fileName);
}

bool KECGlpsLogDirectory::TakeLock() {
  if (!IsHeld()) m_hLock = platform::TakeLock(*m_ptrDirectory, kLockFileName, true);
  return IsHeld();
}

bool KECGlpsLogDirectory::IsFree(const std::string& fileName) const {
  return !platform::NameTaken(*m_ptrDirectory, fileName);
}

bool KECGlpsLogDirectory::HasRegularFile(const std::string& fileName) const {
  platform::FileFacts facts;
  return platform::Stat(*m_ptrDirectory, fileName, &facts) && facts.IsRegular();
}

bool KECGlpsLogDirectory::IsShared(const std::string& fileName) const {
  platform::FileFacts facts;
  return platform::Stat(*m_ptrDirectory, fileName, &facts) && facts.IsRegular() && facts.links > 1;
}

bool KECGlpsLogDirectory::CreateNewFile(const std::string& fileName) const {
  const platform::FileHandle file =
      platform::OpenForWriting(*m_ptrDirectory, fileName, platform::OpenMode::kNew);
  platform::Close(file);
  return file != platform::kInvalidHandle;
}

bool KECGlpsLogDirectory::WriteFile(const std::string& fileName,
                                    const std::string& contents) const {
  return platform::ReplaceFile(*m_ptrDirectory, fileName, contents);
}

void KECGlpsLogDirectory::RemoveLeftovers(const std::vector<std::string>& fileNames) const {
  if (IsHeld()) platform::RemoveLeftoverTempFiles(*m_ptrDirectory, fileNames);
}

bool KECGlpsLogDirectory::ExportTo(const std::string& target,
                                   const std::vector<std::string>& fileNames) const {
  const platform::DirectoryPtr to = platform::OpenDirectory(target);
  if (!to->IsOpen() || !m_ptrDirectory->IsOpen() || to->SameAs(*m_ptrDirectory)) return false;
  // Another log's directory is written into only while its lock can be had, and held meanwhile.
  platform::FileHandle targetLock = platform::kInvalidHandle;
  if (platform::NameTaken(*to, kLockFileName)) {
    targetLock = platform::TakeLock(*to, kLockFileName, false);
    if (targetLock == platform::kInvalidHandle) return false;
  }
  bool result = true;
  for (const std::string& name : fileNames) {
    // A record whose name is not a plain file name (only a changed log.xml holds one) is never
    // looked up in either directory.
    if (!glps::IsPlainFileName(name) || name == kLockFileName ||
        !platform::CopyFile(*m_ptrDirectory, name, *to)) {
      result = false;
    }
  }
  platform::Close(targetLock);
  return result;
}
