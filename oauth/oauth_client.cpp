#include "oauth/oauth_client.h"

#include <utility>

#include "net/tls_failure.h"

namespace {

// RFC 8628 section 3.2: five seconds when the server names no interval.
constexpr int64_t kDefaultInterval = 5;
// Section 3.5: slow_down adds five seconds to the interval.
constexpr int64_t kSlowDownStep = 5;
// Without expires_in, an access token is taken to last an hour.
constexpr int64_t kDefaultLifetime = 3600;

}  // namespace

COAuthClient::COAuthClient(const OAuthConfig& config, HttpFunction http, ClockFunction clock,
                           SleepFunction sleep)
    : m_config(config), m_http(std::move(http)), m_clock(std::move(clock)),
      m_sleep(std::move(sleep)) {}

OAuthOutcome COAuthClient::Unreachable(const std::string& url, const std::string& why) const {
  return {OAuthStatus::Unreachable, "Couldn't get an access token from " + url + ": " + why};
}

OAuthOutcome COAuthClient::Post(const std::string& url,
                                std::vector<std::pair<std::string, std::string>> form,
                                TokenAnswer& answer, int& httpStatus) {
  form.insert(form.begin(), {"client_id", m_config.clientId});
  if (!m_config.clientSecret.empty()) form.emplace_back("client_secret", m_config.clientSecret);
  platform::HttpRequest request;
  request.url = url;
  request.form = FormEncode(form);
  request.caFile = m_config.caFile;
  request.timeoutMs = m_config.timeoutMs;
  platform::HttpResponse response = m_http(request);
  httpStatus = response.status;
  switch (response.outcome) {
    case platform::HttpOutcome::Answered:
      break;
    case platform::HttpOutcome::CertificateFailed:
      return {OAuthStatus::CertificateFailed,
              "Couldn't get an access token from " + url + ": " +
                  (response.certificate.kind == platform::TlsFailureKind::kNone
                       ? response.error
                       : TlsFailureText(response.certificate))};
    case platform::HttpOutcome::TimedOut:
      return Unreachable(url, "no answer in time");
    case platform::HttpOutcome::Failed:
      return Unreachable(url, response.error);
  }
  answer = ParseTokenAnswer(response.body);
  if (!answer.parsed) {
    return Unreachable(url, "HTTP status " + std::to_string(response.status) +
                                " without a JSON answer");
  }
  // Errors come as 400/401 with an "error" member; other statuses without
  // one are the server's failure.
  if (answer.error.empty() && (response.status < 200 || response.status > 299)) {
    return Unreachable(url, "HTTP status " + std::to_string(response.status));
  }
  return {OAuthStatus::Ok, std::string()};
}

OAuthOutcome COAuthClient::TakeTokens(const TokenAnswer& answer, TokenSet& tokens) {
  if (answer.accessToken.empty()) {
    return Unreachable(m_config.tokenUrl, "the answer has no access token");
  }
  tokens.accessToken = answer.accessToken;
  if (!answer.refreshToken.empty()) tokens.refreshToken = answer.refreshToken;
  tokens.expiresAt = m_clock() + (answer.expiresIn > 0 ? answer.expiresIn : kDefaultLifetime);
  return {OAuthStatus::Ok, std::string()};
}

namespace {

// A server's error code, kept to the characters RFC 6749 allows in it.
std::string Printable(const std::string& code) {
  std::string out;
  for (char c : code) {
    if (c >= 0x20 && c <= 0x7e && c != '"' && c != '\\') out += c;
  }
  return out.substr(0, 80);
}

}  // namespace

