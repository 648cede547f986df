// SPDX-License-Identifier: Apache-2.0
#include "seal/log_sealer.h"

#include <cstdio>

#include "filemanager/file_manager_data.h"
#include "files/read_only_fingerprint.h"

namespace platform = glps::platform;
namespace seal = glps::seal;
using glps::crypto::SecretKey;

namespace {

// A seal file is a line per save; one this large is not the library's.
const std::int64_t kMaxSealFileSize = std::int64_t{256} << 20;
const std::int64_t kMaxKeyFileSize = 4096;
// How far an opening follows the seal file ahead of the key file (one seal after a save that was
// interrupted; more only when an older key file was put back).
const std::uint64_t kMaxKeySteps = 100000;

const char kSlotPrefix[] = "glps-seal-key 1 log=";

// The checksum of a slot: the SHA-256 (Base64) of the slot's text before it.
std::string Checksum(const std::string& text) {
  glps::crypto::Sha256Hash hash;
  hash.Update(text.data(), text.size());
  return hash.FinishText();
}

std::string HexOf(const SecretKey& key) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < SecretKey::kSize; ++i) {
    hex += kDigits[key.Bytes()[i] >> 4];
    hex += kDigits[key.Bytes()[i] & 15];
  }
  return hex;
}

// One slot of the key file: "glps-seal-key 1 log=<id> next=<20 digits> key=<64 hex>
// check=<Base64>\n", always of the same length.
std::string SlotText(const std::string& logId, std::uint64_t next, const SecretKey& key) {
  char number[24];
  std::snprintf(number, sizeof(number), "%020llu", static_cast<unsigned long long>(next));
  std::string text = kSlotPrefix + logId + " next=" + number + " key=" + HexOf(key);
  const std::string check = Checksum(text);
  text += " check=" + check + "\n";
  return text;
}

std::size_t SlotSize() {
  static const std::size_t size = SlotText(std::string(32, '0'), 0, SecretKey()).size();
  return size;
}

// Reads one slot; false when it is not whole (a write cut short) or not a slot.
bool ParseSlot(const std::string& slot, std::string* logId, std::uint64_t* next, SecretKey* key) {
  if (slot.size() != SlotSize() || slot.back() != '\n') return false;
  const std::size_t checkAt = slot.rfind(" check=");
  if (checkAt == std::string::npos) return false;
  const std::string text = slot.substr(0, checkAt);
  if (slot.substr(checkAt + 7, slot.size() - checkAt - 8) != Checksum(text)) return false;
  const std::size_t prefix = sizeof(kSlotPrefix) - 1;
  if (text.compare(0, prefix, kSlotPrefix) != 0) return false;
  // The fields are at fixed places: id (32), " next=" and 20 digits, " key=" and 64 digits.
  if (text.size() != prefix + 32 + 6 + 20 + 5 + 64 || text.compare(prefix + 32, 6, " next=") != 0 ||
      text.compare(prefix + 58, 5, " key=") != 0) {
    return false;
  }
  std::uint64_t value = 0;
  for (std::size_t i = prefix + 38; i < prefix + 58; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  std::string keyHex = text.substr(prefix + 63);
  const bool ok = seal::ParseVerificationKey(keyHex, key);
  glps::crypto::Wipe(&keyHex[0], keyHex.size());
  if (!ok) return false;
  *logId = text.substr(prefix, 32);
  *next = value;
  return true;
}

// The SHA-256 of the linked file `name`, read now, when the file still has the fingerprint and size
// of its record (the one reading gives both); empty otherwise.
std::string ReadLinkDigest(const platform::Directory& directory,
                           const KECGlpsFileManagerData& record) {
  glps::crypto::Sha256Hash sha256;
  const glps::FoundFile found =
      glps::FingerprintReadOnly(directory, record.m_strFileName, INT64_MAX, nullptr, nullptr,
                                nullptr, nullptr, INT64_MAX, &sha256);
  if (found.state != glps::FoundFile::State::kRegular || found.links > 1 ||
      found.size != record.m_nSize || found.hashed != found.size ||
      found.hash != record.m_strHash) {
    return std::string();
  }
  return sha256.FinishText();
}

// Splits the text of a seal file into its header and whole lines; `whole` receives the length of
// the text up to its last line end.
void SplitLines(const std::string& text, std::vector<std::string>* lines, std::int64_t* whole) {
  lines->clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    lines->push_back(text.substr(start, end - start));
    start = end + 1;
  }
  *whole = static_cast<std::int64_t>(start);
}

}  // namespace

