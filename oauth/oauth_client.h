// The OAuth 2.0 exchanges with an authorization server, as pure logic: the
// HTTP client, the clock and the waits are given, so that tests play the
// server's part.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "oauth/oauth_config.h"
#include "oauth/oauth_messages.h"
#include "platform/http_client.h"

enum class OAuthStatus {
  Ok,
  Denied,             // the user refused (access_denied)
  Expired,            // the device code expired before the user signed in
  InvalidGrant,       // the refresh token or code was refused
  Unreachable,        // no answer, a refused request, or garbage
  CertificateFailed,  // the endpoint's certificate failed verification
  NotSignedIn,        // no tokens stored for the account
  StoreFailed,        // the token file could not be read or written
};

struct OAuthOutcome {
  OAuthStatus status = OAuthStatus::Unreachable;
  // One line for the user, without any token or code.
  std::string message;
};

class COAuthClient {
 public:
  using HttpFunction = std::function<platform::HttpResponse(const platform::HttpRequest&)>;
  using ClockFunction = std::function<int64_t()>;         // seconds since 1970
  using SleepFunction = std::function<void(int64_t)>;     // seconds
  using ShowFunction = std::function<void(const std::string& address, const std::string& code)>;

  COAuthClient(const OAuthConfig& config, HttpFunction http, ClockFunction clock,
               SleepFunction sleep);

  // RFC 8628: asks for a device code, shows the address and the user code,
  // then polls until the user signs in, refuses, or the code expires.
  OAuthOutcome DeviceFlow(const ShowFunction& show, TokenSet& tokens);
  // Exchanges an authorization code (PKCE verifier, the same redirect).
  OAuthOutcome ExchangeCode(const std::string& code, const std::string& verifier,
                            const std::string& redirectUri, TokenSet& tokens);
  // A new access token from the refresh token; tokens keeps its refresh
  // token unless the server sent a new one (rotation).
  OAuthOutcome Refresh(TokenSet& tokens);
  // A token for the client itself (client secret).
  OAuthOutcome ClientCredentials(TokenSet& tokens);

 private:
  // POSTs form to url; answer holds the parsed JSON when the result is Ok.
  OAuthOutcome Post(const std::string& url,
                    std::vector<std::pair<std::string, std::string>> form, TokenAnswer& answer,
                    int& httpStatus);
  OAuthOutcome TakeTokens(const TokenAnswer& answer, TokenSet& tokens);
  OAuthOutcome Unreachable(const std::string& url, const std::string& why) const;

  OAuthConfig m_config;
  HttpFunction m_http;
  ClockFunction m_clock;
  SleepFunction m_sleep;
};
