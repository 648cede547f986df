// SPDX-License-Identifier: Apache-2.0
#include "files/glps_file.h"

#include <cstdint>
#include <limits>
#include <string>

namespace platform = glps::platform;

KECGlpsFile::KECGlpsFile(const platform::FileLocation& location)
    : KECGlpsFile(location, platform::OpenMode::kExistingOrNew) {}

KECGlpsFile::KECGlpsFile(const platform::FileLocation& location, platform::OpenMode mode)
    : m_ptrDirectory(location.directory),
      m_strPath(location.Path()),
      m_strName(location.name),
      m_eRefusal(platform::OpenRefusal::kNone),
      m_hFile(platform::OpenForWriting(*m_ptrDirectory, m_strName, mode, &m_eRefusal)) {}

KECGlpsFile::KECGlpsFile(const platform::FileLocation& location, NotOpened)
    : m_ptrDirectory(location.directory),
      m_strPath(location.Path()),
      m_strName(location.name),
      m_eRefusal(platform::OpenRefusal::kFailed),
      m_hFile(platform::kInvalidHandle) {}

KECGlpsFile::~KECGlpsFile() { Close(); }

bool KECGlpsFile::IsOpen() const { return m_hFile != platform::kInvalidHandle; }

bool KECGlpsFile::Flush() { return IsOpen() && platform::SyncData(m_hFile); }

bool KECGlpsFile::Truncate(std::int64_t size) {
  return IsOpen() && platform::Truncate(m_hFile, size);
}

KECGlpsIoResult KECGlpsFile::Read(void* buffer, std::uint32_t count) {
  if (!IsOpen()) return KECGlpsIoResult(false, 0);
  KECGlpsIoResult result = platform::Read(m_hFile, buffer, count);
  OnRead(buffer, count, result);
  return result;
}

KECGlpsIoResult KECGlpsFile::Write(const std::string& text) {
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) return KECGlpsIoResult(false, 0);
  return Write(text.data(), static_cast<std::uint32_t>(text.size()));
}

KECGlpsIoResult KECGlpsFile::Write(const void* buffer, std::uint32_t count) {
  if (!IsOpen()) return KECGlpsIoResult(false, 0);
  KECGlpsIoResult result = platform::Write(m_hFile, buffer, count);
  OnWritten(buffer, count, result);
  return result;
}

void KECGlpsFile::OnRead(void*, std::uint32_t, const KECGlpsIoResult&) {}

void KECGlpsFile::OnWritten(const void*, std::uint32_t, const KECGlpsIoResult&) {}

std::int64_t KECGlpsFile::GetSize() const {
  if (!IsOpen()) return 0;
  return platform::Size(m_hFile);
}

const std::string& KECGlpsFile::GetFileName() const { return m_strName; }

bool KECGlpsFile::GetIdentity(platform::FileFacts* facts) const {
  return IsOpen() && platform::Stat(m_hFile, facts);
}

bool KECGlpsFile::IsStillInPlace() const {
  platform::FileFacts open, named;
  return GetIdentity(&open) && platform::Stat(*m_ptrDirectory, m_strName, &named) &&
         open.SameFileAs(named);
}

bool KECGlpsFile::Seek(std::int64_t offset) { return IsOpen() && platform::Seek(m_hFile, offset); }

void KECGlpsFile::Close() {
  platform::Close(m_hFile);
  m_hFile = platform::kInvalidHandle;
}
