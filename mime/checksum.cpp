#include "mime/checksum.h"

#include <cstring>

namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

uint64_t RotateLeft(uint64_t value, unsigned bits) {
  return value << bits | value >> (64 - bits);
}

// Little-endian loads: both systems the program runs on are little-endian,
// and memcpy keeps unaligned loads defined.
uint64_t Load64(const unsigned char* p) {
  uint64_t value;
  std::memcpy(&value, p, 8);
  return value;
}

uint32_t Load32(const unsigned char* p) {
  uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

uint64_t Round(uint64_t lane, uint64_t input) {
  lane += input * kPrime2;
  return RotateLeft(lane, 31) * kPrime1;
}

uint64_t MergeLane(uint64_t hash, uint64_t lane) {
  hash ^= Round(0, lane);
  return hash * kPrime1 + kPrime4;
}

}  // namespace

void CChecksum::Reset() {
  m_lanes[0] = kPrime1 + kPrime2;
  m_lanes[1] = kPrime2;
  m_lanes[2] = 0;
  m_lanes[3] = 0 - kPrime1;
  m_total = 0;
  m_pendingSize = 0;
}

void CChecksum::ConsumeStripe(const unsigned char* stripe) {
  for (int i = 0; i < 4; ++i) m_lanes[i] = Round(m_lanes[i], Load64(stripe + 8 * i));
}

void CChecksum::Update(const char* data, size_t size) {
  const auto* in = reinterpret_cast<const unsigned char*>(data);
  m_total += size;
  if (m_pendingSize > 0) {
    const size_t take = size < kStripe - m_pendingSize ? size : kStripe - m_pendingSize;
    std::memcpy(m_pending + m_pendingSize, in, take);
    m_pendingSize += take;
    in += take;
    size -= take;
    if (m_pendingSize < kStripe) return;
    ConsumeStripe(m_pending);
    m_pendingSize = 0;
  }
  for (; size >= kStripe; in += kStripe, size -= kStripe) ConsumeStripe(in);
  if (size > 0) std::memcpy(m_pending, in, size);
  m_pendingSize = size;
}

uint64_t CChecksum::Value() const {
  uint64_t hash;
  if (m_total >= kStripe) {
    hash = RotateLeft(m_lanes[0], 1) + RotateLeft(m_lanes[1], 7) + RotateLeft(m_lanes[2], 12) +
           RotateLeft(m_lanes[3], 18);
    for (uint64_t lane : m_lanes) hash = MergeLane(hash, lane);
  } else {
    hash = kPrime5;
  }
  hash += m_total;

  const unsigned char* p = m_pending;
  size_t left = m_pendingSize;
  for (; left >= 8; p += 8, left -= 8) {
    hash ^= Round(0, Load64(p));
    hash = RotateLeft(hash, 27) * kPrime1 + kPrime4;
  }
  if (left >= 4) {
    hash ^= uint64_t{Load32(p)} * kPrime1;
    hash = RotateLeft(hash, 23) * kPrime2 + kPrime3;
    p += 4;
    left -= 4;
  }
  for (; left > 0; ++p, --left) {
    hash ^= *p * kPrime5;
    hash = RotateLeft(hash, 11) * kPrime1;
  }

  hash ^= hash >> 33;
  hash *= kPrime2;
  hash ^= hash >> 29;
  hash *= kPrime3;
  hash ^= hash >> 32;
  return hash;
}
