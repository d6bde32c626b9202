#include "platform/hmac.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace platform {

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

}  // namespace platform
