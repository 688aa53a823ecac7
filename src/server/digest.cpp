// SHA-256 from libcrypto.
#include "server/digest.h"

#include <openssl/evp.h>

namespace qlan::server {

bool Sha256(std::string_view bytes, Sha256Digest* out) noexcept {
  unsigned int size = 0;
  return EVP_Digest(bytes.data(), bytes.size(), out->data(), &size, EVP_sha256(), nullptr) == 1 &&
         size == out->size();
}

std::string Sha256Base64(std::string_view bytes) {
  Sha256Digest digest{};
  unsigned char text[48] = {};  // 4 characters for each 3 bytes, and the ending NUL
  if (!Sha256(bytes, &digest)) return {};
  const int n = EVP_EncodeBlock(text, digest.data(), static_cast<int>(digest.size()));
  return std::string(reinterpret_cast<const char*>(text), n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace qlan::server
