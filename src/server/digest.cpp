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

std::string Sha256Base64(std::string_view bytes) {
  Sha256Digest digest{};
  unsigned char text[48] = {};  // 4 characters for each 3 bytes, and the ending NUL
  if (!Sha256(bytes, &digest)) return {};
  const int n = EVP_EncodeBlock(text, digest.data(), static_cast<int>(digest.size()));
  return std::string(reinterpret_cast<const char*>(text), n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace qlan::server
