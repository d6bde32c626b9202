// A 64-bit checksum of a byte stream (the XXH64 function, seed 0), fed in
// pieces of any size. It tells whether a file still holds the bytes it held
// when it was first read: fast enough to run at the speed of the encoders,
// and written here so that neither system needs a library for it.
#pragma once

#include <cstddef>
#include <cstdint>

class CChecksum {
 public:
  CChecksum() { Reset(); }
  void Reset();
  void Update(const char* data, size_t size);
  // The checksum of every byte given since the last Reset.
  uint64_t Value() const;

 private:
  static constexpr size_t kStripe = 32;

  void ConsumeStripe(const unsigned char* stripe);

  uint64_t m_lanes[4];
  uint64_t m_total = 0;
  unsigned char m_pending[kStripe];  // the start of a stripe not yet whole
  size_t m_pendingSize = 0;
};
