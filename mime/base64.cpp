#include "mime/base64.h"

#include <array>
#include <cstring>

#include "mime/block_lines.h"
#include "mime/byte_source.h"
#include "mime/message_part.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineLength = Base64Length(kBase64LineBytes) + 2;  // with CR LF

// The two characters of every 12-bit value, so that 3 bytes take two lookups.
constexpr std::array<char, 2 * 4096> kPairs = [] {
  std::array<char, 2 * 4096> pairs{};
  for (unsigned v = 0; v < 4096; ++v) {
    pairs[2 * v] = kAlphabet[v >> 6];
    pairs[2 * v + 1] = kAlphabet[v & 0x3F];
  }
  return pairs;
}();

}  // namespace

size_t EncodeBase64To(const unsigned char* in, size_t n, char* out) {
  const size_t whole = n / 3 * 3;
  char* to = out;
  for (size_t i = 0; i < whole; i += 3) {
    const unsigned v = unsigned{in[i]} << 16 | unsigned{in[i + 1]} << 8 | in[i + 2];
    std::memcpy(to, &kPairs[2 * (v >> 12)], 2);
    std::memcpy(to + 2, &kPairs[2 * (v & 0xFFF)], 2);
    to += 4;
  }
  if (n > whole) {
    const unsigned b0 = in[whole];
    const unsigned b1 = n - whole > 1 ? in[whole + 1] : 0;
    *to++ = kAlphabet[b0 >> 2];
    *to++ = kAlphabet[(b0 & 0x03) << 4 | b1 >> 4];
    *to++ = n - whole > 1 ? kAlphabet[(b1 & 0x0F) << 2] : '=';
    *to++ = '=';
  }
  return static_cast<size_t>(to - out);
}

void AppendBase64(std::string& out, std::string_view bytes) {
  const size_t at = out.size();
  out.resize(at + Base64Length(bytes.size()));
  EncodeBase64To(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                 out.data() + at);
}

bool CMessagePart::EncodeBase64(CByteSource& source) {
  m_lines.clear();
  EncodeBlockLines<kBase64LineBytes, kLineLength>(
      source, m_lines, [](const unsigned char* block, size_t n, char* text) {
        const size_t length = EncodeBase64To(block, n, text);
        text[length] = '\r';
        text[length + 1] = '\n';
        return length + 2;
      });
  m_encoding = "base64";
  m_uuencoded = false;
  return true;
}
