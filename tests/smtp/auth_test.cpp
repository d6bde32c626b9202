#include <gtest/gtest.h>

#include <string>

#include "smtp/auth_mechanisms.h"
#include "smtp/smtp_client.h"
#include "support/dialogue.h"
#include "support/local_name.h"
#include "support/memory_stream.h"

namespace {

// Greeting, then Login with the given credentials and method.
SDialogueOutcome Login(const std::string& user, const std::string& password, int method,
                       std::deque<std::string> replies, bool quiet = false) {
  replies.push_front("220 ready\r\n");
  return RunDialogue(
      std::move(replies),
      [&](CSmtpClient& client) {
        client.SetUserName(user);
        client.SetPassword(password);
        client.AuthMethod = method;
        return client.Login();
      },
      quiet);
}

constexpr int kPlain = 1;
constexpr int kLogin = 2;

TEST(SmtpAuth, Plain) {
  struct Case {
    const char* what;
    const char* user;
    const char* password;
    int method;
    std::deque<std::string> replies;
    bool result;
    const char* sent;
  } cases[] = {
      {"235", "user", "pass", kPlain, {"250-relay\r\n250 AUTH PLAIN\r\n", "235 ok\r\n"}, true,
       "EHLO {local}\r\nAUTH PLAIN AHVzZXIAcGFzcw==\r\n"},
      {"any 2xx", "user", "pass", kPlain, {"250 ok\r\n", "250 fine\r\n"}, true,
       "EHLO {local}\r\nAUTH PLAIN AHVzZXIAcGFzcw==\r\n"},
      {"default method", "user", "pass", 0, {"250 ok\r\n", "235 ok\r\n"}, true,
       "EHLO {local}\r\nAUTH PLAIN AHVzZXIAcGFzcw==\r\n"},
      {"empty user name", "", "pass", kPlain, {"250 ok\r\n", "235 ok\r\n"}, true,
       "EHLO {local}\r\nAUTH PLAIN AABwYXNz\r\n"},
      {"empty password", "user", "", kPlain, {"250 ok\r\n", "235 ok\r\n"}, true,
       "EHLO {local}\r\nAUTH PLAIN AHVzZXIA\r\n"},
      {"refused", "user", "pass", kPlain, {"250 ok\r\n", "535 no\r\n"}, false,
       "EHLO {local}\r\nAUTH PLAIN AHVzZXIAcGFzcw==\r\n"},
      {"EHLO unknown: no AUTH, no HELO", "user", "pass", kPlain, {"500 what\r\n"}, false,
       "EHLO {local}\r\n"},
      {"EHLO with 2xx other than 250", "user", "pass", kPlain, {"220 ok\r\n"}, false,
       "EHLO {local}\r\n"},
      {"AUTH reply ahead of AUTH", "user", "pass", kPlain, {"250 ok\r\n235 ok\r\n"}, false,
       "EHLO {local}\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SDialogueOutcome o = Login(c.user, c.password, c.method, c.replies);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.sent, WithLocalName(c.sent, o.localName));
  }
}

TEST(SmtpAuth, Login) {
  struct Case {
    const char* what;
    const char* user;
    const char* password;
    std::deque<std::string> replies;
    bool result;
    const char* sent;
  } cases[] = {
      {"accepted", "user", "pass",
       {"250 ok\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"}, true,
       "EHLO {local}\r\nAUTH LOGIN\r\ndXNlcg==\r\ncGFzcw==\r\n"},
      {"250 to the password fails", "user", "pass",
       {"250 ok\r\n", "334 a\r\n", "334 b\r\n", "250 ok\r\n"}, false,
       "EHLO {local}\r\nAUTH LOGIN\r\ndXNlcg==\r\ncGFzcw==\r\n"},
      {"user refused: password never sent", "user", "pass",
       {"250 ok\r\n", "334 a\r\n", "535 no\r\n"}, false,
       "EHLO {local}\r\nAUTH LOGIN\r\ndXNlcg==\r\n"},
      {"no AUTH extension", "user", "pass", {"250 ok\r\n", "504 no\r\n"}, false,
       "EHLO {local}\r\nAUTH LOGIN\r\n"},
      {"empty user name", "", "pass", {"250 ok\r\n", "334 a\r\n", "334 b\r\n", "235 ok\r\n"},
       true, "EHLO {local}\r\nAUTH LOGIN\r\n\r\ncGFzcw==\r\n"},
      {"empty password", "user", "", {"250 ok\r\n", "334 a\r\n", "334 b\r\n", "235 ok\r\n"},
       true, "EHLO {local}\r\nAUTH LOGIN\r\ndXNlcg==\r\n\r\n"},
      {"answer ahead of the user name", "user", "pass",
       {"250 ok\r\n", "334 a\r\n334 b\r\n", "235 ok\r\n"}, false,
       "EHLO {local}\r\nAUTH LOGIN\r\n"},
      {"answer ahead of the password", "user", "pass",
       {"250 ok\r\n", "334 a\r\n", "334 b\r\n235 ok\r\n"}, false,
       "EHLO {local}\r\nAUTH LOGIN\r\ndXNlcg==\r\n"},
      {"three-byte and four-byte names", "abc", "abcd",
       {"250 ok\r\n", "334 a\r\n", "334 b\r\n", "235 ok\r\n"}, true,
       "EHLO {local}\r\nAUTH LOGIN\r\nYWJj\r\nYWJjZA==\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SDialogueOutcome o = Login(c.user, c.password, kLogin, c.replies);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.sent, WithLocalName(c.sent, o.localName));
  }
}

TEST(SmtpAuth, CredentialsNeverTraced) {
  SDialogueOutcome plain = Login("user", "pass", kPlain, {"250 ok\r\n", "235 ok\r\n", "221 bye\r\n"});
  EXPECT_EQ(plain.trace, WithLocalName(
            "<-- 220 ready\n"
            "--> EHLO {local}\r\n"
            "<-- 250 ok\n"
            "--> AUTH PLAIN *** SECRET! ***\r\n"
            "<-- 235 ok\n"
            "Connection Closed [0]\n", plain.localName));

  SDialogueOutcome login =
      Login("user", "pass", kLogin, {"250 ok\r\n", "334 a\r\n", "334 b\r\n", "235 ok\r\n"});
  EXPECT_EQ(login.trace, WithLocalName(
            "<-- 220 ready\n"
            "--> EHLO {local}\r\n"
            "<-- 250 ok\n"
            "--> AUTH LOGIN\r\n"
            "<-- 334 a\n"
            "--> *** SECRET! ***\r\n"
            "<-- 334 b\n"
            "--> *** SECRET! ***\r\n"
            "<-- 235 ok\n"
            "Connection Closed [0]\n", login.localName));
}

TEST(SmtpAuth, MaskEndsWithTheCredentialLine) {
  auto peer = MakePeer({"220 ok\r\n", "250 ok\r\n", "235 ok\r\n", "221 bye\r\n"});
  CSmtpClient client(false);
  client.AttachStream(std::make_unique<CMemoryStream>(peer));
  client.SetUserName("user");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(client.Login());
  EXPECT_TRUE(client.Quit());
  std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_NE(trace.find("--> QUIT\r\n"), std::string::npos) << trace;
}

TEST(SmtpAuth, LongCredentialsTravelOnOneLine) {
  const std::string user(900, 'u');
  const std::string password(900, 'p');
  SDialogueOutcome o = Login(user, password, kPlain, {"250 ok\r\n", "235 ok\r\n"}, true);
  EXPECT_TRUE(o.result);
  const std::string prefix = WithLocalName("EHLO {local}\r\nAUTH PLAIN ", o.localName);
  ASSERT_EQ(o.sent.compare(0, prefix.size(), prefix), 0);
  const std::string encoded = o.sent.substr(prefix.size());
  EXPECT_EQ(encoded.size(), (user.size() + password.size() + 2 + 2) / 3 * 4 + 2);
  EXPECT_EQ(encoded.find('\n'), encoded.size() - 1);  // one line, ended once
  EXPECT_EQ(o.trace, "");  // quiet
}

struct Exchange {
  bool result;
  std::string sent;      // after the EHLO
  std::string trace;     // after the EHLO reply
  std::string failure;   // the kNotAsked failure's line
};

// Greeting and EHLO answered with ehloReply, then Authenticate in the given
// mode with the mechanism of -m (kAuthUnset: none given).
Exchange Authenticate(CSmtpClient::TlsMode mode, int method, const std::string& ehloReply,
                      std::deque<std::string> replies, const std::string& user = "ann",
                      const std::string& password = "tok") {
  replies.push_front(ehloReply);
  replies.push_front("220 ready\r\n");
  auto peer = MakePeer(std::move(replies));
  Exchange e{};
  testing::internal::CaptureStderr();
  size_t sentBefore = 0;
  {
    CSmtpClient client(false);
    client.AttachStream(std::make_unique<CMemoryStream>(peer));
    SClientOptions settings = client.Options();
    settings.tlsMode = mode;
    settings.tls.hostName = "smtp.example.org";
    client.SetOptions(settings);
    client.SetUserName(user);
    client.SetPassword(password);
    client.AuthMethod = method;
    EXPECT_TRUE(client.ReadReply("2"));
    EXPECT_TRUE(client.Ehlo());
    sentBefore = peer->sent.size();
    std::fputs("[authenticate]\n", stderr);
    e.result = client.Authenticate();
    e.failure = client.m_outcome.detail;
  }
  const std::string trace = testing::internal::GetCapturedStderr();
  const size_t mark = trace.find("[authenticate]\n");
  e.trace = mark == std::string::npos ? trace : trace.substr(mark + 15);
  e.sent = peer->sent.substr(sentBefore);
  return e;
}

// Over TLS the relay's AUTH keyword decides; -m must be among it. A refusal
// found there sends nothing at all.
TEST(SmtpAuth, MechanismFromTheRelaysOffer) {
  const auto tls = CSmtpClient::kStartTls;
  struct Case {
    const char* what;
    CSmtpClient::TlsMode mode;
    int method;
    const char* ehlo;
    std::deque<std::string> replies;
    bool result;
    const char* sent;
    const char* failure;
  } cases[] = {
      {"PLAIN first", tls, kAuthUnset, "250-relay\r\n250 AUTH LOGIN PLAIN CRAM-MD5\r\n",
       {"235 ok\r\n"}, true, "AUTH PLAIN AGFubgB0b2s=\r\n", ""},
      {"LOGIN only", tls, kAuthUnset, "250-relay\r\n250 AUTH LOGIN\r\n",
       {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"}, true,
       "AUTH LOGIN\r\nYW5u\r\ndG9r\r\n", ""},
      {"CRAM-MD5 only", tls, kAuthUnset, "250-relay\r\n250 AUTH CRAM-MD5 XOAUTH2\r\n",
       {"535 no\r\n"}, false, "AUTH CRAM-MD5\r\n", ""},
      {"-m among the offer", tls, kAuthLogin, "250-relay\r\n250 AUTH PLAIN LOGIN\r\n",
       {"535 no\r\n"}, false, "AUTH LOGIN\r\n", ""},
      {"-m not offered", tls, kAuthXoauth2, "250-relay\r\n250 AUTH PLAIN  LOGIN\r\n", {}, false,
       "", "The relay does not offer AUTH XOAUTH2 (it offers: PLAIN LOGIN)\n"},
      {"nothing for a password", tls, kAuthUnset, "250-relay\r\n250 AUTH XOAUTH2\r\n", {}, false,
       "", "The relay does not offer AUTH PLAIN, LOGIN or CRAM-MD5 (it offers: XOAUTH2)\n"},
      {"no AUTH keyword", tls, kAuthUnset, "250-relay\r\n250 SIZE 100\r\n", {}, false, "",
       "The relay does not offer authentication\n"},
      {"AUTH without mechanisms", tls, kAuthPlain, "250-relay\r\n250 AUTH\r\n", {}, false, "",
       "The relay does not offer authentication\n"},
      {"clear text: the offer is not read", CSmtpClient::kNoTls, kAuthUnset,
       "250-relay\r\n250 AUTH LOGIN\r\n", {"235 ok\r\n"}, true, "AUTH PLAIN AGFubgB0b2s=\r\n",
       ""},
      {"clear text: -m as given", CSmtpClient::kNoTls, kAuthXoauth2, "250 relay\r\n",
       {"235 ok\r\n"}, true, "AUTH XOAUTH2 dXNlcj1hbm4BYXV0aD1CZWFyZXIgdG9rAQE=\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Exchange e = Authenticate(c.mode, c.method, c.ehlo, c.replies);
    EXPECT_EQ(e.result, c.result);
    EXPECT_EQ(e.sent, c.sent);
    EXPECT_EQ(e.failure, c.failure);
  }
}

TEST(SmtpAuth, CramMd5) {
  const std::string ehlo = "250-relay\r\n250 AUTH CRAM-MD5\r\n";
  const std::string challenge = "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n";
  struct Case {
    const char* what;
    std::deque<std::string> replies;
    bool result;
    const char* sent;
  } cases[] = {
      {"accepted", {challenge, "235 ok\r\n"}, true,
       "AUTH CRAM-MD5\r\ndGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n"},
      {"250 is no acceptance", {challenge, "250 ok\r\n"}, false,
       "AUTH CRAM-MD5\r\ndGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n"},
      {"refused", {challenge, "535 5.7.8 no\r\n"}, false,
       "AUTH CRAM-MD5\r\ndGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n"},
      {"challenge not base64", {"334 <1896@x>\r\n"}, false, "AUTH CRAM-MD5\r\n"},
      {"empty challenge", {"334 \r\n"}, false, "AUTH CRAM-MD5\r\n"},
      {"not implemented", {"504 no\r\n"}, false, "AUTH CRAM-MD5\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Exchange e = Authenticate(CSmtpClient::kStartTls, kAuthCramMd5, ehlo, c.replies, "tim",
                              "tanstaaftanstaaf");
    EXPECT_EQ(e.result, c.result);
    EXPECT_EQ(e.sent, c.sent);
  }
  // The answer names the user: masked whole.
  Exchange e = Authenticate(CSmtpClient::kStartTls, kAuthCramMd5, ehlo, {challenge, "235 ok\r\n"},
                            "tim", "tanstaaftanstaaf");
  EXPECT_EQ(e.trace, "--> AUTH CRAM-MD5\r\n<-- " + challenge.substr(0, challenge.size() - 2) +
                         "\n--> *** SECRET! ***\r\n<-- 235 ok\nConnection Closed [0]\n");
}

TEST(SmtpAuth, BearerTokens) {
  const std::string ehlo = "250-relay\r\n250 AUTH XOAUTH2 OAUTHBEARER\r\n";
  const std::string error = "334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n";
  const std::string xoauth2 = "AUTH XOAUTH2 dXNlcj1hbm4BYXV0aD1CZWFyZXIgdG9rAQE=\r\n";
  const std::string bearer =
      "AUTH OAUTHBEARER bixhPWFubiwBaG9zdD1zbXRwLmV4YW1wbGUub3JnAWF1dGg9QmVhcmVyIHRvawEB\r\n";
  struct Case {
    const char* what;
    int method;
    std::deque<std::string> replies;
    bool result;
    std::string sent;
  } cases[] = {
      {"XOAUTH2 accepted", kAuthXoauth2, {"235 2.7.0 ok\r\n"}, true, xoauth2},
      {"XOAUTH2 error dialogue", kAuthXoauth2, {error, "535 5.7.8 bad token\r\n"}, false,
       xoauth2 + "\r\n"},
      {"OAUTHBEARER accepted", kAuthOauthBearer, {"235 ok\r\n"}, true, bearer},
      {"OAUTHBEARER error dialogue", kAuthOauthBearer, {error, "535 no\r\n"}, false,
       bearer + "\r\n"},
      {"refused at once", kAuthXoauth2, {"535 5.7.139 basic auth off\r\n"}, false, xoauth2},
      {"error ahead of its answer", kAuthXoauth2, {error + "535 no\r\n"}, false, xoauth2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Exchange e = Authenticate(CSmtpClient::kStartTls, c.method, ehlo, c.replies);
    EXPECT_EQ(e.result, c.result);
    EXPECT_EQ(e.sent, c.sent);
  }
  // The relay's JSON reason is shown decoded; the token never.
  Exchange e = Authenticate(CSmtpClient::kStartTls, kAuthXoauth2, ehlo,
                            {error, "535 5.7.8 bad token\r\n"});
  EXPECT_EQ(e.trace, "--> AUTH XOAUTH2 *** SECRET! ***\r\n<-- " +
                         error.substr(0, error.size() - 2) +
                         "\n<-- (decoded) {\"status\":\"401\",\"schemes\":\"bearer\"}\n--> \r\n"
                         "<-- 535 5.7.8 bad token\nConnection Closed [0]\n");
}

// Tokens of several kilobytes go out on one line and stay out of the trace.
TEST(SmtpAuth, LongTokenOnOneMaskedLine) {
  const std::string token(4096, 'T');
  Exchange e = Authenticate(CSmtpClient::kStartTls, kAuthXoauth2, "250-relay\r\n250 AUTH XOAUTH2\r\n",
                            {"235 ok\r\n"}, "ann", token);
  EXPECT_TRUE(e.result);
  const std::string credential = Xoauth2Credential("ann", token);
  ASSERT_TRUE(e.sent.starts_with("AUTH XOAUTH2 "));
  EXPECT_EQ(e.sent.size(), 13 + (credential.size() + 2) / 3 * 4 + 2);
  EXPECT_EQ(e.sent.find('\n'), e.sent.size() - 1);
  EXPECT_EQ(e.trace, "--> AUTH XOAUTH2 *** SECRET! ***\r\n<-- 235 ok\nConnection Closed [0]\n");
}

}  // namespace
