#include "platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>

namespace platform {
namespace {

// Closes what BCrypt opened, in the reverse order, whatever path returns.
struct SHashHandles {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~SHashHandles() {
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

PUCHAR Bytes(std::string_view text) {
  // An empty text still needs a valid address.
  static UCHAR none = 0;
  return text.empty() ? &none : reinterpret_cast<PUCHAR>(const_cast<char*>(text.data()));
}

// The size-byte digest of data by algorithm; an HMAC when key is given.
std::string Digest(LPCWSTR algorithm, size_t size, const std::string_view* key,
                   std::string_view data) {
  SHashHandles h;
  UCHAR digest[64];
  if (size > sizeof digest ||
      !Succeeded(BCryptOpenAlgorithmProvider(&h.algorithm, algorithm, nullptr,
                                             key ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0)) ||
      !Succeeded(BCryptCreateHash(h.algorithm, &h.hash, nullptr, 0, key ? Bytes(*key) : nullptr,
                                  key ? static_cast<ULONG>(key->size()) : 0, 0)) ||
      (!data.empty() &&
       !Succeeded(BCryptHashData(h.hash, Bytes(data), static_cast<ULONG>(data.size()), 0))) ||
      !Succeeded(BCryptFinishHash(h.hash, digest, static_cast<ULONG>(size), 0))) {
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(digest), size);
}

}  // namespace

std::string Sha256(std::string_view data) {
  return Digest(BCRYPT_SHA256_ALGORITHM, 32, nullptr, data);
}

std::string HmacMd5(std::string_view key, std::string_view data) {
  return Digest(BCRYPT_MD5_ALGORITHM, 16, &key, data);
}

std::string SecureRandomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  if (count && !Succeeded(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data()),
                                          static_cast<ULONG>(count),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return std::string();
  }
  return bytes;
}

}  // namespace platform
