#include "platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>

namespace platform {
namespace {

struct SHashHandles {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~SHashHandles() {
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

std::string Sha256(std::string_view data) {
  SHashHandles h;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&h.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !Succeeded(BCryptCreateHash(h.algorithm, &h.hash, nullptr, 0, nullptr, 0, 0))) {
    return std::string();
  }
  if (!data.empty() &&
      !Succeeded(BCryptHashData(h.hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                static_cast<ULONG>(data.size()), 0))) {
    return std::string();
  }
  UCHAR digest[32];
  if (!Succeeded(BCryptFinishHash(h.hash, digest, sizeof digest, 0))) return std::string();
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
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
