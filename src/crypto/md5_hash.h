// SPDX-License-Identifier: Apache-2.0
// The running MD5 digest behind a file's fingerprint, and the SHA-256 text that identifies a
// log.xml. Every OpenSSL call of the library is made here, so that the file classes see only this
// small interface.
#ifndef GLPS_CRYPTO_MD5_HASH_H_
#define GLPS_CRYPTO_MD5_HASH_H_

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace glps {
namespace crypto {

// An MD5 digest that grows piece by piece and can be read at any time without ending it.
//
// Owned by value by the object whose bytes it digests; not copyable. One thread at a time. When
// OpenSSL cannot provide MD5 (for instance under a FIPS-only configuration) the object is not
// valid: Update does nothing and the fingerprint text is empty.
class Md5Hash {
 public:
  Md5Hash();
  ~Md5Hash();
  Md5Hash(const Md5Hash&) = delete;
  Md5Hash& operator=(const Md5Hash&) = delete;

  bool IsValid() const { return m_pContext != nullptr; }

  // Makes this digest a copy of `other`'s, to be continued independently. False (this object then
  // of no further use) when either is not valid or OpenSSL fails.
  bool CopyFrom(const Md5Hash& other);

  // Adds `count` bytes to the digest. False when the object is not valid or OpenSSL fails; the
  // digest is then of no further use (the caller may keep calling, the text will simply be wrong
  // or empty).
  bool Update(const void* data, std::size_t count);

  // The digest of everything added so far as fingerprint text: standard Base64 of the 16 bytes,
  // with no line breaks or blanks (24 characters, ending in "=="). Works on a copy of the state,
  // so more data can be added afterwards. Empty when the object is not valid or OpenSSL fails.
  std::string FingerprintText() const;
  // The same text, written into `text` (whose storage is reused); false, with `text` emptied, when
  // there is none.
  bool FingerprintText(std::string* text) const;

 private:
  struct ContextFree {
    void operator()(evp_md_ctx_st* context) const;
  };
  using ContextPtr = std::unique_ptr<evp_md_ctx_st, ContextFree>;

  // The running state; null when it could not be created.
  ContextPtr m_pContext;
  // Where FingerprintText finalises its copy of the running state; made on first use and kept, so
  // that reading the fingerprint after every write allocates no context. Holds nothing between
  // calls.
  mutable ContextPtr m_pCopy;
};

// Standard Base64 (RFC 4648, "+" and "/", "=" padding) of `count` bytes, on one line.
std::string Base64Encode(const void* data, std::size_t count);

// The bytes of standard Base64 text as Base64Encode writes it (one line, padded to a multiple of
// four characters). False, with `bytes` unchanged, for any other text.
bool Base64Decode(const std::string& text, std::string* bytes);

// The hash text of a log.xml: standard Base64 of the SHA-256 digest of `count` bytes (44
// characters), the form the host keeps in its log info. Empty when OpenSSL fails.
std::string Sha256Text(const void* data, std::size_t count);

}  // namespace crypto
}  // namespace glps

#endif  // GLPS_CRYPTO_MD5_HASH_H_
