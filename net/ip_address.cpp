#include "net/ip_address.h"

#include <cstdint>
#include <cstring>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four decimal parts of 0 to 255 (no more than three digits each), the
// whole of text.
bool ParseDottedQuad(const std::string& text, uint8_t out[4]) {
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    int value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + (text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    out[part] = static_cast<uint8_t>(value);
  }
  return at == text.size();
}

}  // namespace

bool ParseIPv6Literal(const std::string& text, platform::SAddress& address) {
  uint16_t groups[8] = {};
  int count = 0;
  int gap = -1;  // where "::" stands, in groups
  size_t at = 0;
  if (text.compare(0, 2, "::") == 0) {
    gap = 0;
    at = 2;
  } else if (!text.empty() && text[0] == ':') {
    return false;
  }
  while (at < text.size()) {
    if (count == 8) return false;
    size_t end = at;
    while (end < text.size() && HexValue(text[end]) >= 0) ++end;
    if (end < text.size() && text[end] == '.') {
      // A dotted IPv4 tail fills the last two groups.
      uint8_t quad[4];
      if (count > 6 || !ParseDottedQuad(text.substr(at), quad)) return false;
      groups[count++] = static_cast<uint16_t>(quad[0] << 8 | quad[1]);
      groups[count++] = static_cast<uint16_t>(quad[2] << 8 | quad[3]);
      at = text.size();
      break;
    }
    if (end == at || end - at > 4) return false;
    uint16_t value = 0;
    for (size_t i = at; i < end; ++i) value = static_cast<uint16_t>(value << 4 | HexValue(text[i]));
    groups[count++] = value;
    at = end;
    if (at == text.size()) break;
    if (text[at] != ':') return false;
    ++at;
    if (at < text.size() && text[at] == ':') {
      if (gap >= 0) return false;
      gap = count;
      ++at;
    } else if (at == text.size()) {
      return false;  // a single trailing colon
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return false;
  uint16_t full[8] = {};
  const int tail = gap < 0 ? 0 : count - gap;
  for (int i = 0; i < count - tail; ++i) full[i] = groups[i];
  for (int i = 0; i < tail; ++i) full[8 - tail + i] = groups[gap + i];
  address = platform::SAddress();
  address.family = platform::SAddress::kIPv6;
  for (int i = 0; i < 8; ++i) {
    address.bytes[2 * i] = static_cast<uint8_t>(full[i] >> 8);
    address.bytes[2 * i + 1] = static_cast<uint8_t>(full[i] & 0xFF);
  }
  return true;
}

std::string FormatAddress(const platform::SAddress& address) {
  const uint8_t* b = address.bytes;
  auto dotted = [](const uint8_t* q) {
    return std::to_string(q[0]) + "." + std::to_string(q[1]) + "." + std::to_string(q[2]) + "." +
           std::to_string(q[3]);
  };
  if (address.family == platform::SAddress::kIPv4) return dotted(b);
  if (address.family != platform::SAddress::kIPv6) return std::string();
  static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::memcmp(b, kMapped, 12) == 0) return "::ffff:" + dotted(b + 12);
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = static_cast<uint16_t>(b[2 * i] << 8 | b[2 * i + 1]);
  int bestStart = -1;
  int bestLength = 1;  // a single zero group is never shortened
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int digit = groups[i] >> shift & 0xF;
      if (digit != 0 || started || shift == 0) {
        text += kHex[digit];
        started = true;
      }
    }
  }
  return text;
}
