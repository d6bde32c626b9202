// A random value for a system whose entropy source has failed.
#pragma once

#include <cstdint>

// Mixes a fine clock reading and the process id, which still differ between
// two runs in the same second, so that close inputs give distant values (one
// round of a 64-bit finaliser).
inline uint64_t FallbackRandom(uint64_t fineClock, uint64_t processId) {
  uint64_t value = fineClock ^ (processId << 40);
  value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
  value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
  return value ^ (value >> 31);
}
