#include "oauth/token_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/private_file.h"

namespace {

namespace fs = std::filesystem;

class TokenSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("velsend-token-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    m_config.account = "work";
    m_config.flow = OAuthFlow::Device;
    m_config.clientId = "id";
    m_config.tokenUrl = "https://idp.test/token";
    m_config.tokenFile = (m_dir / "sub" / "work.token").string();
  }
  void TearDown() override { fs::remove_all(m_dir); }

  COAuthClient Client() {
    return COAuthClient(
        m_config,
        [this](const platform::HttpRequest& request) {
          ++m_refreshes;
          m_lastForm = request.form;
          platform::HttpResponse r;
          r.outcome = platform::HttpOutcome::Answered;
          r.status = 200;
          r.body = R"({"access_token":"AT-new","refresh_token":"RT-new","expires_in":3600})";
          return r;
        },
        [this] { return m_now; }, [](int64_t) {});
  }
  void Write(const TokenSet& tokens) {
    std::string error;
    ASSERT_TRUE(platform::ReplacePrivateFile(m_config.tokenFile, FormatTokenFile(tokens), error))
        << error;
  }
  TokenSet Stored() {
    std::string body;
    TokenSet tokens;
    EXPECT_EQ(platform::ReadPrivateFile(m_config.tokenFile, body), platform::PrivateRead::Ok);
    EXPECT_TRUE(ParseTokenFile(body, tokens));
    return tokens;
  }

  fs::path m_dir;
  OAuthConfig m_config;
  int64_t m_now = 5000000;
  int m_refreshes = 0;
  std::string m_lastForm;
};

TEST_F(TokenSourceTest, NoFileMeansNoSignIn) {
  COAuthClient client = Client();
  COAuthTokenSource source(m_config, client, [this] { return m_now; });
  std::string token;
  OAuthOutcome outcome = source.AccessToken(token);
  EXPECT_EQ(outcome.status, OAuthStatus::NotSignedIn);
  EXPECT_EQ(outcome.message, "No sign-in for account work: run velsend --account=work --oauth-login");
  EXPECT_EQ(m_refreshes, 0);
}

TEST_F(TokenSourceTest, UsesALastingTokenAndRefreshesOneThatEndsWithinAMinute) {
  struct Case {
    int64_t left;
    bool refresh;
  } cases[] = {{3600, false}, {61, false}, {60, true}, {0, true}, {-100, true}};
  for (const Case& c : cases) {
    Write({"AT-old", "RT-old", m_now + c.left});
    m_refreshes = 0;
    COAuthClient client = Client();
    COAuthTokenSource source(m_config, client, [this] { return m_now; });
    std::string token;
    ASSERT_EQ(source.AccessToken(token).status, OAuthStatus::Ok);
    EXPECT_EQ(token, c.refresh ? "AT-new" : "AT-old") << c.left;
    EXPECT_EQ(m_refreshes, c.refresh ? 1 : 0);
    TokenSet stored = Stored();
    EXPECT_EQ(stored.refreshToken, c.refresh ? "RT-new" : "RT-old");
  }
  EXPECT_NE(m_lastForm.find("refresh_token=RT-old"), std::string::npos);
}

TEST_F(TokenSourceTest, RenewsARefusedTokenOnceAndTakesAnotherRunsRefresh) {
  Write({"AT-old", "RT-old", m_now + 3600});
  COAuthClient client = Client();
  COAuthTokenSource source(m_config, client, [this] { return m_now; });
  std::string token;
  ASSERT_EQ(source.Renew("AT-old", token).status, OAuthStatus::Ok);
  EXPECT_EQ(token, "AT-new");
  EXPECT_EQ(m_refreshes, 1);
  EXPECT_NE(source.Renew("AT-new", token).status, OAuthStatus::Ok);
  EXPECT_EQ(m_refreshes, 1);

  // A second run refused the old token too, but the file already holds the
  // first run's new one: no second refresh (the rotated token is spent).
  COAuthTokenSource other(m_config, client, [this] { return m_now; });
  ASSERT_EQ(other.Renew("AT-old", token).status, OAuthStatus::Ok);
  EXPECT_EQ(token, "AT-new");
  EXPECT_EQ(m_refreshes, 1);
}

TEST_F(TokenSourceTest, FileIsOwnerOnlyAndReplacedWhole) {
  Write({"A", "R", 1});
  Write({"B", "", 2});
  TokenSet stored = Stored();
  EXPECT_EQ(stored.accessToken, "B");
  EXPECT_TRUE(stored.refreshToken.empty());
  // Only the token file and its lock remain: no temporary left beside it.
  int entries = 0;
  for (auto& entry : fs::directory_iterator(fs::path(m_config.tokenFile).parent_path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_LE(entries, 2);
}

}  // namespace
