// SPDX-License-Identifier: Apache-2.0
#include "crypto/seal_crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <cstring>

#include "crypto/md5_hash.h"

namespace glps {
namespace crypto {
namespace {

char g_sha256Name[] = "SHA256";

}  // namespace

SecretKey::SecretKey() { std::memset(m_bytes, 0, kSize); }

SecretKey::~SecretKey() { Wipe(); }

SecretKey::SecretKey(const SecretKey& other) { std::memcpy(m_bytes, other.m_bytes, kSize); }

SecretKey& SecretKey::operator=(const SecretKey& other) {
  if (this != &other) std::memcpy(m_bytes, other.m_bytes, kSize);
  return *this;
}

bool SecretKey::Randomize() {
  if (RAND_bytes(m_bytes, static_cast<int>(kSize)) == 1) return true;
  Wipe();
  return false;
}

void SecretKey::Assign(const unsigned char* bytes) { std::memcpy(m_bytes, bytes, kSize); }

void SecretKey::Wipe() { OPENSSL_cleanse(m_bytes, kSize); }

bool SecretKey::Equals(const SecretKey& other) const {
  return CRYPTO_memcmp(m_bytes, other.m_bytes, kSize) == 0;
}

std::string HmacSha256Hex(const SecretKey& key, const void* data, std::size_t count) {
  // Fetched for each use and released again: nothing stays allocated once the library is unloaded.
  EVP_MAC* const algorithm = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* context = algorithm != nullptr ? EVP_MAC_CTX_new(algorithm) : nullptr;
  EVP_MAC_free(algorithm);
  if (context == nullptr) return std::string();
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, g_sha256Name, 0),
      OSSL_PARAM_construct_end()};
  unsigned char mac[EVP_MAX_MD_SIZE];
  std::size_t length = 0;
  const bool ok = EVP_MAC_init(context, key.Bytes(), SecretKey::kSize, params) == 1 &&
                  EVP_MAC_update(context, static_cast<const unsigned char*>(data), count) == 1 &&
                  EVP_MAC_final(context, mac, &length, sizeof(mac)) == 1 && length == 32;
  EVP_MAC_CTX_free(context);
  if (!ok) return std::string();
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (std::size_t i = 0; i < length; ++i) {
    hex += kDigits[mac[i] >> 4];
    hex += kDigits[mac[i] & 15];
  }
  return hex;
}

bool HkdfExpand(const SecretKey& key, const std::string& info, unsigned char* out,
                std::size_t count) {
  EVP_KDF* const algorithm = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
  EVP_KDF_CTX* context = algorithm != nullptr ? EVP_KDF_CTX_new(algorithm) : nullptr;
  EVP_KDF_free(algorithm);
  if (context == nullptr) {
    Wipe(out, count);
    return false;
  }
  int mode = EVP_KDF_HKDF_MODE_EXPAND_ONLY;
  // OSSL_PARAM wants non-const buffers; none of them is written.
  std::string label = info;
  unsigned char secret[SecretKey::kSize];
  std::memcpy(secret, key.Bytes(), sizeof(secret));
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, g_sha256Name, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, secret, sizeof(secret)),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, &label[0], label.size()),
      OSSL_PARAM_construct_end()};
  const bool ok = EVP_KDF_derive(context, out, count, params) == 1;
  EVP_KDF_CTX_free(context);
  Wipe(secret, sizeof(secret));
  if (!ok) Wipe(out, count);
  return ok;
}

bool EqualInConstantTime(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

void Wipe(void* data, std::size_t count) { OPENSSL_cleanse(data, count); }

void Sha256Hash::ContextFree::operator()(evp_md_ctx_st* context) const { EVP_MD_CTX_free(context); }

Sha256Hash::Sha256Hash() : m_pContext(EVP_MD_CTX_new()) {
  if (m_pContext != nullptr && EVP_DigestInit_ex(m_pContext.get(), EVP_sha256(), nullptr) != 1) {
    m_pContext.reset();
  }
}

Sha256Hash::~Sha256Hash() = default;

bool Sha256Hash::Update(const void* data, std::size_t count) {
  if (m_pContext == nullptr) return false;
  if (count == 0) return true;
  if (EVP_DigestUpdate(m_pContext.get(), data, count) == 1) return true;
  m_pContext.reset();
  return false;
}

std::string Sha256Hash::Text() const {
  if (m_pContext == nullptr) return std::string();
  const std::unique_ptr<evp_md_ctx_st, ContextFree> copy(EVP_MD_CTX_new());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = copy != nullptr && EVP_MD_CTX_copy_ex(copy.get(), m_pContext.get()) == 1 &&
                  EVP_DigestFinal_ex(copy.get(), digest, &length) == 1 && length == 32;
  return ok ? Base64Encode(digest, length) : std::string();
}

std::string Sha256Hash::FinishText() {
  if (m_pContext == nullptr) return std::string();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = EVP_DigestFinal_ex(m_pContext.get(), digest, &length) == 1 && length == 32;
  m_pContext.reset();
  return ok ? Base64Encode(digest, length) : std::string();
}

}  // namespace crypto
}  // namespace glps
