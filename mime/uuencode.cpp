#include "mime/byte_source.h"
#include "mime/message_part.h"

namespace {

constexpr size_t kBlockBytes = 45;  // length character "M", 60 characters

// 0 is the grave accent, so that no line carries a blank that could be lost.
char UuChar(unsigned value) { return value == 0 ? '`' : static_cast<char>(0x20 + value); }

}  // namespace

bool CMessagePart::EncodeUuencode(CByteSource& source) {
  m_lines.clear();
  unsigned char block[kBlockBytes];
  char text[1 + kBlockBytes / 3 * 4 + 2];
  for (size_t n; (n = source.Read(reinterpret_cast<char*>(block), kBlockBytes)) > 0;) {
    size_t out = 0;
    text[out++] = UuChar(static_cast<unsigned>(n));
    for (size_t i = 0; i < n; i += 3) {
      // Past the real bytes the group is filled with zero bits; the length
      // character tells the decoder where the data stops.
      unsigned b0 = block[i];
      unsigned b1 = i + 1 < n ? block[i + 1] : 0;
      unsigned b2 = i + 2 < n ? block[i + 2] : 0;
      text[out++] = UuChar(b0 >> 2);
      text[out++] = UuChar((b0 & 0x03) << 4 | b1 >> 4);
      text[out++] = UuChar((b1 & 0x0F) << 2 | b2 >> 6);
      text[out++] = UuChar(b2 & 0x3F);
    }
    text[out++] = '\r';
    text[out++] = '\n';
    m_lines.push_back(std::string_view(text, out));
  }
  m_encoding.clear();
  m_uuencoded = true;
  return true;
}
