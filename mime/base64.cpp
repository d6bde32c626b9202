#include "mime/byte_source.h"
#include "mime/message_part.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kBlockBytes = 57;  // 76 characters a line

}  // namespace

bool CMessagePart::EncodeBase64(CByteSource& source) {
  m_lines.clear();
  unsigned char block[kBlockBytes];
  char text[kBlockBytes / 3 * 4 + 2];
  for (size_t n; (n = source.Read(reinterpret_cast<char*>(block), kBlockBytes)) > 0;) {
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
    m_lines.push_back(std::string_view(text, out));
  }
  m_encoding = "base64";
  m_uuencoded = false;
  return true;
}
