#include "mime/uuencode.h"

#include <array>
#include <cstring>
#include <string_view>

#include "mime/block_lines.h"
#include "mime/byte_source.h"
#include "mime/message_part.h"

namespace {

constexpr size_t kLineBytes = 1 + kUuencodeLineBytes / 3 * 4 + 2;  // with CR LF

// 0 is the grave accent, so that no line carries a blank that could be lost.
constexpr char UuChar(unsigned value) {
  return value == 0 ? '`' : static_cast<char>(0x20 + value);
}

// The two characters of every 12-bit value, so that 3 bytes take two lookups.
constexpr std::array<char, 2 * 4096> kPairs = [] {
  std::array<char, 2 * 4096> pairs{};
  for (unsigned v = 0; v < 4096; ++v) {
    pairs[2 * v] = UuChar(v >> 6);
    pairs[2 * v + 1] = UuChar(v & 0x3F);
  }
  return pairs;
}();

// One line from a block of n bytes (1 to 45). Past the real bytes the last
// group is filled with zero bits; the length character tells the decoder
// where the data stops.
size_t EncodeLine(const unsigned char* block, size_t n, char* text) {
  size_t out = 0;
  text[out++] = UuChar(static_cast<unsigned>(n));
  for (size_t i = 0; i < n; i += 3) {
    unsigned v = unsigned{block[i]} << 16;
    if (i + 1 < n) v |= unsigned{block[i + 1]} << 8;
    if (i + 2 < n) v |= block[i + 2];
    std::memcpy(text + out, &kPairs[2 * (v >> 12)], 2);
    std::memcpy(text + out + 2, &kPairs[2 * (v & 0xFFF)], 2);
    out += 4;
  }
  text[out++] = '\r';
  text[out++] = '\n';
  return out;
}

}  // namespace

bool CMessagePart::EncodeUuencode(CByteSource& source) {
  m_lines.clear();
  EncodeBlockLines<kUuencodeLineBytes, kLineBytes>(
      source, m_lines,
      [](const unsigned char* block, size_t n, char* text) { return EncodeLine(block, n, text); });
  m_encoding.clear();
  m_uuencoded = true;
  return true;
}
