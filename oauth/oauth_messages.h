// The texts OAuth 2.0 exchanges: form bodies, the token endpoint's JSON
// answers (RFC 6749 section 5, RFC 8628 section 3.2), the token file, PKCE
// (RFC 7636) and the loopback redirect (RFC 8252).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Tokens as kept in the token file; expiresAt in seconds since 1970 (0:
// unknown, taken as expired).
struct TokenSet {
  std::string accessToken;
  std::string refreshToken;
  int64_t expiresAt = 0;
};

// An answer of the token or device endpoint, reduced to what the flows use.
struct TokenAnswer {
  bool parsed = false;  // a JSON object
  std::string error;    // "error" member: authorization_pending, invalid_grant...
  std::string accessToken;
  std::string refreshToken;
  int64_t expiresIn = 0;
  // Device authorization answer.
  std::string deviceCode;
  std::string userCode;
  std::string verificationUri;
  int64_t interval = 0;
};

// application/x-www-form-urlencoded, each byte outside the unreserved set
// percent-encoded.
std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields);

TokenAnswer ParseTokenAnswer(const std::string& body);

// The token file: a JSON object; false when body is not one with an access
// or refresh token.
bool ParseTokenFile(const std::string& body, TokenSet& tokens);
std::string FormatTokenFile(const TokenSet& tokens);

// base64url without padding.
std::string Base64Url(const std::string& bytes);
// PKCE S256: the challenge of a verifier, given its SHA-256 digest.
std::string PkceChallenge(const std::string& verifierSha256);

// The authorization request's address for the browser.
std::string AuthorizeAddress(const std::string& authorizeUrl, const std::string& clientId,
                             const std::string& redirectUri, const std::string& scope,
                             const std::string& state, const std::string& challenge);

// What the browser brought to the loopback listener: the request line
// "GET /?code=...&state=... HTTP/1.1".
struct RedirectResult {
  bool ok = false;
  bool denied = false;  // the provider's answer: the user refused
  std::string code;
  std::string error;  // why it is refused, for the user
};
RedirectResult ParseRedirect(const std::string& requestLine, const std::string& expectedState);