KECGlpsLogSealer::KECGlpsLogSealer(platform::DirectoryPtr directory)
    : m_ptrDirectory(std::move(directory)) {}

KECGlpsLogSealer::~KECGlpsLogSealer() = default;

std::unique_ptr<KECGlpsLogSealer> KECGlpsLogSealer::Open(const platform::DirectoryPtr& directory) {
  if (!directory || !directory->IsOpen()) return nullptr;
  if (!platform::NameTaken(*directory, seal::kSealFileName) &&
      !platform::NameTaken(*directory, seal::kKeyFileName)) {
    return nullptr;
  }
  std::unique_ptr<KECGlpsLogSealer> sealer(new KECGlpsLogSealer(directory));
  sealer->Load();
  return sealer;
}

void KECGlpsLogSealer::Load() {
  // The key: the whole slot with the highest number.
  std::string keyText;
  platform::FileFacts facts;
  if (!platform::ReadWholeFile(*m_ptrDirectory, seal::kKeyFileName, &keyText, kMaxKeyFileSize,
                               &facts)) {
    m_strProblem = facts.kind == platform::FileFacts::Kind::kMissing
                       ? "the sealing key (log.seal-key) is missing"
                       : "the sealing key (log.seal-key) cannot be read";
    return;
  }
  bool found = false;
  for (std::size_t at = 0; at + SlotSize() <= keyText.size(); at += SlotSize()) {
    std::string id;
    std::uint64_t next = 0;
    SecretKey key;
    if (ParseSlot(keyText.substr(at, SlotSize()), &id, &next, &key) && (!found || next > m_nNext)) {
      found = true;
      m_strLogId = id;
      m_nNext = next;
      m_key = key;
    }
  }
  glps::crypto::Wipe(&keyText[0], keyText.size());
  if (!found) {
    m_strProblem = "the sealing key (log.seal-key) holds no whole key";
    return;
  }
  // Permissions that someone widened are taken back at once.
  if ((facts.permissions & 077) != 0) {
    const platform::FileHandle file = platform::OpenForWriting(*m_ptrDirectory, seal::kKeyFileName,
                                                               platform::OpenMode::kExisting);
    const bool narrowed = platform::MakeOwnerOnly(file);
    platform::Close(file);
    if (!narrowed) {
      m_strProblem = "the sealing key (log.seal-key) is open to others and cannot be made private";
      return;
    }
  }

  // The seal file, if any: its state and where its whole lines end.
  std::string text;
  facts = platform::FileFacts();
  if (!platform::ReadWholeFile(*m_ptrDirectory, seal::kSealFileName, &text, kMaxSealFileSize,
                               &facts)) {
    if (facts.kind != platform::FileFacts::Kind::kMissing) {
      m_strProblem = "the seal file (log.seal) cannot be read";
    }
    return;
  }
  std::vector<std::string> lines;
  SplitLines(text, &lines, &m_nSealFileSize);
  std::string id;
  if (lines.empty() || !seal::ParseHeaderLine(lines[0], &id) || id != m_strLogId) {
    m_strProblem = "the seal file (log.seal) is not the one of this log's sealing key";
    return;
  }
  bool haveLast = false;
  seal::SealLine last;
  std::string lastText;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    seal::SealLine line;
    std::string lineText;
    if (!seal::ParseSealLine(lines[i], &line, &lineText)) continue;
    seal::FoldSeal(line, &m_state);
    haveLast = true;
    last = line;
    lastText = lineText;
  }
  // A save killed after its seal reached the file and before the key moved on: the last seal is
  // made with the key's own number (or a later one, when an older key file was put back) and
  // verifies under it. The key moves on past it now, so that no key that has sealed stays on disk.
  if (haveLast && last.number >= m_nNext && last.number - m_nNext <= kMaxKeySteps) {
    SecretKey key = m_key;
    bool ok = true;
    for (std::uint64_t n = m_nNext; ok && n < last.number; ++n) ok = seal::NextKey(key, &key);
    if (ok && glps::crypto::EqualInConstantTime(seal::MacOf(key, m_strLogId, lastText), last.mac)) {
      if (!seal::NextKey(key, &m_key)) {
        m_strProblem = "the sealing key cannot be moved on";
        return;
      }
      m_nNext = last.number + 1;
      if (!StoreKey()) m_strProblem = "the sealing key (log.seal-key) cannot be written";
    }
  }
}

