// SPDX-License-Identifier: Apache-2.0
// The general utilities of the host's libraries: GUIDs, times, the standard file header, the
// product version, file operations, file hashing, user names and a few string helpers.
//
// This is the reference build of these names, libglpshost.so. Everything here is meant for one
// host thread: none of the classes locks, and the singletons must not be used from two threads at
// once.
#ifndef GLPS_HOST_GEN_H_
#define GLPS_HOST_GEN_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>

#include "glps/export.h"

// A 128-bit globally unique identifier, a plain value. The null GUID has all bits clear.
// Text form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 32 hexadecimal digits, upper case when
// written, either case when read.
class GLPSHOST_API KCGenGUID {
 public:
  // false: the null GUID. true: a random version-4 GUID from the system's cryptographic random
  // source (the null GUID in the unlikely case that the source fails).
  explicit KCGenGUID(bool generate = false);
  // Parses the braced text form; any other text gives the null GUID.
  explicit KCGenGUID(const std::string& text);
  // Same as the string form. Without it a string literal would pick the bool constructor.
  explicit KCGenGUID(const char* text);

  bool IsNull() const;
  // The braced upper-case text form.
  std::string ToString() const;
  // Sets this GUID from the braced text form; returns false (and leaves the value unchanged) when
  // the text is not exactly that form.
  bool FromString(const std::string& text);

  bool operator==(const KCGenGUID& other) const { return m_bytes == other.m_bytes; }
  bool operator!=(const KCGenGUID& other) const { return m_bytes != other.m_bytes; }

 private:
  // The GUID in the order of its text form: byte 0 is the first two digits.
  std::array<unsigned char, 16> m_bytes;
};

// Writes the braced upper-case form.
GLPSHOST_API std::ostream& operator<<(std::ostream& os, const KCGenGUID& guid);
// Skips leading white space (unless skipws is off), then reads exactly the 38 characters of the
// braced form and nothing after it. Anything else sets failbit and leaves the GUID unchanged.
GLPSHOST_API std::istream& operator>>(std::istream& is, KCGenGUID& guid);

// An instant in UTC with microsecond resolution, or the null time. A plain value.
//
// Text form for streams (never contains a blank or '<', so it can stand as an element's text):
// "YYYY-MM-DDTHH:MM:SS.ffffffZ" in UTC, e.g. "2026-12-10T06:45:28.123456Z"; years outside
// 0000..9999 are written with as many digits as they need and a leading '-' when negative; the
// null time is written as "null". Every 64-bit instant has a text form that reads back to it.
class GLPSHOST_API KCGenTime {
 public:
  // true: the present time from the system clock. false: the null time.
  explicit KCGenTime(bool now = false);

  bool IsNull() const { return m_bNull; }
  void SetNull();
  // Microseconds since 1970-01-01T00:00:00Z; 0 for the null time.
  std::int64_t GetMicroseconds() const { return m_bNull ? 0 : m_lMicroseconds; }
  // Makes this time the given instant (never null afterwards).
  void SetMicroseconds(std::int64_t microseconds);
  // Makes this time the present time.
  void SetNow();
  static KCGenTime FromMicroseconds(std::int64_t microseconds);

  // The local date "YYYY-MM-DD". The null time, or an instant the system cannot convert to local
  // time, gives the empty text and false. Local time follows TZ as it stands at the call; without
  // TZ, a change of the system's time zone counts within a second.
  bool DateString(std::string* out) const;
  // The local time of day with the offset from UTC: "HH:MM:SS +01:00", or with milliseconds
  // "HH:MM:SS.mmm +01:00". An offset with seconds (historic local mean times) is written as
  // "+00:53:28". The null time, or an instant the system cannot convert, gives the empty text and
  // false.
  bool TimeString(std::string* out, bool withMilliseconds) const;

  // The stream text form described above.
  std::string ToString() const;
  // Sets this time from the stream text form; false (value unchanged) for anything else.
  bool FromString(const std::string& text);

