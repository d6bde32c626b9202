#include "platform/hmac.h"

#include <windows.h>
#include <bcrypt.h>

namespace platform {
namespace {

// Closes what BCrypt opened, in the reverse order, whatever path returns.
struct SHmacHandles {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~SHmacHandles() {
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

std::string HmacMd5(std::string_view key, std::string_view data) {
  SHmacHandles h;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&h.algorithm, BCRYPT_MD5_ALGORITHM, nullptr,
                                             BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
    return std::string();
  }
  // An empty key still needs a valid address.
  static UCHAR noKey = 0;
  PUCHAR keyBytes = key.empty() ? &noKey
                                : reinterpret_cast<PUCHAR>(const_cast<char*>(key.data()));
  if (!Succeeded(BCryptCreateHash(h.algorithm, &h.hash, nullptr, 0, keyBytes,
                                  static_cast<ULONG>(key.size()), 0))) {
    return std::string();
  }
  if (!data.empty() &&
      !Succeeded(BCryptHashData(h.hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                static_cast<ULONG>(data.size()), 0))) {
    return std::string();
  }
  UCHAR digest[16];
  if (!Succeeded(BCryptFinishHash(h.hash, digest, sizeof digest, 0))) return std::string();
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

}  // namespace platform
