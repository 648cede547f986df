// SPDX-License-Identifier: Apache-2.0
// KCGenCryptUtils: the file hash behind a log's identity.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "glps/host/gen.h"
#include "host/posix_util.h"

namespace {

constexpr std::size_t kHashChunk = 64 * 1024;

struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

}  // namespace

KCGenCryptUtils* KCGenCryptUtils::Instance() {
  static KCGenCryptUtils instance;
  return &instance;
}

KCGenCryptUtils::KCGenCryptUtils() : m_bInitialized(false) {}
KCGenCryptUtils::~KCGenCryptUtils() = default;

bool KCGenCryptUtils::InitCrypto() {
  // OpenSSL 3 initialises itself on first use; asking for it explicitly reports a failure early.
  m_bInitialized = OPENSSL_init_crypto(0, nullptr) == 1;
  return m_bInitialized;
}

bool KCGenCryptUtils::ExitCrypto() {
  // OPENSSL_cleanup would make every later use of the library fail for the rest of the process,
  // also in other libraries of the host; there is nothing of ours to release.
  m_bInitialized = false;
  return true;
}

std::string KCGenCryptUtils::GetFileHash(const std::string& path) const {
  const int fd = glpshost::OpenRegularForReading(path);
  if (fd < 0) return std::string();
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
  std::vector<unsigned char> buffer(kHashChunk);
  while (ok) {
    const ssize_t n = glpshost::ReadSome(fd, buffer.data(), buffer.size());
    if (n < 0) ok = false;
    if (n <= 0) break;
    ok = EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<std::size_t>(n)) == 1;
  }
  glpshost::CloseFd(fd);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (!ok || EVP_DigestFinal_ex(ctx.get(), digest, &digestLength) != 1) return std::string();
  // Base64 of 32 bytes: 44 characters and the terminating zero.
  unsigned char text[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
  const int textLength = EVP_EncodeBlock(text, digest, static_cast<int>(digestLength));
  if (textLength <= 0) return std::string();
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(textLength));
}
