// The access token of a run: from the token file while it lasts, else
// refreshed once under the file's lock and stored back, so that runs at
// once share one refresh and never lose a rotated refresh token.
#pragma once

#include <string>

#include "oauth/oauth_client.h"

class COAuthTokenSource {
 public:
  // client and config must outlive the source.
  COAuthTokenSource(const OAuthConfig& config, COAuthClient& client,
                    COAuthClient::ClockFunction clock);

  // A token that lasts at least another minute.
  OAuthOutcome AccessToken(std::string& token);
  // After the relay refused rejected: a new token, once per run; a second
  // call fails.
  OAuthOutcome Renew(const std::string& rejected, std::string& token);
  // Stores the tokens of a sign-in, under the lock.
  OAuthOutcome Store(const TokenSet& tokens);

 private:
  enum class Stored { Found, Missing, Failed };
  Stored Load(TokenSet& tokens) const;
  bool Lasts(const TokenSet& tokens) const;
  OAuthOutcome RefreshLocked(const std::string& rejected, std::string& token);
  OAuthOutcome NotSignedIn() const;

  const OAuthConfig& m_config;
  COAuthClient& m_client;
  COAuthClient::ClockFunction m_clock;
  bool m_refreshed = false;
};
