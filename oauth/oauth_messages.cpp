#include "oauth/oauth_messages.h"

#include <nlohmann/json.hpp>

#include "base/percent_decoding.h"

namespace {

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_' || c == '~';
}

std::string Encode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (Unreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string StringMember(const nlohmann::json& object, const char* name) {
  auto found = object.find(name);
  if (found == object.end() || !found->is_string()) return std::string();
  return found->get<std::string>();
}

// Servers send numbers, some as strings ("expires_in": "3599").
int64_t NumberMember(const nlohmann::json& object, const char* name) {
  auto found = object.find(name);
  if (found == object.end()) return 0;
  if (found->is_number_integer()) return found->get<int64_t>();
  if (found->is_number()) return static_cast<int64_t>(found->get<double>());
  if (found->is_string()) {
    const std::string text = found->get<std::string>();
    int64_t value = 0;
    for (char c : text) {
      if (c < '0' || c > '9' || value > 1000000000000LL) return 0;
      value = value * 10 + (c - '0');
    }
    return value;
  }
  return 0;
}

}  // namespace

std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    out += Encode(name) + '=' + Encode(value);
  }
  return out;
}

TokenAnswer ParseTokenAnswer(const std::string& body) {
  TokenAnswer answer;
  nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return answer;
  answer.parsed = true;
  answer.error = StringMember(json, "error");
  answer.accessToken = StringMember(json, "access_token");
  answer.refreshToken = StringMember(json, "refresh_token");
  answer.expiresIn = NumberMember(json, "expires_in");
  answer.deviceCode = StringMember(json, "device_code");
  answer.userCode = StringMember(json, "user_code");
  answer.verificationUri = StringMember(json, "verification_uri");
  // Microsoft's v1 endpoints and Google before RFC 8628 say "verification_url".
  if (answer.verificationUri.empty()) answer.verificationUri = StringMember(json, "verification_url");
  answer.interval = NumberMember(json, "interval");
  return answer;
}

bool ParseTokenFile(const std::string& body, TokenSet& tokens) {
  nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return false;
  tokens.accessToken = StringMember(json, "access_token");
  tokens.refreshToken = StringMember(json, "refresh_token");
  tokens.expiresAt = NumberMember(json, "expires_at");
  return !tokens.accessToken.empty() || !tokens.refreshToken.empty();
}

std::string FormatTokenFile(const TokenSet& tokens) {
  nlohmann::json json = nlohmann::json::object();
  json["access_token"] = tokens.accessToken;
  if (!tokens.refreshToken.empty()) json["refresh_token"] = tokens.refreshToken;
  json["expires_at"] = tokens.expiresAt;
  return json.dump(2) + "\n";
}

std::string Base64Url(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) |
                 uint8_t(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(v >> shift) & 63];
  }
  size_t left = bytes.size() - i;
  if (left) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (left == 2) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    if (left == 2) out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

std::string PkceChallenge(const std::string& verifierSha256) { return Base64Url(verifierSha256); }

std::string AuthorizeAddress(const std::string& authorizeUrl, const std::string& clientId,
                             const std::string& redirectUri, const std::string& scope,
                             const std::string& state, const std::string& challenge) {
  std::string query = FormEncode({{"response_type", "code"},
                                  {"client_id", clientId},
                                  {"redirect_uri", redirectUri},
                                  {"scope", scope},
                                  {"state", state},
                                  {"code_challenge", challenge},
                                  {"code_challenge_method", "S256"}});
  return authorizeUrl + (authorizeUrl.find('?') == std::string::npos ? '?' : '&') + query;
}

RedirectResult ParseRedirect(const std::string& requestLine, const std::string& expectedState) {
  RedirectResult result;
  if (requestLine.rfind("GET ", 0) != 0) {
    result.error = "the browser sent no sign-in answer";
    return result;
  }
  size_t end = requestLine.find(' ', 4);
  std::string target = requestLine.substr(4, end == std::string::npos ? end : end - 4);
  size_t question = target.find('?');
  if (question == std::string::npos) {
    result.error = "the browser sent no sign-in answer";
    return result;
  }
  std::string query = target.substr(question + 1);
  std::string code, state, error;
  bool sawState = false;
  size_t start = 0;
  while (start <= query.size()) {
    size_t amp = query.find('&', start);
    std::string field = query.substr(start, amp == std::string::npos ? amp : amp - start);
    size_t equals = field.find('=');
    std::string name = field.substr(0, equals);
    std::string value = equals == std::string::npos
                            ? std::string()
                            : PercentDecoded(field.substr(equals + 1), true);
    if (name == "code") code = value;
    if (name == "state") {
      state = value;
      sawState = true;
    }
    if (name == "error") error = value;
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  if (!sawState || state != expectedState) {
    result.error = "the sign-in answer does not match this sign-in (state)";
  } else if (!error.empty()) {
    result.denied = true;
    result.error = "the sign-in was refused";
  } else if (code.empty()) {
    result.error = "the sign-in answer has no code";
  } else {
    result.ok = true;
    result.code = code;
  }
  return result;
}
