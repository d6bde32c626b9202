// Shared by the fuzz targets: a check that ends the run as a finding, and a
// host database that never leaves the process.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/socket.h"

// Unlike assert, active in every build: a failed oracle is a finding.
#define FUZZ_CHECK(condition)                                                     \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                               \
    }                                                                             \
  } while (false)

namespace fuzz {

inline bool OfflineLookupByName(const std::string& name, platform::HostEntry& entry) {
  entry.officialName = name;
  entry.addresses.assign(1, 0x0100007Fu);  // 127.0.0.1 in network byte order
  return true;
}

inline bool OfflineLookupByAddress(uint32_t, platform::HostEntry&) { return false; }

// Every connection object looks up the local host name when it is made; the
// targets make thousands of them a second.
inline void UseOfflineHostDatabase() {
  platform::SetHostLookupForTesting(OfflineLookupByName, OfflineLookupByAddress, "fuzz.test");
}

}  // namespace fuzz
