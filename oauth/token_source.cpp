#include "oauth/token_source.h"

#include "platform/private_file.h"

namespace {

// A token that ends within this many seconds is renewed first: a message
// may take that long to reach AUTH.
constexpr int64_t kMargin = 60;
// Another run's refresh holds the lock for at most its own --timeout; wait
// that long, or this much without one.
constexpr int kDefaultLockWaitMs = 120000;

}  // namespace

COAuthTokenSource::COAuthTokenSource(const OAuthConfig& config, COAuthClient& client,
                                     COAuthClient::ClockFunction clock)
    : m_config(config), m_client(client), m_clock(std::move(clock)) {}

OAuthOutcome COAuthTokenSource::NotSignedIn() const {
  return {OAuthStatus::NotSignedIn, "No sign-in for account " + m_config.account +
                                        ": run velsend --account=" + m_config.account +
                                        " --oauth-login"};
}

COAuthTokenSource::Stored COAuthTokenSource::Load(TokenSet& tokens) const {
  std::string body;
  switch (platform::ReadPrivateFile(m_config.tokenFile, body)) {
    case platform::PrivateRead::Ok:
      break;
    case platform::PrivateRead::Missing:
      return Stored::Missing;
    case platform::PrivateRead::Failed:
      return Stored::Failed;
  }
  tokens = TokenSet();
  return ParseTokenFile(body, tokens) ? Stored::Found : Stored::Failed;
}

bool COAuthTokenSource::Lasts(const TokenSet& tokens) const {
  return !tokens.accessToken.empty() && tokens.expiresAt > m_clock() + kMargin;
}

OAuthOutcome COAuthTokenSource::AccessToken(std::string& token) {
  TokenSet tokens;
  Stored stored = Load(tokens);
  if (stored == Stored::Found && Lasts(tokens)) {
    token = tokens.accessToken;
    return {OAuthStatus::Ok, std::string()};
  }
  if (stored == Stored::Missing && m_config.flow != OAuthFlow::ClientCredentials) {
    return NotSignedIn();
  }
  return RefreshLocked(std::string(), token);
}

OAuthOutcome COAuthTokenSource::Renew(const std::string& rejected, std::string& token) {
  if (m_refreshed) {
    return {OAuthStatus::InvalidGrant, "The relay refused the access token just obtained"};
  }
  return RefreshLocked(rejected, token);
}

OAuthOutcome COAuthTokenSource::RefreshLocked(const std::string& rejected, std::string& token) {
  platform::CPrivateFileLock lock;
  if (!lock.Acquire(m_config.tokenFile,
                    m_config.timeoutMs > 0 ? 2 * m_config.timeoutMs : kDefaultLockWaitMs)) {
    return {OAuthStatus::StoreFailed, "Couldn't lock the token file " + m_config.tokenFile};
  }
  // Another run may have refreshed while this one waited: its tokens are
  // the current ones, and its rotated refresh token the only valid one.
  TokenSet tokens;
  Stored stored = Load(tokens);
  if (stored == Stored::Found && Lasts(tokens) && tokens.accessToken != rejected) {
    token = tokens.accessToken;
    return {OAuthStatus::Ok, std::string()};
  }
  m_refreshed = true;
  OAuthOutcome outcome;
  if (m_config.flow == OAuthFlow::ClientCredentials) {
    outcome = m_client.ClientCredentials(tokens);
  } else if (stored == Stored::Missing || tokens.refreshToken.empty()) {
    return NotSignedIn();
  } else {
    outcome = m_client.Refresh(tokens);
  }
  if (outcome.status != OAuthStatus::Ok) return outcome;
  std::string error;
  if (!platform::ReplacePrivateFile(m_config.tokenFile, FormatTokenFile(tokens), error)) {
    return {OAuthStatus::StoreFailed, "Couldn't store the tokens: " + error};
  }
  token = tokens.accessToken;
  return {OAuthStatus::Ok, std::string()};
}

OAuthOutcome COAuthTokenSource::Store(const TokenSet& tokens) {
  platform::CPrivateFileLock lock;
  if (!lock.Acquire(m_config.tokenFile, kDefaultLockWaitMs)) {
    return {OAuthStatus::StoreFailed, "Couldn't lock the token file " + m_config.tokenFile};
  }
  std::string error;
  if (!platform::ReplacePrivateFile(m_config.tokenFile, FormatTokenFile(tokens), error)) {
    return {OAuthStatus::StoreFailed, "Couldn't store the tokens: " + error};
  }
  return {OAuthStatus::Ok, std::string()};
}
