#include "smtp/base64_encoder.h"

#include <cstring>

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

std::string CBase64Encoder::EncodeText(const char* text) const {
  return text ? EncodeBytes(text, std::strlen(text)) : std::string();
}

std::string CBase64Encoder::EncodeBytes(const void* data, size_t length) const {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const unsigned b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
    out.push_back(kAlphabet[b0 >> 2]);
    out.push_back(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
    out.push_back(kAlphabet[((b1 & 15) << 2) | (b2 >> 6)]);
    out.push_back(kAlphabet[b2 & 63]);
  }
  if (length - i == 1) {
    const unsigned b0 = bytes[i];
    out.push_back(kAlphabet[b0 >> 2]);
    out.push_back(kAlphabet[(b0 & 3) << 4]);
    out.append("==");
  } else if (length - i == 2) {
    const unsigned b0 = bytes[i], b1 = bytes[i + 1];
    out.push_back(kAlphabet[b0 >> 2]);
    out.push_back(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
    out.push_back(kAlphabet[(b1 & 15) << 2]);
    out.push_back('=');
  }
  return out;
}

bool DecodeBase64(std::string_view text, std::string& bytes) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  bytes.clear();
  if (text.size() % 4 == 1) return false;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    const char* found = c == '\0' ? nullptr : std::strchr(kAlphabet, c);
    if (found == nullptr) return false;
    buffer = (buffer << 6) | static_cast<unsigned>(found - kAlphabet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return true;
}