bool KECGlpsLogSealer::StoreKey() {
  std::string slot = SlotText(m_strLogId, m_nNext, m_key);
  const platform::FileHandle file =
      platform::OpenForWriting(*m_ptrDirectory, seal::kKeyFileName, platform::OpenMode::kExisting);
  // The second slot first: until it is whole on disk the first still holds the key before. The
  // file keeps its size, so syncing its data is enough.
  const auto put = [&](std::int64_t offset) {
    return platform::Seek(file, offset) &&
           platform::Write(file, slot.data(), static_cast<std::uint32_t>(slot.size())).first &&
           platform::SyncData(file);
  };
  const bool ok = file != platform::kInvalidHandle && platform::MakeOwnerOnly(file) &&
                  put(static_cast<std::int64_t>(SlotSize())) && put(0);
  platform::Close(file);
  glps::crypto::Wipe(&slot[0], slot.size());
  return ok;
}

void KECGlpsLogSealer::NoteLinked(const std::string& name, std::int64_t size,
                                  const std::string& md5, const std::string& sha256) {
  seal::SealedFile& noted = m_noted[name];
  noted.kind = Glps::FileLink;
  noted.name = name;
  noted.size = size;
  noted.md5 = md5;
  noted.sha256 = sha256;
}

std::map<std::string, std::string> KECGlpsLogSealer::LinkDigests(
    const std::vector<KECGlpsFileManagerData>& records) {
  std::map<std::string, std::string> digests;
  for (const KECGlpsFileManagerData& record : records) {
    if (record.m_eType != Glps::FileLink || !record.m_bHashed ||
        digests.count(record.m_strFileName)) {
      continue;
    }
    const auto same = [&record](const seal::SealedFile& file) {
      return file.size == record.m_nSize && file.md5 == record.m_strHash && !file.sha256.empty();
    };
    const auto noted = m_noted.find(record.m_strFileName);
    const auto sealed = m_state.find(record.m_strFileName);
    if (noted != m_noted.end() && same(noted->second)) {
      digests[record.m_strFileName] = noted->second.sha256;
    } else if (sealed != m_state.end() && same(sealed->second)) {
      digests[record.m_strFileName] = sealed->second.sha256;
    } else if (glps::IsPlainFileName(record.m_strFileName)) {
      // Linked before the log was sealed, or re-based since: the file as it is now, if it still
      // has its recorded fingerprint.
      const std::string digest = ReadLinkDigest(*m_ptrDirectory, record);
      if (!digest.empty()) digests[record.m_strFileName] = digest;
    }
  }
  return digests;
}

bool KECGlpsLogSealer::Seal(const KECGlpsLogHeader& header,
                            const std::vector<KECGlpsFileManagerData>& records,
                            const KECGlpsLogInfo& logXml) {
  if (!CanSeal()) return false;
  seal::SealLine line;
  line.number = m_nNext;
  line.time = seal::TimeNow();
  line.logXml = logXml;
  line.bound = true;
  line.binding = seal::BindingOf(&header, records);
  const seal::SealState now = seal::StateOfRecords(records, LinkDigests(records));
  seal::SetChanges(m_state, now, &line);
  if (line.binding.header.empty() || line.binding.documentsHash.empty()) return false;
  const std::string text = seal::SealText(line);
  line.mac = seal::MacOf(m_key, m_strLogId, text);
  if (line.mac.empty()) return false;

  // One write: the line (after the header when the file is new), at the end of the whole lines,
  // so that a line cut short by an interrupted save is overwritten.
  std::string bytes = seal::SealLineText(line) + "\n";
  const bool isNew = m_nSealFileSize < 0;
  if (isNew) bytes = seal::HeaderLine(m_strLogId) + "\n" + bytes;
  const platform::FileHandle file =
      platform::OpenForWriting(*m_ptrDirectory, seal::kSealFileName,
                               isNew ? platform::OpenMode::kNew : platform::OpenMode::kExisting);
  const std::int64_t at = isNew ? 0 : m_nSealFileSize;
  bool written =
      file != platform::kInvalidHandle && platform::Truncate(file, at) &&
      platform::Write(file, bytes.data(), static_cast<std::uint32_t>(bytes.size())).first;
  if (!written && file != platform::kInvalidHandle) platform::Truncate(file, at);
  // The data and the file's new size; its times need no sync.
  const bool durable = written && platform::SyncData(file);
  platform::Close(file);
  if (!written) return false;
  m_nSealFileSize = at + static_cast<std::int64_t>(bytes.size());
  m_state = now;
  m_noted.clear();

  // k_n has sealed: k_(n+1) replaces it, in memory and on disk, before the save returns.
  SecretKey next;
  if (!seal::NextKey(m_key, &next)) {
    m_key.Wipe();
    m_strProblem = "the sealing key cannot be moved on";
    return false;
  }
  m_key = next;
  ++m_nNext;
  const bool stored = StoreKey();
  if (!stored) m_strProblem = "the sealing key (log.seal-key) cannot be written";
  return durable && stored;
}

