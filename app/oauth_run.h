// OAuth 2.0 in a run: the sign-in of --oauth-login, and the access token of
// a sending run (refreshed once when it ends soon or the relay refuses it).
// Every failure prints one line, quiet or not, and gives the run's status.
#pragma once

#include <memory>
#include <string>

#include "app/send_result.h"
#include "oauth/oauth_config.h"

class COAuthClient;
class COAuthTokenSource;

// What an account names; the flow word and the secret's source are still
// to be checked.
struct SOAuthAccountKeys {
  std::string provider;  // m365, outlook, gmail, or empty
  std::string flow;      // device, browser, client-credentials
  std::string secretFile;
  std::string secretCommand;
  OAuthConfig config;    // the remaining keys, as given
};

class CLongOptions;

// The keys from the long options (which an account fills too); false when
// the run does not use OAuth 2.0 (no --oauth).
bool OAuthKeysFromOptions(const CLongOptions& options, SOAuthAccountKeys& keys);

// Checks the keys, reads the client secret, fills the provider's defaults;
// false after printing the line that says what is wrong.
bool PrepareOAuthConfig(const SOAuthAccountKeys& keys, int timeoutMs, OAuthConfig& config);

// --oauth-login: the account's flow, then the tokens stored.
SendResult RunOAuthLogin(const OAuthConfig& config);

class COAuthRun {
 public:
  explicit COAuthRun(const OAuthConfig& config);
  ~COAuthRun();
  // The token to authenticate with.
  SendResult Token(std::string& token);
  // The relay refused rejected: a new one, once per run.
  SendResult Renew(const std::string& rejected, std::string& token);

 private:
  OAuthConfig m_config;
  std::unique_ptr<COAuthClient> m_client;
  std::unique_ptr<COAuthTokenSource> m_source;
};
