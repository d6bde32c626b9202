#include <array>
#include <cstring>
#include <string_view>

#include "mime/block_lines.h"
#include "mime/byte_source.h"
#include "mime/message_part.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kBlockBytes = 57;                      // 76 characters a line
constexpr size_t kLineBytes = kBlockBytes / 3 * 4 + 2;  // with CR LF

// The two characters of every 12-bit value, so that 3 bytes take two lookups.
constexpr std::array<char, 2 * 4096> kPairs = [] {
  std::array<char, 2 * 4096> pairs{};
  for (unsigned v = 0; v < 4096; ++v) {
    pairs[2 * v] = kAlphabet[v >> 6];
    pairs[2 * v + 1] = kAlphabet[v & 0x3F];
  }
  return pairs;
}();

// One line from a full block of 57 bytes.
void EncodeFullLine(const unsigned char* in, char* out) {
  for (size_t i = 0; i < kBlockBytes; i += 3) {
    const unsigned v = unsigned{in[i]} << 16 | unsigned{in[i + 1]} << 8 | in[i + 2];
    std::memcpy(out, &kPairs[2 * (v >> 12)], 2);
    std::memcpy(out + 2, &kPairs[2 * (v & 0xFFF)], 2);
    out += 4;
  }
  out[0] = '\r';
  out[1] = '\n';
}

// One line from a block of n bytes (1 to 57), padded as RFC 2045 says.
size_t EncodeLine(const unsigned char* block, size_t n, char* text) {
  size_t out = 0;
  for (size_t i = 0; i < n; i += 3) {
    unsigned b0 = block[i];
    unsigned b1 = i + 1 < n ? block[i + 1] : 0;
    unsigned b2 = i + 2 < n ? block[i + 2] : 0;
    text[out++] = kAlphabet[b0 >> 2];
    text[out++] = kAlphabet[(b0 & 0x03) << 4 | b1 >> 4];
    text[out++] = i + 1 < n ? kAlphabet[(b1 & 0x0F) << 2 | b2 >> 6] : '=';
    text[out++] = i + 2 < n ? kAlphabet[b2 & 0x3F] : '=';
  }
  text[out++] = '\r';
  text[out++] = '\n';
  return out;
}

}  // namespace

bool CMessagePart::EncodeBase64(CByteSource& source) {
  m_lines.clear();
  EncodeBlockLines<kBlockBytes, kLineBytes>(
      source, m_lines, [](const unsigned char* block, size_t n, char* text) {
        if (n < kBlockBytes) return EncodeLine(block, n, text);
        EncodeFullLine(block, text);
        return kLineBytes;
      });
  m_encoding = "base64";
  m_uuencoded = false;
  return true;
}
