// What an account says about getting OAuth 2.0 tokens, with the defaults of
// the providers velsend knows.
#pragma once

#include <string>

enum class OAuthFlow { None, Device, Browser, ClientCredentials };

struct OAuthConfig {
  OAuthFlow flow = OAuthFlow::None;
  std::string account;       // the account's name, for messages and the file name
  std::string clientId;
  std::string tenant;        // Microsoft only; "organizations" by default
  std::string clientSecret;  // read from oauth-client-secret-file/-command
  std::string scope;
  std::string authorizeUrl;
  std::string tokenUrl;
  std::string deviceUrl;
  std::string tokenFile;
  std::string caFile;        // extra trusted roots for the endpoints (tests)
  int timeoutMs = 0;         // bound of each request (--timeout)
};

// "device", "browser", "client-credentials"; false for any other word.
bool ParseOAuthFlow(const std::string& word, OAuthFlow& flow);

// Fills what the account left empty from provider ("m365", "outlook",
// "gmail"; anything else fills nothing) and the token file from
// stateDirectory. False with error set when an endpoint or the client id is
// still missing.
bool CompleteOAuthConfig(const std::string& provider, const std::string& stateDirectory,
                         OAuthConfig& config, std::string& error);
