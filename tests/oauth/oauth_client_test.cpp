#include "oauth/oauth_client.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/crypto.h"

namespace {

// Plays the authorization server: answers in order, records the requests,
// and keeps the time that the waits advance.
struct FakeServer {
  std::deque<platform::HttpResponse> answers;
  std::vector<platform::HttpRequest> requests;
  std::vector<int64_t> sleeps;
  int64_t now = 1000000;

  void Json(int status, const std::string& body) {
    platform::HttpResponse r;
    r.outcome = platform::HttpOutcome::Answered;
    r.status = status;
    r.body = body;
    answers.push_back(r);
  }
  void Fail(platform::HttpOutcome outcome, const std::string& error) {
    platform::HttpResponse r;
    r.outcome = outcome;
    r.error = error;
    answers.push_back(r);
  }
  COAuthClient Client(const OAuthConfig& config) {
    return COAuthClient(
        config,
        [this](const platform::HttpRequest& request) {
          requests.push_back(request);
          platform::HttpResponse r = answers.front();
          answers.pop_front();
          return r;
        },
        [this] { return now; },
        [this](int64_t seconds) {
          sleeps.push_back(seconds);
          now += seconds;
        });
  }
};

OAuthConfig Config() {
  OAuthConfig config;
  config.account = "work";
  config.flow = OAuthFlow::Device;
  config.clientId = "client-1";
  config.scope = "smtp offline_access";
  config.tokenUrl = "https://idp.test/token";
  config.deviceUrl = "https://idp.test/device";
  config.timeoutMs = 7000;
  return config;
}

const char kDevice[] =
    R"({"device_code":"DEV","user_code":"ABCD-EFGH","verification_uri":"https://idp.test/go",)"
    R"("expires_in":60,"interval":5})";

TEST(OAuthDeviceFlow, PollsThroughPendingAndSlowDownThenStoresTokens) {
  FakeServer server;
  server.Json(200, kDevice);
  server.Json(400, R"({"error":"authorization_pending"})");
  server.Json(400, R"({"error":"slow_down"})");
  server.Json(400, R"({"error":"authorization_pending"})");
  server.Json(200, R"({"access_token":"AT","refresh_token":"RT","expires_in":"3599"})");
  COAuthClient client = server.Client(Config());
  std::string shownAddress, shownCode;
  TokenSet tokens;
  OAuthOutcome outcome = client.DeviceFlow(
      [&](const std::string& a, const std::string& c) {
        shownAddress = a;
        shownCode = c;
      },
      tokens);
  ASSERT_EQ(outcome.status, OAuthStatus::Ok) << outcome.message;
  EXPECT_EQ(shownAddress, "https://idp.test/go");
  EXPECT_EQ(shownCode, "ABCD-EFGH");
  EXPECT_EQ(server.sleeps, (std::vector<int64_t>{5, 5, 10, 10}));
  EXPECT_EQ(tokens.accessToken, "AT");
  EXPECT_EQ(tokens.refreshToken, "RT");
  EXPECT_EQ(tokens.expiresAt, server.now + 3599);
  EXPECT_EQ(server.requests[0].url, "https://idp.test/device");
  EXPECT_EQ(server.requests[0].form, "client_id=client-1&scope=smtp%20offline_access");
  EXPECT_EQ(server.requests[1].form,
            "client_id=client-1&grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code"
            "&device_code=DEV");
  EXPECT_EQ(server.requests[1].timeoutMs, 7000);
}

TEST(OAuthDeviceFlow, EndsWithALineForEachRefusal) {
  struct Case {
    const char* poll;
    OAuthStatus status;
    const char* message;
  } cases[] = {
      {R"({"error":"access_denied"})", OAuthStatus::Denied, "The sign-in was refused"},
      {R"({"error":"expired_token"})", OAuthStatus::Expired,
       "The sign-in code expired before the sign-in was completed"},
      {R"({"error":"invalid_client","error_description":"secret"})", OAuthStatus::Unreachable,
       "Couldn't get an access token from https://idp.test/token: refused (invalid_client)"},
      {"<html>", OAuthStatus::Unreachable,
       "Couldn't get an access token from https://idp.test/token: HTTP status 400 without a "
       "JSON answer"},
  };
  for (const Case& c : cases) {
    FakeServer server;
    server.Json(200, kDevice);
    server.Json(400, c.poll);
    COAuthClient client = server.Client(Config());
    TokenSet tokens;
    OAuthOutcome outcome = client.DeviceFlow([](auto&, auto&) {}, tokens);
    EXPECT_EQ(outcome.status, c.status) << c.poll;
    EXPECT_EQ(outcome.message, c.message);
  }
}

TEST(OAuthDeviceFlow, StopsAtTheCodesExpiryWithoutPollingPastIt) {
  FakeServer server;
  server.Json(200, kDevice);  // 60 s, every 5 s: 12 polls at most
  for (int i = 0; i < 20; ++i) server.Json(400, R"({"error":"authorization_pending"})");
  COAuthClient client = server.Client(Config());
  TokenSet tokens;
  OAuthOutcome outcome = client.DeviceFlow([](auto&, auto&) {}, tokens);
  EXPECT_EQ(outcome.status, OAuthStatus::Expired);
  EXPECT_EQ(server.requests.size(), 1u + 12u);
  EXPECT_TRUE(tokens.accessToken.empty());
}

TEST(OAuthRefresh, KeepsOrRotatesTheRefreshToken) {
  for (bool rotate : {false, true}) {
    FakeServer server;
    server.Json(200, rotate ? R"({"access_token":"AT2","refresh_token":"RT2","expires_in":60})"
                            : R"({"access_token":"AT2","expires_in":60})");
    OAuthConfig config = Config();
    config.clientSecret = "s3cret";
    COAuthClient client = server.Client(config);
    TokenSet tokens{"AT1", "RT1", 5};
    ASSERT_EQ(client.Refresh(tokens).status, OAuthStatus::Ok);
    EXPECT_EQ(tokens.accessToken, "AT2");
    EXPECT_EQ(tokens.refreshToken, rotate ? "RT2" : "RT1");
    EXPECT_EQ(server.requests[0].form,
              "client_id=client-1&grant_type=refresh_token&refresh_token=RT1"
              "&scope=smtp%20offline_access&client_secret=s3cret");
  }
}

TEST(OAuthRefresh, ErrorsNameTheCauseAndNeverATokenOrSecret) {
  struct Case {
    platform::HttpOutcome outcome;
    int status;
    const char* body;
    OAuthStatus expected;
    const char* message;
  } cases[] = {
      {platform::HttpOutcome::Answered, 400, R"({"error":"invalid_grant"})",
       OAuthStatus::InvalidGrant,
       "The sign-in for account work has expired or was revoked: run velsend --account=work "
       "--oauth-login"},
      {platform::HttpOutcome::Answered, 500, R"({"message":"oops"})", OAuthStatus::Unreachable,
       "Couldn't get an access token from https://idp.test/token: HTTP status 500"},
      {platform::HttpOutcome::Answered, 200, "not json", OAuthStatus::Unreachable,
       "Couldn't get an access token from https://idp.test/token: HTTP status 200 without a "
       "JSON answer"},
      {platform::HttpOutcome::Answered, 200, R"({"token_type":"Bearer"})",
       OAuthStatus::Unreachable,
       "Couldn't get an access token from https://idp.test/token: the answer has no access "
       "token"},
      {platform::HttpOutcome::TimedOut, 0, "", OAuthStatus::Unreachable,
       "Couldn't get an access token from https://idp.test/token: no answer in time"},
      {platform::HttpOutcome::CertificateFailed, 0, "", OAuthStatus::CertificateFailed,
       "Couldn't get an access token from https://idp.test/token: bad certificate"},
  };
  for (const Case& c : cases) {
    FakeServer server;
    if (c.outcome == platform::HttpOutcome::Answered) {
      server.Json(c.status, c.body);
    } else {
      server.Fail(c.outcome, "bad certificate");
    }
    OAuthConfig config = Config();
    config.clientSecret = "s3cret";
    COAuthClient client = server.Client(config);
    TokenSet tokens{"AT1", "RT1", 5};
    OAuthOutcome outcome = client.Refresh(tokens);
    EXPECT_EQ(outcome.status, c.expected) << c.body;
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.message.find("RT1"), std::string::npos);
    EXPECT_EQ(outcome.message.find("s3cret"), std::string::npos);
    EXPECT_EQ(tokens.refreshToken, "RT1");
  }
}

