#include "platform/tls.h"

#include "net/tls_failure.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_stream.h"

namespace {

struct Attempt {
  std::unique_ptr<CByteStream> stream;
  std::string reason;
  std::shared_ptr<CMemoryStream::Shared> peer;
};

Attempt Start(std::deque<std::string> replies, bool silentAtEnd, const std::string& host,
              const std::string& caFile = "") {
  Attempt attempt;
  attempt.peer = MakePeer(std::move(replies));
  attempt.peer->timeoutAtEnd = silentAtEnd;
  platform::TlsOptions options;
  options.hostName = host;
  options.caFile = caFile;
  platform::TlsSessionInfo info;
  platform::TlsFailure failure;
  attempt.stream = platform::StartTlsClient(std::make_unique<CMemoryStream>(attempt.peer),
                                            options, 5000, info, failure);
  attempt.reason = TlsFailureText(failure);
  return attempt;
}

bool SentClientHello(const std::string& sent) {
  return sent.size() > 5 && sent[0] == '\x16' && sent[1] == '\x03' && sent[5] == '\x01';
}

TEST(TlsWin32, FailedHandshakesCloseTheTransportWithAReason) {
  struct Case {
    const char* what;
    std::deque<std::string> replies;
    bool silentAtEnd;
    const char* reason;
  } cases[] = {
      {"closed at once", {}, false, "the relay closed the connection during the TLS handshake"},
      {"silence", {}, true, "the relay did not complete the TLS handshake in time"},
      {"closed after part of a record", {std::string("\x16\x03\x03\x00\x40\x02", 6)}, false,
       "the relay closed the connection during the TLS handshake"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Attempt attempt = Start(c.replies, c.silentAtEnd, "smtp.example.org");
    EXPECT_EQ(attempt.stream, nullptr);
    EXPECT_EQ(attempt.reason, c.reason);
    EXPECT_TRUE(attempt.peer->closed);
    EXPECT_TRUE(SentClientHello(attempt.peer->sent));
  }
}

TEST(TlsWin32, AnswersThatEndTheHandshakeAtOnce) {
  struct Case {
    const char* what;
    std::string reply;
    const char* reason;
  } cases[] = {
      {"clear-text greeting", "220 smtp.example.org ESMTP ready\r\n",
       "the relay did not answer with TLS"},
      {"SSL 2 style record", std::string("\x16\x02\x00\x00\x02", 5),
       "the relay did not answer with TLS"},
      {"fatal protocol_version alert", std::string("\x15\x03\x03\x00\x02\x02\x46", 7),
       "the relay does not offer TLS 1.2 or later"},
      {"fatal handshake_failure alert", std::string("\x15\x03\x01\x00\x02\x02\x28", 7),
       "the relay broke off the TLS handshake (alert 40)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Silence after the reply: a client that waits for more times out.
    Attempt attempt = Start({c.reply}, true, "smtp.example.org");
    EXPECT_EQ(attempt.stream, nullptr);
    EXPECT_EQ(attempt.reason, c.reason);
    EXPECT_TRUE(attempt.peer->closed);
  }
}

TEST(TlsWin32, ServerNameIndicationForHostNamesOnly) {
  Attempt named = Start({}, true, "smtp.example.org");
  EXPECT_NE(named.peer->sent.find("smtp.example.org"), std::string::npos);
  for (const char* address : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(address);
    Attempt literal = Start({}, true, address);
    ASSERT_TRUE(SentClientHello(literal.peer->sent));
    EXPECT_EQ(literal.peer->sent.find(address), std::string::npos);
  }
}

TEST(TlsWin32, UnreadableCaFileStopsBeforeAnyByte) {
  Attempt attempt = Start({}, true, "smtp.example.org", "Z:\\no\\such\\ca.pem");
  EXPECT_EQ(attempt.stream, nullptr);
  EXPECT_EQ(attempt.reason, "cannot read the CA file Z:\\no\\such\\ca.pem");
  EXPECT_TRUE(attempt.peer->sent.empty());
  EXPECT_TRUE(attempt.peer->closed);
}

}  // namespace
