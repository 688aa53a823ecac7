// SHA-256 from libcrypto.
#include "server/digest.h"

#include <openssl/evp.h>

namespace qlan::server {

bool Sha256(std::string_view bytes, Sha256Digest* out) noexcept {
  unsigned int size = 0;
  return EVP_Digest(bytes.data(), bytes.size(), out->data(), &size, EVP_sha256(), nullptr) == 1 &&
         size == out->size();
}

}  // namespace qlan::server
