#include <gtest/gtest.h>

#include <string>

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

}  // namespace
