#include "app/oauth_run.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "app/long_options.h"
#include "app/password_source.h"
#include "oauth/oauth_client.h"
#include "oauth/token_source.h"
#include "platform/crypto.h"
#include "platform/http_client.h"
#include "platform/loopback_listener.h"
#include "platform/private_file.h"
#include "platform/shell.h"

namespace {

// A browser sign-in waits this long for the user.
constexpr int kBrowserWaitMs = 10 * 60 * 1000;

void Line(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

SendResult Fail(const OAuthOutcome& outcome) {
  Line(outcome.message);
  return outcome.status == OAuthStatus::CertificateFailed ? ERROR_TLS : ERROR_AUTHENTICATING;
}

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

void SleepSeconds(int64_t seconds) { std::this_thread::sleep_for(std::chrono::seconds(seconds)); }

COAuthClient MakeClient(const OAuthConfig& config) {
  return COAuthClient(config, platform::HttpSend, Now, SleepSeconds);
}

const char kPageDone[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>velsend</title></head>"
    "<body><p>Signed in. You can close this window and return to velsend.</p></body></html>";
const char kPageRefused[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>velsend</title></head>"
    "<body><p>This is not the answer velsend is waiting for.</p></body></html>";
const char kPageFailed[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>velsend</title></head>"
    "<body><p>The sign-in failed: see velsend's message.</p></body></html>";

OAuthOutcome BrowserFlow(const OAuthConfig& config, COAuthClient& client, TokenSet& tokens) {
  const std::string stateBytes = platform::SecureRandomBytes(16);
  const std::string verifierBytes = platform::SecureRandomBytes(32);
  if (stateBytes.empty() || verifierBytes.empty()) {
    return {OAuthStatus::Unreachable, "Couldn't start the sign-in: no random numbers"};
  }
  const std::string state = Base64Url(stateBytes);
  const std::string verifier = Base64Url(verifierBytes);
  platform::CLoopbackListener listener;
  if (!listener.Open()) {
    return {OAuthStatus::Unreachable, "Couldn't start the sign-in: no port on 127.0.0.1"};
  }
  const std::string redirect = "http://127.0.0.1:" + std::to_string(listener.Port()) + "/";
  const std::string address =
      AuthorizeAddress(config.authorizeUrl, config.clientId, redirect, config.scope, state,
                       PkceChallenge(platform::Sha256(verifier)));
  std::printf("To sign in, open %s\n", address.c_str());
  std::fflush(stdout);
  if (platform::HasDesktop()) platform::ShellOpen(address);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBrowserWaitMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    std::string requestLine;
    if (left <= 0 || !listener.Next(static_cast<int>(left), requestLine)) {
      return {OAuthStatus::Expired, "The sign-in was not completed in time"};
    }
    RedirectResult redirectResult = ParseRedirect(requestLine, state);
    if (!redirectResult.ok) {
      // Another page's request or a forged answer: refuse it, keep waiting.
      if (redirectResult.denied) {
        listener.Answer(200, kPageFailed);
        return {OAuthStatus::Denied, "The sign-in was refused"};
      }
      listener.Answer(400, kPageRefused);
      continue;
    }
    OAuthOutcome outcome = client.ExchangeCode(redirectResult.code, verifier, redirect, tokens);
    listener.Answer(200, outcome.status == OAuthStatus::Ok ? kPageDone : kPageFailed);
    return outcome;
  }
}

}  // namespace

bool OAuthKeysFromOptions(const CLongOptions& options, SOAuthAccountKeys& keys) {
  if (!options.Lookup("oauth", keys.flow)) return false;
  options.Lookup("provider", keys.provider);
  options.Lookup("oauth-client-secret-file", keys.secretFile);
  options.Lookup("oauth-client-secret-command", keys.secretCommand);
  OAuthConfig& c = keys.config;
  // Without an account, the tokens are those of the account "default".
  if (!options.Lookup("account", c.account) || c.account.empty()) c.account = "default";
  options.Lookup("oauth-client-id", c.clientId);
  options.Lookup("oauth-tenant", c.tenant);
  options.Lookup("oauth-scope", c.scope);
  options.Lookup("oauth-authorize-url", c.authorizeUrl);
  options.Lookup("oauth-token-url", c.tokenUrl);
  options.Lookup("oauth-device-url", c.deviceUrl);
  options.Lookup("oauth-token-file", c.tokenFile);
  options.Lookup("oauth-cacert", c.caFile);
  return true;
}

bool PrepareOAuthConfig(const SOAuthAccountKeys& keys, int timeoutMs, OAuthConfig& config) {
  config = keys.config;
  config.timeoutMs = timeoutMs;
  if (!ParseOAuthFlow(keys.flow, config.flow)) {
    Line("Account " + config.account + ": oauth must be device, browser or client-credentials");
    return false;
  }
  std::string reason;
  if (!keys.secretFile.empty() && !ReadPasswordFile(keys.secretFile, config.clientSecret, reason)) {
    Line("Couldn't get the client secret: " + reason);
    return false;
  }
  if (!keys.secretCommand.empty() &&
      !RunPasswordCommand(keys.secretCommand, config.clientSecret, reason)) {
    Line("Couldn't get the client secret: " + reason);
    return false;
  }
  std::string error;
  if (!CompleteOAuthConfig(keys.provider, platform::PrivateStateDirectory(), config, error)) {
    Line(error);
    return false;
  }
  return true;
}

SendResult RunOAuthLogin(const OAuthConfig& config) {
  COAuthClient client = MakeClient(config);
  COAuthTokenSource source(config, client, Now);
  TokenSet tokens;
  OAuthOutcome outcome;
  switch (config.flow) {
    case OAuthFlow::Device:
      outcome = client.DeviceFlow(
          [](const std::string& address, const std::string& code) {
            std::printf("To sign in, open %s and enter the code %s\n", address.c_str(),
                        code.c_str());
            std::fflush(stdout);
          },
          tokens);
      break;
    case OAuthFlow::Browser:
      outcome = BrowserFlow(config, client, tokens);
      break;
    case OAuthFlow::ClientCredentials:
    case OAuthFlow::None:
      outcome = client.ClientCredentials(tokens);
      break;
  }
  if (outcome.status != OAuthStatus::Ok) return Fail(outcome);
  outcome = source.Store(tokens);
  if (outcome.status != OAuthStatus::Ok) return Fail(outcome);
  std::printf("Signed in: account %s can send\n", config.account.c_str());
  std::fflush(stdout);
  return ERROR_NONE;
}

COAuthRun::COAuthRun(const OAuthConfig& config)
    : m_config(config),
      m_client(std::make_unique<COAuthClient>(MakeClient(m_config))),
      m_source(std::make_unique<COAuthTokenSource>(m_config, *m_client, Now)) {}

COAuthRun::~COAuthRun() = default;

SendResult COAuthRun::Token(std::string& token) {
  OAuthOutcome outcome = m_source->AccessToken(token);
  return outcome.status == OAuthStatus::Ok ? ERROR_NONE : Fail(outcome);
}

SendResult COAuthRun::Renew(const std::string& rejected, std::string& token) {
  OAuthOutcome outcome = m_source->Renew(rejected, token);
  return outcome.status == OAuthStatus::Ok ? ERROR_NONE : Fail(outcome);
}
