#include "net/tls_names.h"

#include "base/printable_text.h"

#include <cstdint>
#include <vector>

namespace tls_names {
namespace {

bool ParseIpv4(const std::string& text, std::string& bytes) {
  std::string out;
  size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    size_t start = pos;
    unsigned value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
    }
    // Leading zeros read as octal by some parsers: refuse them rather than guess.
    if (pos == start || value > 255 || (text[start] == '0' && pos - start > 1)) return false;
    out += static_cast<char>(value);
  }
  if (pos != text.size()) return false;
  bytes = out;
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseIpv6(const std::string& text, std::string& bytes) {
  std::vector<uint16_t> head;
  std::vector<uint16_t> tail;
  std::vector<uint16_t>* groups = &head;
  bool compressed = false;
  size_t pos = 0;
  if (text.compare(0, 2, "::") == 0) {
    compressed = true;
    groups = &tail;
    pos = 2;
  }
  while (pos < text.size()) {
    size_t end = text.find(':', pos);
    std::string group = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (end == std::string::npos && group.find('.') != std::string::npos) {
      std::string v4;
      if (!ParseIpv4(group, v4)) return false;
      groups->push_back(static_cast<uint16_t>((uint8_t(v4[0]) << 8) | uint8_t(v4[1])));
      groups->push_back(static_cast<uint16_t>((uint8_t(v4[2]) << 8) | uint8_t(v4[3])));
      pos = text.size();
      break;
    }
    if (group.empty() || group.size() > 4) return false;
    unsigned value = 0;
    for (char c : group) {
      int digit = HexValue(c);
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    groups->push_back(static_cast<uint16_t>(value));
    if (end == std::string::npos) {
      pos = text.size();
    } else if (text.compare(end, 2, "::") == 0) {
      if (compressed) return false;
      compressed = true;
      groups = &tail;
      pos = end + 2;
    } else {
      pos = end + 1;
      if (pos == text.size()) return false;  // a trailing single colon
    }
  }
  size_t count = head.size() + tail.size();
  if (compressed ? count > 7 : count != 8) return false;
  head.resize(8 - tail.size(), 0);
  head.insert(head.end(), tail.begin(), tail.end());
  bytes.clear();
  for (uint16_t group : head) {
    bytes += static_cast<char>(group >> 8);
    bytes += static_cast<char>(group & 0xff);
  }
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string WithoutTrailingDot(const std::string& name) {
  return !name.empty() && name.back() == '.' ? name.substr(0, name.size() - 1) : name;
}

}  // namespace

bool ParseAddressLiteral(const std::string& host, std::string& bytes) {
  std::string text = host;
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  if (text.find(':') != std::string::npos) return ParseIpv6(text, bytes);
  return ParseIpv4(text, bytes);
}

bool MatchesDnsName(const std::string& pattern, const std::string& host) {
  std::string want = Lower(WithoutTrailingDot(host));
  std::string have = Lower(WithoutTrailingDot(pattern));
  std::string address;
  if (want.empty() || have.empty() || ParseAddressLiteral(want, address)) return false;
  if (have.compare(0, 2, "*.") != 0) return have == want;
  std::string suffix = have.substr(1);  // ".example.org"
  if (suffix.find('*') != std::string::npos) return false;
  // At least two labels under the wildcard: "*.org" would cover a whole domain.
  if (suffix.find('.', 1) == std::string::npos) return false;
  if (want.size() <= suffix.size()) return false;
  size_t labelEnd = want.size() - suffix.size();
  return want.compare(labelEnd, std::string::npos, suffix) == 0 &&
         want.find('.') == labelEnd;
}

std::string NameMismatchReason(const std::string& certName, const std::string& host) {
  if (certName.empty()) return "certificate is not for " + host;
  std::string shown;
  AppendPrintable(shown, certName);
  return "certificate is for " + shown + ", not " + host;
}

std::string CertificateHostName(const std::string& host) {
  // An address literal keeps whatever the user wrote; it is no DNS name. The
  // zone of a link-local address names this machine's interface, which no
  // certificate can carry.
  std::string address;
  if (ParseAddressLiteral(host, address)) return host;
  const size_t percent = host.find('%');
  if (percent != std::string::npos && ParseAddressLiteral(host.substr(0, percent), address)) {
    return host.substr(0, percent);
  }
  return WithoutTrailingDot(host);
}

}  // namespace tls_names
