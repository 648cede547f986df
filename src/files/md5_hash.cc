#include "files/md5_hash.h"

#include <openssl/evp.h>

#include <algorithm>
#include <string>
#include <vector>

namespace glps {
namespace crypto {

Md5Hash::Md5Hash() : m_pContext(EVP_MD_CTX_new()) {
  if (m_pContext != nullptr && EVP_DigestInit_ex(m_pContext, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(m_pContext);
    m_pContext = nullptr;
  }
}

Md5Hash::~Md5Hash() { EVP_MD_CTX_free(m_pContext); }

bool Md5Hash::Update(const void* data, std::size_t count) {
  if (m_pContext == nullptr) return false;
  if (count == 0) return true;
  return EVP_DigestUpdate(m_pContext, data, count) == 1;
}

std::string Md5Hash::FingerprintText() const {
  if (m_pContext == nullptr) return std::string();
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  if (copy == nullptr) return std::string();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  bool ok = EVP_MD_CTX_copy_ex(copy, m_pContext) == 1 &&
            EVP_DigestFinal_ex(copy, digest, &length) == 1 && length > 0;
  EVP_MD_CTX_free(copy);
  if (!ok) return std::string();
  std::string text = Base64Encode(digest, length);
  std::string stripped;
  for (char c : text) {
    if (c != '\n' && c != '\r' && c != ' ') stripped.push_back(c);
  }
  return stripped;
}

std::string Base64Encode(const void* data, std::size_t count) {
  if (count == 0) return std::string();
  // EVP_EncodeBlock takes an int count; larger inputs are encoded in whole 3-byte groups.
  constexpr std::size_t kPiece = 3 * (1 << 28);
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  std::string text;
  std::vector<unsigned char> out;
  for (std::size_t done = 0; done < count;) {
    std::size_t piece = std::min(kPiece, count - done);
    out.resize(4 * ((piece + 2) / 3) + 1);
    int written = EVP_EncodeBlock(out.data(), bytes + done, static_cast<int>(piece));
    if (written < 0) return std::string();
    text.append(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(written));
    done += piece;
  }
  return text;
}

}  // namespace crypto
}  // namespace glps