  // Two null times are equal; a null time equals no instant.
  bool operator==(const KCGenTime& other) const {
    return m_bNull == other.m_bNull && (m_bNull || m_lMicroseconds == other.m_lMicroseconds);
  }
  bool operator!=(const KCGenTime& other) const { return !(*this == other); }

 private:
  bool m_bNull;
  // Meaningful only when not null.
  std::int64_t m_lMicroseconds;
};

// Writes the text form described at KCGenTime.
GLPSHOST_API std::ostream& operator<<(std::ostream& os, const KCGenTime& time);
// Skips leading white space (unless skipws is off), then reads up to the next white space, '<' or
// end of input, and parses that token. Malformed text or an instant outside the 64-bit range sets
// failbit and leaves the time unchanged.
GLPSHOST_API std::istream& operator>>(std::istream& is, KCGenTime& time);

// The standard header of the host's files. A plain record with public fields; the order of the
// fields is the order in which archives write them.
class GLPSHOST_API KCGenStandardFileHeader {
 public:
  // The kind of content a file holds. The values belong to the host's products; the library only
  // stores them.
  enum EContentType : std::int32_t {
    eContentTypeNone = 0,
  };
  // The kind of the description text. Likewise stored only.
  enum EDescription : std::int32_t {
    eDescriptionNone = 0,
  };

  KCGenStandardFileHeader();
  KCGenStandardFileHeader(const KCGenStandardFileHeader& other);
  KCGenStandardFileHeader& operator=(const KCGenStandardFileHeader& other);
  virtual ~KCGenStandardFileHeader();

  EContentType m_eContentType;
  std::uint16_t m_usContentVersion;
  KCGenTime m_tmCreation;
  std::string m_strUserCreation;
  KCGenTime m_tmModification;
  std::string m_strUserModification;
  std::string m_strSource;
  EDescription m_eDescription;
  std::string m_strDescription;
  KCGenGUID m_guid;
};

// The product's version as the build system states it.
class GLPSHOST_API KCGenVersionInfo {
 public:
  KCGenVersionInfo();
  virtual ~KCGenVersionInfo();
  // E.g. "0.1.0".
  std::string GetProductVersionLong() const;
};

// File operations on paths given as text.
//
// Symbolic links are not files to these operations: FileExists, FileIsReadOnly and FileGetSize
// answer false / 0 for a link (whatever it points to), GetFileHash gives no hash for one,
// Create_File and Copy_File refuse to write through a link (they fail), and Delete_File removes the
// link itself. The file classes of the log refuse links as well, so a link never passes for a log
// file.
class GLPSHOST_API KCGenFileUtils {
 public:
  // True when a regular file exists at the path.
  static bool FileExists(const std::string& path);
  // attributeOnly true: true when the path is a regular file whose write permission bits are all
  // clear (the read-only attribute), whoever runs the process, root included.
  // attributeOnly false: also true when this process may not write the file for another reason (for
  // instance a read-only file system).
  // A missing file, or one that is not a regular file, gives false.
  static bool FileIsReadOnly(const std::string& path, bool attributeOnly);
  // The size in bytes of a regular file; 0 when there is none at the path.
  static std::int64_t FileGetSize(const std::string& path);
  // Copies the source's bytes to the target. failIfExists true: fails when the target exists.
  // false: an existing target is overwritten. Fails when source and target are the same file (the
  // file is left as it was), when either is not a regular file, or on any read or write error (a
  // partly written target is removed). True when the target holds a copy of the source.
  static bool Copy_File(const std::string& source, const std::string& target, bool failIfExists);
  // Creates the file empty; an existing file is truncated to size 0.
  static bool Create_File(const std::string& path);
  // Removes the file. A missing file counts as deleted (true). A directory is not removed (false).
  static bool Delete_File(const std::string& path);
  // The part after the last '/' (the whole text when it has none).
  static std::string ExtractFileName(const std::string& path);
  // The name with the extension of its last path component replaced by (or, when it has none,
  // given) the extension ext, which may be passed with or without its dot. A dot in a directory
  // part or at the start of the last component does not begin an extension. An empty ext removes
  // the extension.  "a/b.html","xml" -> "a/b.xml";  "a/b","xml" -> "a/b.xml";  "d.x/b","xml" ->
  // "d.x/b.xml".
  static std::string MakeNameExtension(const std::string& name, const std::string& ext);
  // Joins directory and name with exactly one '/' between them (trailing slashes of the directory
  // and leading slashes of the name are dropped). An empty directory gives the name unchanged; an
  // empty name gives the directory with one trailing '/'.
  static std::string MakeNamePath(const std::string& directory, const std::string& name);
};