OAuthOutcome COAuthClient::DeviceFlow(const ShowFunction& show, TokenSet& tokens) {
  TokenAnswer answer;
  int httpStatus = 0;
  OAuthOutcome outcome = Post(m_config.deviceUrl, {{"scope", m_config.scope}}, answer, httpStatus);
  if (outcome.status != OAuthStatus::Ok) return outcome;
  if (!answer.error.empty() || answer.deviceCode.empty() || answer.userCode.empty() ||
      answer.verificationUri.empty()) {
    return Unreachable(m_config.deviceUrl, answer.error.empty()
                                               ? "the answer has no device code"
                                               : "refused (" + Printable(answer.error) + ")");
  }
  const std::string deviceCode = answer.deviceCode;
  int64_t interval = answer.interval > 0 ? answer.interval : kDefaultInterval;
  // Without expires_in the code is taken to last 15 minutes.
  const int64_t deadline = m_clock() + (answer.expiresIn > 0 ? answer.expiresIn : 900);
  show(answer.verificationUri, answer.userCode);
  for (;;) {
    if (m_clock() + interval > deadline) {
      return {OAuthStatus::Expired, "The sign-in code expired before the sign-in was completed"};
    }
    m_sleep(interval);
    TokenAnswer poll;
    outcome = Post(m_config.tokenUrl,
                   {{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                    {"device_code", deviceCode}},
                   poll, httpStatus);
    if (outcome.status != OAuthStatus::Ok) return outcome;
    if (poll.error.empty()) return TakeTokens(poll, tokens);
    if (poll.error == "authorization_pending") continue;
    if (poll.error == "slow_down") {
      interval += kSlowDownStep;
      continue;
    }
    if (poll.error == "expired_token") {
      return {OAuthStatus::Expired, "The sign-in code expired before the sign-in was completed"};
    }
    if (poll.error == "access_denied") {
      return {OAuthStatus::Denied, "The sign-in was refused"};
    }
    return Unreachable(m_config.tokenUrl, "refused (" + Printable(poll.error) + ")");
  }
}

OAuthOutcome COAuthClient::ExchangeCode(const std::string& code, const std::string& verifier,
                                        const std::string& redirectUri, TokenSet& tokens) {
  TokenAnswer answer;
  int httpStatus = 0;
  OAuthOutcome outcome = Post(m_config.tokenUrl,
                              {{"grant_type", "authorization_code"},
                               {"code", code},
                               {"redirect_uri", redirectUri},
                               {"code_verifier", verifier}},
                              answer, httpStatus);
  if (outcome.status != OAuthStatus::Ok) return outcome;
  if (answer.error == "invalid_grant") return {OAuthStatus::InvalidGrant, "The sign-in code was refused"};
  if (!answer.error.empty()) {
    return Unreachable(m_config.tokenUrl, "refused (" + Printable(answer.error) + ")");
  }
  return TakeTokens(answer, tokens);
}

OAuthOutcome COAuthClient::Refresh(TokenSet& tokens) {
  TokenAnswer answer;
  int httpStatus = 0;
  OAuthOutcome outcome = Post(m_config.tokenUrl,
                              {{"grant_type", "refresh_token"},
                               {"refresh_token", tokens.refreshToken},
                               {"scope", m_config.scope}},
                              answer, httpStatus);
  if (outcome.status != OAuthStatus::Ok) return outcome;
  if (answer.error == "invalid_grant") {
    return {OAuthStatus::InvalidGrant, "The sign-in for account " + m_config.account +
                                           " has expired or was revoked: run velsend --account=" +
                                           m_config.account + " --oauth-login"};
  }
  if (!answer.error.empty()) {
    return Unreachable(m_config.tokenUrl, "refused (" + Printable(answer.error) + ")");
  }
  return TakeTokens(answer, tokens);
}

OAuthOutcome COAuthClient::ClientCredentials(TokenSet& tokens) {
  TokenAnswer answer;
  int httpStatus = 0;
  OAuthOutcome outcome = Post(m_config.tokenUrl,
                              {{"grant_type", "client_credentials"}, {"scope", m_config.scope}},
                              answer, httpStatus);
  if (outcome.status != OAuthStatus::Ok) return outcome;
  if (!answer.error.empty()) {
    return Unreachable(m_config.tokenUrl, "refused (" + Printable(answer.error) + ")");
  }
  tokens.refreshToken.clear();
  return TakeTokens(answer, tokens);
}
