// SPDX-License-Identifier: Apache-2.0
// The cryptography of sealed logs: random keys, HMAC-SHA-256, the one-way step from one sealing key
// to the next (HKDF), and a running SHA-256. Like md5_hash.h, this is part of the library's crypto
// layer: every OpenSSL call that sealing needs is made here and nowhere else.
#ifndef GLPS_CRYPTO_SEAL_CRYPTO_H_
#define GLPS_CRYPTO_SEAL_CRYPTO_H_

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace glps {
namespace crypto {

// A 256-bit secret: a sealing key or a verification key. Its bytes are wiped (OPENSSL_cleanse)
// whenever they are replaced and when the object goes away, so that no copy outlives its use in
// memory the library owns. Copyable (each copy wipes its own bytes). All zeros until set.
class SecretKey {
 public:
  static constexpr std::size_t kSize = 32;

  SecretKey();
  ~SecretKey();
  SecretKey(const SecretKey& other);
  SecretKey& operator=(const SecretKey& other);

  // Fills the key from the system's random source (RAND_bytes). False, leaving zeros, on failure.
  bool Randomize();
  // Sets the key from exactly kSize bytes.
  void Assign(const unsigned char* bytes);
  // Wipes the key back to zeros.
  void Wipe();

  const unsigned char* Bytes() const { return m_bytes; }
  // Compares in constant time.
  bool Equals(const SecretKey& other) const;

 private:
  unsigned char m_bytes[kSize];
};

// HMAC-SHA-256 of `count` bytes under `key`, as 64 lowercase hexadecimal digits. Empty when
// OpenSSL fails.
std::string HmacSha256Hex(const SecretKey& key, const void* data, std::size_t count);

// HKDF-Expand (RFC 5869) with SHA-256 of the pseudorandom key `key` and the label `info`, giving
// `count` bytes into `out` (at most 255 * 32). A one-way step: `out` reveals nothing of `key`.
// False when OpenSSL fails (`out` is then wiped).
bool HkdfExpand(const SecretKey& key, const std::string& info, unsigned char* out,
                std::size_t count);

// Equal texts, compared in constant time for texts of the same length (CRYPTO_memcmp).
bool EqualInConstantTime(const std::string& a, const std::string& b);

// Wipes `count` bytes so that the compiler cannot leave the wiping out (OPENSSL_cleanse).
void Wipe(void* data, std::size_t count);

// A SHA-256 digest that grows piece by piece, read at the end as Base64 text (44 characters).
// Owned by value by whoever digests; not copyable; one thread. Not valid when OpenSSL cannot give
// SHA-256: Update then fails and the text is empty.
class Sha256Hash {
 public:
  Sha256Hash();
  ~Sha256Hash();
  Sha256Hash(const Sha256Hash&) = delete;
  Sha256Hash& operator=(const Sha256Hash&) = delete;

  bool IsValid() const { return m_pContext != nullptr; }
  bool Update(const void* data, std::size_t count);
  // The digest of everything added so far, as standard Base64, taken from a copy of the running
  // state: more can be added afterwards. Empty when the object is not valid or OpenSSL fails.
  std::string Text() const;
  // The digest of everything added so far, as standard Base64; the digest is ended (a later Update
  // fails). Empty when the object is not valid or OpenSSL failed.
  std::string FinishText();

 private:
  struct ContextFree {
    void operator()(evp_md_ctx_st* context) const;
  };

  // Null when it could not be created, or once a step failed or the digest was ended.
  std::unique_ptr<evp_md_ctx_st, ContextFree> m_pContext;
};

}  // namespace crypto
}  // namespace glps

#endif  // GLPS_CRYPTO_SEAL_CRYPTO_H_
