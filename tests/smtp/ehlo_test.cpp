#include "smtp/ehlo.h"

#include <gtest/gtest.h>

#include <string>

#include "smtp/smtp_client.h"
#include "support/local_name.h"
#include "support/memory_stream.h"

namespace {

TEST(EhloKeywords, ParsesEveryLineAfterTheGreeting) {
  const EhloKeywords keywords = ParseEhloKeywords({
      "250-relay.example.org greets you",
      "250-starttls",
      "250-AUTH PLAIN  LOGIN",
      "250-SIZE 10240000",
      "250-AUTH=LOGIN",       // old form: not a keyword
      "250-",                 // nothing after the code
      "250 8BITMIME",
  });
  const EhloKeywords expected = {
      {"STARTTLS", ""}, {"AUTH", "PLAIN  LOGIN"}, {"SIZE", "10240000"}, {"8BITMIME", ""}};
  EXPECT_EQ(keywords, expected);
  EXPECT_TRUE(ParseEhloKeywords({"250 STARTTLS"}).empty());  // the greeting line only
}

struct Outcome {
  bool result;
  std::string sent;
  std::string failure;
  std::string localName;
};

Outcome Login(CSmtpClient::TlsMode mode, std::deque<std::string> replies,
              size_t answersAheadFrom = static_cast<size_t>(-1)) {
  auto peer = MakePeer(std::move(replies));
  peer->answersAheadFrom = answersAheadFrom;
  CSmtpClient client(true);
  client.AttachStream(std::make_unique<CMemoryStream>(peer));
  SClientOptions settings = client.Options();
  settings.tlsMode = mode;
  settings.tls.hostName = "localhost";
  client.SetOptions(settings);
  client.SetUserName("ann");
  client.SetPassword("secret");
  Outcome outcome{};
  outcome.result = client.Login();
  outcome.failure = client.m_outcome.detail;
  outcome.localName = client.GetLocalHostName();
  client.Close();
  outcome.sent = peer->sent;
  return outcome;
}

// Nothing the relay says in clear text may lead to a command after STARTTLS
// in clear text, nor to credentials or HELO at all.
TEST(StartTls, NoFallBackToClearText) {
  struct Case {
    const char* what;
    std::deque<std::string> replies;
    const char* sent;
    const char* failure;
    size_t answersAheadFrom = static_cast<size_t>(-1);  // chunk waiting unasked
  } cases[] = {
      {"not offered", {"220 hi\r\n", "250-relay\r\n250 AUTH PLAIN\r\n"}, "EHLO {local}\r\n",
       "the relay does not offer STARTTLS"},
      {"EHLO refused", {"220 hi\r\n", "502 no EHLO here\r\n"}, "EHLO {local}\r\n",
       "the relay refused EHLO, so it does not offer STARTTLS"},
      {"refused", {"220 hi\r\n", "250-relay\r\n250 STARTTLS\r\n", "454 4.7.0 no TLS\x1b[2J\r\n"},
       "EHLO {local}\r\nSTARTTLS\r\n", "the relay refused STARTTLS: 454 4.7.0 no TLS?[2J"},
      {"not implemented", {"220 hi\r\n", "250-relay\r\n250 STARTTLS\r\n", "502 5.5.1 no\r\n"},
       "EHLO {local}\r\nSTARTTLS\r\n", "the relay refused STARTTLS: 502 5.5.1 no"},
      {"no answer", {"220 hi\r\n", "250-relay\r\n250 STARTTLS\r\n"},
       "EHLO {local}\r\nSTARTTLS\r\n", "the relay gave no answer to STARTTLS"},
      {"data with the 220", {"220 hi\r\n", "250-relay\r\n250 STARTTLS\r\n", "220 go\r\n250 x\r\n"},
       "EHLO {local}\r\nSTARTTLS\r\n", "the relay sent data after accepting STARTTLS"},
      {"data after the 220",
       {"220 hi\r\n", "250-relay\r\n250 STARTTLS\r\n", "220 go\r\n", "250-AUTH PLAIN\r\n"},
       "EHLO {local}\r\nSTARTTLS\r\n", "the relay sent data after accepting STARTTLS", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = Login(CSmtpClient::kStartTls, c.replies, c.answersAheadFrom);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.sent, WithLocalName(c.sent, o.localName));
    EXPECT_EQ(o.failure, c.failure);
  }
}

TEST(StartTls, TheHandshakeFollowsTheAcceptance) {
  struct Case {
    const char* what;
    CSmtpClient::TlsMode mode;
    std::deque<std::string> replies;
    const char* sentBefore;  // in clear text, before the ClientHello
  } cases[] = {
      {"STARTTLS, then closed",
       CSmtpClient::kStartTls,
       {"220 hi\r\n", "250-relay\r\n250-starttls\r\n250 SIZE 100\r\n", "220 go\r\n"},
       "EHLO {local}\r\nSTARTTLS\r\n"},
      {"implicit TLS, clear-text relay", CSmtpClient::kImplicitTls, {"220 hi\r\n"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = Login(c.mode, c.replies);
    EXPECT_FALSE(o.result);
    // The TLS library's own reason (its wording is tested with the library).
    EXPECT_FALSE(o.failure.empty());
    EXPECT_EQ(o.failure.find("STARTTLS"), std::string::npos);
    const std::string before = WithLocalName(c.sentBefore, o.localName);
    ASSERT_GT(o.sent.size(), before.size() + 5);
    EXPECT_EQ(o.sent.substr(0, before.size()), before);
    // A TLS handshake record: the ClientHello, and nothing in clear text.
    EXPECT_EQ(o.sent.substr(before.size(), 2), std::string("\x16\x03", 2));
    EXPECT_EQ(o.sent.find("AUTH"), std::string::npos);
  }
}

TEST(StartTls, SplitLineEndIsNotTakenForInjectedData) {
  Outcome o = Login(CSmtpClient::kStartTls,
                    {"220 hi\r\n", "250-relay\r\n250 STARTTLS\r\n", "220 go\r", "\n"});
  // The handshake ran: the failure is the TLS library's, not the injection's.
  EXPECT_FALSE(o.failure.empty());
  EXPECT_NE(o.failure, "the relay sent data after accepting STARTTLS");
}

TEST(SmtpSession, EhloWithoutTlsKeepsTheClearTextDialogue) {
  // Credentials without TLS: EHLO then AUTH, exactly as before.
  Outcome o = Login(CSmtpClient::kNoTls, {"220 hi\r\n", "250-relay\r\n250 STARTTLS\r\n",
                                          "235 ok\r\n"});
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.sent, WithLocalName("EHLO {local}\r\nAUTH PLAIN AGFubgBzZWNyZXQ=\r\n", o.localName));
}

}  // namespace