TEST(OAuthMessages, TokenFileRoundTripsAndRefusesGarbage) {
  TokenSet tokens{"a\"b", "r\\t", 1234567890123};
  TokenSet back;
  ASSERT_TRUE(ParseTokenFile(FormatTokenFile(tokens), back));
  EXPECT_EQ(back.accessToken, tokens.accessToken);
  EXPECT_EQ(back.refreshToken, tokens.refreshToken);
  EXPECT_EQ(back.expiresAt, tokens.expiresAt);
  for (const char* bad : {"", "{", "[]", "{}", R"({"access_token":5})"}) {
    EXPECT_FALSE(ParseTokenFile(bad, back)) << bad;
  }
}

TEST(OAuthMessages, PkceChallengeOfTheRfc7636Example) {
  // RFC 7636 appendix B.
  const std::string verifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
  EXPECT_EQ(PkceChallenge(platform::Sha256(verifier)),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  EXPECT_EQ(Base64Url("\xfb\xff"), "-_8");
  std::string random = platform::SecureRandomBytes(32);
  EXPECT_EQ(random.size(), 32u);
  EXPECT_NE(random, platform::SecureRandomBytes(32));
}

TEST(OAuthMessages, RedirectNeedsTheStateOfThisSignIn) {
  struct Case {
    const char* line;
    bool ok;
    const char* codeOrError;
  } cases[] = {
      {"GET /?code=a%2Fb+c&state=S1 HTTP/1.1", true, "a/b c"},
      {"GET /?state=S1&code=xyz HTTP/1.1", true, "xyz"},
      {"GET /?code=xyz&state=S2 HTTP/1.1", false,
       "the sign-in answer does not match this sign-in (state)"},
      {"GET /?code=xyz HTTP/1.1", false, "the sign-in answer does not match this sign-in (state)"},
      {"GET /?error=access_denied&state=S1 HTTP/1.1", false,
       "the sign-in was refused"},
      {"GET /favicon.ico HTTP/1.1", false, "the browser sent no sign-in answer"},
      {"POST /?code=x&state=S1 HTTP/1.1", false, "the browser sent no sign-in answer"},
  };
  for (const Case& c : cases) {
    RedirectResult result = ParseRedirect(c.line, "S1");
    EXPECT_EQ(result.ok, c.ok) << c.line;
    EXPECT_EQ(c.ok ? result.code : result.error, c.codeOrError) << c.line;
  }
}

TEST(OAuthConfig, ProviderDefaultsAndMissingKeys) {
  OAuthConfig config;
  config.account = "work";
  config.flow = OAuthFlow::Device;
  config.clientId = "id";
  std::string error;
  ASSERT_TRUE(CompleteOAuthConfig("m365", "/state", config, error)) << error;
  EXPECT_EQ(config.tokenUrl, "https://login.microsoftonline.com/organizations/oauth2/v2.0/token");
  EXPECT_EQ(config.deviceUrl,
            "https://login.microsoftonline.com/organizations/oauth2/v2.0/devicecode");
  EXPECT_EQ(config.scope, "https://outlook.office.com/SMTP.Send offline_access");
  EXPECT_EQ(config.tokenFile, "/state/work.token");

  OAuthConfig service;
  service.account = "robot";
  service.flow = OAuthFlow::ClientCredentials;
  service.clientId = "id";
  service.tenant = "contoso.example";
  EXPECT_FALSE(CompleteOAuthConfig("m365", "/state", service, error));
  EXPECT_EQ(error, "Account robot has no oauth-client-secret-file");
  service.clientSecret = "x";
  ASSERT_TRUE(CompleteOAuthConfig("m365", "/state", service, error));
  EXPECT_EQ(service.scope, "https://outlook.office365.com/.default");
  EXPECT_EQ(service.tokenUrl,
            "https://login.microsoftonline.com/contoso.example/oauth2/v2.0/token");

  OAuthConfig google;
  google.account = "g";
  google.flow = OAuthFlow::Browser;
  google.clientId = "id";
  ASSERT_TRUE(CompleteOAuthConfig("gmail", "", google, error) == false);
  EXPECT_EQ(error, "Account g has no oauth-token-file");
  google.tokenFile = "/t";
  ASSERT_TRUE(CompleteOAuthConfig("gmail", "", google, error));
  EXPECT_EQ(google.scope, "https://mail.google.com/");
  EXPECT_EQ(google.authorizeUrl, "https://accounts.google.com/o/oauth2/v2/auth");

  OAuthConfig bare;
  bare.account = "b";
  bare.flow = OAuthFlow::Device;
  bare.clientId = "id";
  EXPECT_FALSE(CompleteOAuthConfig("", "/s", bare, error));
  EXPECT_EQ(error, "Account b has no oauth-token-url");
  bare.tokenUrl = "http://idp.test/token";
  bare.deviceUrl = "https://idp.test/device";
  EXPECT_FALSE(CompleteOAuthConfig("", "/s", bare, error));
  EXPECT_EQ(error, "Account b: oauth-token-url must be an https address");
}

}  // namespace