bool KECGlpsLogSealer::Setup(const platform::DirectoryPtr& directory,
                             const KECGlpsLogHeader* header,
                             const std::vector<KECGlpsFileManagerData>& records,
                             const KECGlpsLogInfo& logXml, std::string* verificationKey,
                             std::string* error) {
  if (!directory || !directory->IsOpen()) {
    *error = "the log directory cannot be opened";
    return false;
  }
  if (platform::NameTaken(*directory, seal::kKeyFileName)) {
    *error = "the log is sealed already (it has a sealing key, log.seal-key)";
    return false;
  }
  std::string existing;
  platform::FileFacts facts;
  if (platform::ReadWholeFile(*directory, seal::kSealFileName, &existing, kMaxSealFileSize,
                              &facts)) {
    // Only a setup that was interrupted before it stored its key is set up again: its seal file
    // holds nothing but seal 0.
    std::vector<std::string> lines;
    std::int64_t whole = 0;
    SplitLines(existing, &lines, &whole);
    seal::SealLine line;
    const bool onlySealZero =
        lines.size() <= 2 &&
        (lines.size() < 2 || (seal::ParseSealLine(lines[1], &line, nullptr) && line.number == 0));
    if (!onlySealZero) {
      *error = "the log has a seal file (log.seal) with seals but no sealing key";
      return false;
    }
  } else if (facts.kind != platform::FileFacts::Kind::kMissing) {
    *error = "something that is not a readable seal file is under the name log.seal";
    return false;
  }

  SecretKey k0;
  if (!k0.Randomize()) {
    *error = "no random key could be made";
    return false;
  }
  KECGlpsLogSealer sealer(directory);
  sealer.m_strLogId = seal::LogIdOf(k0);
  sealer.m_key = k0;
  sealer.m_nNext = 0;
  seal::SealLine line;
  line.number = 0;
  line.time = seal::TimeNow();
  line.logXml = logXml;
  line.bound = true;
  line.binding = seal::BindingOf(header, records);
  const seal::SealState state = seal::StateOfRecords(records, sealer.LinkDigests(records));
  seal::SetChanges(seal::SealState(), state, &line);
  line.mac = seal::MacOf(k0, sealer.m_strLogId, seal::SealText(line));
  SecretKey k1;
  const bool bound =
      (header == nullptr || !line.binding.header.empty()) && !line.binding.documentsHash.empty();
  if (sealer.m_strLogId.empty() || line.mac.empty() || !bound || !seal::NextKey(k0, &k1)) {
    *error = "the cryptography failed";
    return false;
  }
  const std::string sealFile =
      seal::HeaderLine(sealer.m_strLogId) + "\n" + seal::SealLineText(line) + "\n";
  if (!platform::ReplaceFile(*directory, seal::kSealFileName, sealFile)) {
    *error = "the seal file (log.seal) cannot be written";
    return false;
  }
  std::string keyFile = SlotText(sealer.m_strLogId, 1, k1);
  keyFile += keyFile;
  const bool stored = platform::ReplaceOwnerOnlyFile(*directory, seal::kKeyFileName, keyFile);
  glps::crypto::Wipe(&keyFile[0], keyFile.size());
  if (!stored) {
    *error = "the sealing key (log.seal-key) cannot be written";
    return false;
  }
  *verificationKey = seal::VerificationKeyText(k0);
  return true;
}
