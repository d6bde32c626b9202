#include "net/ip_address.h"

#include <cstdint>
#include <cstring>

#include "base/ascii_text.h"

bool ParseIPv4Literal(std::string_view text, platform::SAddress& address) {
  uint8_t out[4];
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    const size_t start = at;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
    }
    if (at == start || value > 255 || (text[start] == '0' && at - start > 1)) return false;
    out[part] = static_cast<uint8_t>(value);
  }
  if (at != text.size()) return false;
  address = platform::SAddress();
  address.family = platform::SAddress::kIPv4;
  for (int i = 0; i < 4; ++i) address.bytes[i] = out[i];
  return true;
}

bool ParseIPv6Literal(std::string_view text, platform::SAddress& address) {
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
    while (end < text.size() && AsciiHexValue(text[end]) >= 0) ++end;
    if (end < text.size() && text[end] == '.') {
      // A dotted IPv4 tail fills the last two groups.
      platform::SAddress tail;
      if (count > 6 || !ParseIPv4Literal(text.substr(at), tail)) return false;
      const uint8_t* quad = tail.bytes;
      groups[count++] = static_cast<uint16_t>(quad[0] << 8 | quad[1]);
      groups[count++] = static_cast<uint16_t>(quad[2] << 8 | quad[3]);
      at = text.size();
      break;
    }
    if (end == at || end - at > 4) return false;
    uint16_t value = 0;
    for (size_t i = at; i < end; ++i) {
      value = static_cast<uint16_t>(value << 4 | AsciiHexValue(text[i]));
    }
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

bool ParseAddressLiteral(std::string_view text, platform::SAddress& address) {
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  if (text.find(':') != std::string_view::npos) return ParseIPv6Literal(text, address);
  return ParseIPv4Literal(text, address);
}

bool ParseInetAddress(std::string_view text, platform::SAddress& address) {
  constexpr uint64_t kMost = 0xFFFFFFFFu;
  uint64_t parts[4] = {};
  int count = 0;
  size_t at = 0;
  for (;;) {
    // Every part starts with a digit; its base is C's.
    if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
    unsigned base = 10;
    if (text[at] == '0') {
      base = 8;
      if (at + 1 < text.size() && (text[at + 1] == 'x' || text[at + 1] == 'X') &&
          at + 2 < text.size() && AsciiHexValue(text[at + 2]) >= 0) {
        base = 16;
        at += 2;
      }
    }
    uint64_t value = 0;
    while (at < text.size()) {
      const int digit = AsciiHexValue(text[at]);
      if (digit < 0 || static_cast<unsigned>(digit) >= base) break;
      value = value * base + static_cast<unsigned>(digit);
      if (value > kMost) return false;
      ++at;
    }
    parts[count++] = value;
    if (at < text.size() && text[at] == '.') {
      if (count == 4 || value > 0xFF) return false;
      ++at;
      continue;
    }
    break;
  }
  if (at < text.size() && text[at] != ' ' && (text[at] < '\t' || text[at] > '\r')) return false;
  // The last part fills the bytes the others leave.
  const uint64_t last = parts[count - 1];
  if (last > (kMost >> (8 * (count - 1)))) return false;
  uint64_t whole = last;
  for (int i = 0; i < count - 1; ++i) whole |= parts[i] << (8 * (3 - i));
  if (whole == kMost) return false;
  address = platform::SAddress();
  address.family = platform::SAddress::kIPv4;
  for (int i = 0; i < 4; ++i) address.bytes[i] = static_cast<uint8_t>(whole >> (8 * (3 - i)));
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
