#include "smtp/auth_mechanisms.h"

#include <vector>

#include "base/ascii_text.h"
#include "base/printable_text.h"
#include "platform/crypto.h"

namespace {

constexpr const char* kNames[] = {"", "PLAIN", "LOGIN", "CRAM-MD5", "XOAUTH2", "OAUTHBEARER"};
constexpr int kMechanismCount = sizeof kNames / sizeof kNames[0];

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const size_t begin = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > begin) words.push_back(text.substr(begin, i - begin));
  }
  return words;
}

}  // namespace

const char* AuthMechanismName(int mechanism) {
  return mechanism > 0 && mechanism < kMechanismCount ? kNames[mechanism] : "";
}

int AuthMechanismFromName(std::string_view name) {
  for (int m = 1; m < kMechanismCount; ++m) {
    if (EqualsIgnoringCase(name, kNames[m])) return m;
  }
  return kAuthUnset;
}

bool OffersMechanism(std::string_view offered, int mechanism) {
  if (mechanism == kAuthUnset) return false;
  for (std::string_view word : Words(offered)) {
    if (EqualsIgnoringCase(word, AuthMechanismName(mechanism))) return true;
  }
  return false;
}

int ChooseAuthMechanism(std::string_view offered, int requested) {
  if (requested != kAuthUnset) return OffersMechanism(offered, requested) ? requested : kAuthUnset;
  // The password goes as it is with PLAIN and LOGIN, which TLS protects;
  // tokens are never chosen for a password.
  for (int m : {kAuthPlain, kAuthLogin, kAuthCramMd5}) {
    if (OffersMechanism(offered, m)) return m;
  }
  return kAuthUnset;
}

std::string ShownMechanisms(std::string_view offered) {
  constexpr size_t kLongest = 200;
  std::string shown;
  for (std::string_view word : Words(offered)) {
    if (!shown.empty()) shown.push_back(' ');
    AppendPrintable(shown, word, kKeywordText);
    if (shown.size() > kLongest) {
      shown.resize(kLongest);
      shown += "...";
      break;
    }
  }
  return shown;
}

std::string PlainCredential(const std::string& user, const std::string& password) {
  std::string credential;
  credential.reserve(user.size() + password.size() + 2);
  credential.push_back('\0');
  credential += user;
  credential.push_back('\0');
  credential += password;
  return credential;
}

std::string CramMd5Response(const std::string& user, const std::string& password,
                            std::string_view challenge) {
  const std::string digest = platform::HmacMd5(password, challenge);
  if (digest.size() != 16) return std::string();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string response = user + ' ';
  for (char c : digest) {
    const unsigned char byte = static_cast<unsigned char>(c);
    response.push_back(kHex[byte >> 4]);
    response.push_back(kHex[byte & 15]);
  }
  return response;
}

std::string Xoauth2Credential(const std::string& user, const std::string& token) {
  return "user=" + user + "\x01" + "auth=Bearer " + token + "\x01\x01";
}

std::string OauthBearerCredential(const std::string& user, const std::string& host,
                                  unsigned port, const std::string& token) {
  // In the GS2 header "," and "=" of the name are escaped (RFC 5801).
  std::string name;
  for (char c : user) {
    if (c == ',') {
      name += "=2C";
    } else if (c == '=') {
      name += "=3D";
    } else {
      name.push_back(c);
    }
  }
  std::string credential = "n,a=" + name + ",\x01" + "host=" + host + "\x01";
  if (port != 0) credential += "port=" + std::to_string(port) + "\x01";
  return credential + "auth=Bearer " + token + "\x01\x01";
}
