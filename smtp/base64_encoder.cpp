#include "smtp/base64_encoder.h"

#include <cstring>

#include "mime/base64.h"

namespace {
// The decoder's alphabet; encoding is mime/base64's.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

std::string CBase64Encoder::EncodeText(const char* text) const {
  return text ? EncodeBytes(text, std::strlen(text)) : std::string();
}

std::string CBase64Encoder::EncodeBytes(const void* data, size_t length) const {
  std::string out;
  AppendBase64(out, std::string_view(static_cast<const char*>(data), length));
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
