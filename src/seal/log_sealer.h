// SPDX-License-Identifier: Apache-2.0
// KECGlpsLogSealer: the writer's side of a sealed log (the seal file and the sealing key), and the
// setting up of sealing.
#ifndef GLPS_SEAL_LOG_SEALER_H_
#define GLPS_SEAL_LOG_SEALER_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/seal_crypto.h"
#include "glps/records.h"
#include "platform/platform.h"
#include "seal/seal_format.h"

// The sealing of one log as its writer keeps it: the current sealing key k_n, read from the key
// file "log.seal-key", and the seal file "log.seal", to which Seal appends seal n and after which
// it replaces k_n by k_(n+1) in the key file, in place, before it returns.
//
// The key file holds two fixed-size slots, each with the log's seal identity, the number of the
// next seal, its key and a checksum; a change writes the second slot, syncs, then the first, and
// syncs again, so that an interruption at any point leaves one whole slot, and no slot keeps a key
// that has sealed once both are written. Reading takes the whole slot with the highest number. A
// save killed after the seal line reached the file but before the key moved on is recognised at
// the next opening (the last seal carries the key's number and verifies under it) and the key is
// moved on then; a seal line cut short by the kill is cut off before the next seal is appended. A
// seal file that lost seals keeps its numbering: the next seal takes the key's number, and the gap
// shows.
//
// Owned by the log session, which makes one when it opens a log whose directory holds a seal file
// or a key file (Open). Requires of its caller: the log's lock held for the object's whole life;
// one thread.
class KECGlpsLogSealer {
 public:
  // Looks at the sealing of the log in `directory`. Null when the directory holds neither a seal
  // file nor a key file (the log is not sealed); otherwise a sealer, which can seal unless the key
  // cannot be used (CanSeal, Problem). A key left behind one seal by an interrupted save is moved
  // on here.
  static std::unique_ptr<KECGlpsLogSealer> Open(const glps::platform::DirectoryPtr& directory);

  // Sets up sealing of the log in `directory`: makes a random verification key k0, writes the seal
  // file with seal 0 over the log's state (`header`, null when there is no log.xml, `records` and
  // the info of `logXml`, the default info when there is none; linked files are read now for their
  // SHA-256) and the key file with k1, and
  // hands out k0's text, which is never stored. False, with the reason, when the directory already
  // holds a key file, or a seal file with more than seal 0 (an interrupted setup is set up again),
  // or a file cannot be written. Requires the log's lock.
  static bool Setup(const glps::platform::DirectoryPtr& directory, const KECGlpsLogHeader* header,
                    const std::vector<KECGlpsFileManagerData>& records,
                    const KECGlpsLogInfo& logXml, std::string* verificationKey, std::string* error);

  ~KECGlpsLogSealer();
  KECGlpsLogSealer(const KECGlpsLogSealer&) = delete;
  KECGlpsLogSealer& operator=(const KECGlpsLogSealer&) = delete;

  bool CanSeal() const { return m_strProblem.empty(); }
  // Why the log cannot be sealed; empty when it can.
  const std::string& Problem() const { return m_strProblem; }
  // The number the next seal takes.
  std::uint64_t NextNumber() const { return m_nNext; }

  // The SHA-256 of a file just linked, taken in the same reading as its recorded fingerprint
  // (`size`, `md5`): the next seal commits to it while the record is still that one.
  void NoteLinked(const std::string& name, std::int64_t size, const std::string& md5,
                  const std::string& sha256);

  // Appends the seal of a save: log.xml as just written (`logXml`) with its `header` and
  // `records`, and the protected files of `records`, then moves the key on. False when the log
  // cannot be sealed or a step failed; a seal that reached the file counts (the key moves on) even
  // when making it durable failed.
  bool Seal(const KECGlpsLogHeader& header, const std::vector<KECGlpsFileManagerData>& records,
            const KECGlpsLogInfo& logXml);

 private:
  explicit KECGlpsLogSealer(glps::platform::DirectoryPtr directory);
  // Reads the key file and the seal file; sets m_strProblem when the key cannot be used.
  void Load();
  // Writes k_n (m_key, m_nNext) into both slots of the key file, in place.
  bool StoreKey();
  // The SHA-256 of every linked file of `records`: as noted or sealed before for the same size and
  // fingerprint, else read now (and kept only when the file still has the recorded fingerprint).
  std::map<std::string, std::string> LinkDigests(
      const std::vector<KECGlpsFileManagerData>& records);

  // Never null.
  glps::platform::DirectoryPtr m_ptrDirectory;
  // Empty while the log can be sealed.
  std::string m_strProblem;
  std::string m_strLogId;
  // k_n: the key of the next seal, numbered m_nNext.
  glps::crypto::SecretKey m_key;
  std::uint64_t m_nNext = 0;
  // What the seal file's seal lines commit to, folded in file order.
  glps::seal::SealState m_state;
  // The size of the seal file's whole lines; a longer file ends in a line cut short. -1: no seal
  // file.
  std::int64_t m_nSealFileSize = -1;
  // Linked files noted since the last seal: name to (size, fingerprint, SHA-256).
  std::map<std::string, glps::seal::SealedFile> m_noted;
};

#endif  // GLPS_SEAL_LOG_SEALER_H_
