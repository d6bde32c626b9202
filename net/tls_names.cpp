#include "net/tls_names.h"

#include "base/ascii_text.h"
#include "net/ip_address.h"

namespace tls_names {
namespace {

std::string WithoutTrailingDot(const std::string& name) {
  return !name.empty() && name.back() == '.' ? name.substr(0, name.size() - 1) : name;
}

}  // namespace

bool ParseAddressLiteral(const std::string& host, std::string& bytes) {
  platform::SAddress address;
  if (!::ParseAddressLiteral(host, address)) return false;
  const size_t size = address.family == platform::SAddress::kIPv4 ? 4 : 16;
  bytes.assign(reinterpret_cast<const char*>(address.bytes), size);
  return true;
}

bool MatchesDnsName(const std::string& pattern, const std::string& host) {
  std::string want = AsciiLowered(WithoutTrailingDot(host));
  std::string have = AsciiLowered(WithoutTrailingDot(pattern));
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

std::string CertificateAddressText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (bytes.size() != 4 && bytes.size() != 16) return "an address";  // malformed
  std::string text;
  if (bytes.size() == 4) {
    for (size_t i = 0; i < 4; ++i) {
      if (i > 0) text += '.';
      text += std::to_string(static_cast<unsigned char>(bytes[i]));
    }
    return text;
  }
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    if (i > 0) text += ':';
    const unsigned group = static_cast<unsigned char>(bytes[i]) << 8 |
                           static_cast<unsigned char>(bytes[i + 1]);
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = group >> shift & 0xF;
      if (digit != 0 || started || shift == 0) {
        text += kHex[digit];
        started = true;
      }
    }
  }
  return text;
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
