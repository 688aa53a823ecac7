// SHA-256 from libcrypto.
#include "server/digest.h"

#include <openssl/evp.h>

#include <memory>

namespace qlan::server {

bool Sha256(std::string_view bytes, Sha256Digest* out) noexcept {
  unsigned int size = 0;
  return EVP_Digest(bytes.data(), bytes.size(), out->data(), &size, EVP_sha256(), nullptr) == 1 &&
         size == out->size();
}

bool RunDigest(std::uint32_t route, std::string_view payload, Sha256Digest* out) noexcept {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
  const unsigned char routeBytes[4] = {
      static_cast<unsigned char>(route >> 24), static_cast<unsigned char>(route >> 16),
      static_cast<unsigned char>(route >> 8), static_cast<unsigned char>(route)};
  unsigned int size = 0;
  return context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1 &&
         EVP_DigestUpdate(context.get(), routeBytes, sizeof routeBytes) == 1 &&
         EVP_DigestUpdate(context.get(), payload.data(), payload.size()) == 1 &&
         EVP_DigestFinal_ex(context.get(), out->data(), &size) == 1 && size == out->size();
}

}  // namespace qlan::server