// File hashing. A singleton owned by the library; reached through Instance().
class GLPSHOST_API KCGenCryptUtils {
 public:
  static KCGenCryptUtils* Instance();

  // Prepares the cryptographic library; may be called more than once.
  bool InitCrypto();
  // Ends the use of the cryptographic library. Hashing keeps working afterwards.
  bool ExitCrypto();
  // The SHA-256 digest of the whole file as standard Base64 (44 characters), read in chunks. The
  // empty text when the path is not a readable regular file or a read fails.
  std::string GetFileHash(const std::string& path) const;

  KCGenCryptUtils(const KCGenCryptUtils&) = delete;
  KCGenCryptUtils& operator=(const KCGenCryptUtils&) = delete;

 private:
  KCGenCryptUtils();
  ~KCGenCryptUtils();

  bool m_bInitialized;
};

// User names. A singleton owned by the library; reached through Instance(). The host may override
// what the operating system says: the overrides are consulted first.
class GLPSHOST_API KCGenUserInfo {
 public:
  static KCGenUserInfo* Instance();

  // The login name of the user running the process: the override when one is set, else the
  // account of the effective user id (looked up once per user id and kept; the id itself is asked
  // of the system at most once a second per thread, so a switch of users counts within a second),
  // else $USER, else the user id as decimal text. True when a non-empty name was given.
  bool GetCurrentUserName(std::string* name) const;
  // The full name of the login: the override for that login when one is set, else the account's
  // GECOS field up to its first comma. True only when that gives a non-empty name; otherwise the
  // output is emptied.
  bool GetFullUserName(const std::string& login, std::string* fullName) const;

  // Overrides the current user's login name; the empty text removes the override.
  void SetCurrentUserName(const std::string& name);
  // Overrides the full name of a login. An empty full name is kept as an override too: that login
  // then has no full name, whatever the system says.
  void SetFullUserName(const std::string& login, const std::string& fullName);
  // Removes every override.
  void ClearOverrides();

  KCGenUserInfo(const KCGenUserInfo&) = delete;
  KCGenUserInfo& operator=(const KCGenUserInfo&) = delete;

 private:
  KCGenUserInfo();
  ~KCGenUserInfo();

  // Empty when not overridden.
  std::string m_strCurrentUserName;
  std::map<std::string, std::string> m_mapFullNames;
};

// String helpers.
struct GLPSHOST_API kstringutil {
  // True when the texts are equal ignoring the case of the ASCII letters.
  static bool equal_no_case(const std::string& a, const std::string& b);
  // Replaces every occurrence of find in text by replacement, scanning on after each inserted
  // replacement (a replacement that contains find is not replaced again). An empty find, or a null
  // text, replaces nothing. Returns the number of replacements.
  static std::size_t replace_all(std::string* text, const std::string& find,
                                 const std::string& replacement);
};

namespace Gen {
// The decimal text of the number.
GLPSHOST_API std::string convert2str(long value);
}  // namespace Gen

// Text constants of the library, per character type.
template <class C>
struct KCGenStringDefinesTraits;

template <>
struct GLPSHOST_API KCGenStringDefinesTraits<char> {
  // The empty text.
  static const std::string ms_strEmpty;
};

#endif  // GLPS_HOST_GEN_H_
