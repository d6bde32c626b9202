#include "platform/crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace platform {

std::string Sha256(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string HmacMd5(std::string_view key, std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // HMAC() keeps no state; an empty key still needs a valid address.
  static const unsigned char kNoKey = 0;
  const void* keyBytes = key.empty() ? static_cast<const void*>(&kNoKey) : key.data();
  if (HMAC(EVP_md5(), keyBytes, static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest,
           &length) == nullptr) {
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string SecureRandomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  if (count && RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()),
                          static_cast<int>(count)) != 1) {
    return std::string();
  }
  return bytes;
}

}  // namespace platform
