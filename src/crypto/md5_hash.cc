// SPDX-License-Identifier: Apache-2.0
#include "crypto/md5_hash.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace glps {
namespace crypto {

void Md5Hash::ContextFree::operator()(evp_md_ctx_st* context) const { EVP_MD_CTX_free(context); }

Md5Hash::Md5Hash() : m_pContext(EVP_MD_CTX_new()) {
  if (m_pContext != nullptr && EVP_DigestInit_ex(m_pContext.get(), EVP_md5(), nullptr) != 1) {
    m_pContext.reset();
  }
}

Md5Hash::~Md5Hash() = default;

bool Md5Hash::Update(const void* data, std::size_t count) {
  if (m_pContext == nullptr) return false;
  if (count == 0) return true;
  return EVP_DigestUpdate(m_pContext.get(), data, count) == 1;
}

bool Md5Hash::CopyFrom(const Md5Hash& other) {
  if (m_pContext == nullptr || other.m_pContext == nullptr) return false;
  return EVP_MD_CTX_copy_ex(m_pContext.get(), other.m_pContext.get()) == 1;
}

std::string Md5Hash::FingerprintText() const {
  std::string text;
  FingerprintText(&text);
  return text;
}

bool Md5Hash::FingerprintText(std::string* text) const {
  text->clear();
  if (m_pContext == nullptr) return false;
  if (m_pCopy == nullptr) {
    m_pCopy.reset(EVP_MD_CTX_new());
    if (m_pCopy == nullptr) return false;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_MD_CTX_copy_ex(m_pCopy.get(), m_pContext.get()) != 1 ||
      EVP_DigestFinal_ex(m_pCopy.get(), digest, &length) != 1 || length == 0) {
    return false;
  }
  // Base64 of the digest, on one line: no line breaks or blanks to remove.
  unsigned char encoded[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
  const int written = EVP_EncodeBlock(encoded, digest, static_cast<int>(length));
  if (written <= 0) return false;
  text->assign(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(written));
  return true;
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

bool Base64Decode(const std::string& text, std::string* bytes) {
  if (text.size() % 4 != 0 || text.size() > (1u << 30)) return false;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
    ++padding;
  }
  // EVP_DecodeBlock would pass over blanks and stray characters: only the alphabet is taken.
  for (std::size_t i = 0; i + padding < text.size(); ++i) {
    const char c = text[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') return false;
  }
  std::vector<unsigned char> out(3 * (text.size() / 4) + 1);
  const int written =
      EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
  if (written < 0 || static_cast<std::size_t>(written) < padding) return false;
  bytes->assign(reinterpret_cast<const char*>(out.data()),
                static_cast<std::size_t>(written) - padding);
  return true;
}

std::string Sha256Text(const void* data, std::size_t count) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data, count, digest, &length, EVP_sha256(), nullptr) != 1 || length == 0) {
    return std::string();
  }
  return Base64Encode(digest, length);
}

}  // namespace crypto
}  // namespace glps
