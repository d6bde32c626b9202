#include <gtest/gtest.h>

#include <string>

#include "smtp/smtp_client.h"
#include "support/dialogue.h"
#include "support/local_name.h"
#include "support/memory_stream.h"

namespace {

enum class Step { kLogin, kQuit };

SDialogueOutcome Dialogue(Step step, std::deque<std::string> replies,
                          const std::string& user = "", const std::string& password = "",
                          int method = 0) {
  return RunDialogue(std::move(replies), [&](CSmtpClient& client) {
    if (!user.empty()) client.SetUserName(user);
    if (!password.empty()) client.SetPassword(password);
    client.AuthMethod = method;
    return step == Step::kLogin ? client.Login() : client.Quit();
  });
}

TEST(SmtpReadReply, JudgesTheLastLineByPrefix) {
  struct Case {
    const char* what;
    std::deque<std::string> chunks;
    const char* expected;
    bool result;
  } cases[] = {
      {"multi-line", {"250-a\r\n250-b\r\n250 c\r\n"}, "250", true},
      {"only the last line counts", {"250-a\r\n550 no\r\n"}, "2", false},
      {"bare code", {"220\r\n"}, "2", true},
      {"bare code, exact", {"221\r\n"}, "221", true},
      {"bare continuation code", {"250-\r\n250 ok\r\n"}, "250", true},
      {"other code", {"250 ok\r\n"}, "235", false},
      {"closed mid-reply", {"220-a\r\n220-b\r\n"}, "2", false},
      {"closed at once", {}, "2", false},
      {"empty line", {"\r\n"}, "2", false},
      // Malformed lines fail whatever their first characters promise.
      {"one digit", {"2\r\n"}, "2", false},
      {"two digits", {"23\r\n"}, "2", false},
      {"letter in the code", {"25x ok\r\n"}, "2", false},
      {"letters for digits", {"2xx\r\n"}, "2", false},
      {"four digits", {"2500 ok\r\n"}, "250", false},
      {"tab after the code", {"250\tok\r\n"}, "250", false},
      {"hyphen too early", {"2-\r\n"}, "2", false},
      {"codes differ", {"550-rejected\r\n250 ok\r\n"}, "250", false},
      {"codes differ on the last line only", {"250-a\r\n250-b\r\n251 c\r\n"}, "25", false},
      {"malformed continuation", {"250-a\r\nxyz-b\r\n250 c\r\n"}, "250", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CSmtpClient client(true);
    client.AttachStream(std::make_unique<CMemoryStream>(MakePeer(c.chunks)));
    EXPECT_EQ(client.ReadReply(c.expected), c.result);
  }
}

// A malformed line ends the reply where a well-formed one would: what
// follows is neither read nor judged.
TEST(SmtpReadReply, MalformedReplyEndsWhereItWould) {
  CSmtpClient client(false);
  client.AttachStream(
      std::make_unique<CMemoryStream>(MakePeer({"550-no\r\n250 ok\r\n", "250 next\r\n"})));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(client.ReadReply("250"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "<-- 550-no\n<-- 250 ok\n");
}

// The lines of one reply are bounded together, not only one by one.
TEST(SmtpReadReply, WholeReplyIsBounded) {
  const std::string line = "250-" + std::string(1020, 'x') + "\r\n";  // 1024 bytes kept
  struct Case {
    const char* what;
    size_t extra;  // bytes in the last line beyond 1 MiB of continuation lines
    bool result;
  } cases[] = {{"at the bound", 0, true}, {"one byte over", 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string reply;
    for (int i = 0; i < 1023; ++i) reply += line;
    // The last line brings the total to 1 MiB plus extra.
    reply += "250 " + std::string(1020 + c.extra, 'y') + "\r\n";
    CSmtpClient client(true);
    client.AttachStream(std::make_unique<CMemoryStream>(MakePeer({reply, "250 later\r\n"})));
    EXPECT_EQ(client.ReadReply("250"), c.result);
    // Past the bound input has ended: the next reply is not read either.
    EXPECT_EQ(client.ReadReply("250"), c.result);
  }
  CSmtpClient client(false);
  std::string flood;
  for (int i = 0; i < 2000; ++i) flood += line;
  client.AttachStream(std::make_unique<CMemoryStream>(MakePeer({flood})));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(client.ReadReply("250"));
  EXPECT_TRUE(testing::internal::GetCapturedStderr().ends_with(
      "Reply longer than 1048576 bytes received\n"));
}

TEST(SmtpReadReply, StopsAtTheEndOfOneReply) {
  CSmtpClient client(false);
  client.AttachStream(
      std::make_unique<CMemoryStream>(MakePeer({"220-hello\r\n220 ready\r\n250 ok\r\n"})));
  testing::internal::CaptureStderr();
  EXPECT_TRUE(client.ReadReply("220"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "<-- 220-hello\n<-- 220 ready\n");
  EXPECT_TRUE(client.ReadReply("250"));
}

TEST(SmtpReadReply, SilenceFailsTheReply) {
  auto peer = MakePeer({"250-a\r\n"});
  peer->timeoutAtEnd = true;
  CSmtpClient client(true);
  client.AttachStream(std::make_unique<CMemoryStream>(peer));
  EXPECT_FALSE(client.ReadReply("250", 100));
}

TEST(SmtpSession, GreetingAndHelo) {
  struct Case {
    const char* what;
    std::deque<std::string> replies;
    int method;
    bool result;
    const char* sent;
  } cases[] = {
      {"accepted", {"220 relay ready\r\n", "250 hello\r\n"}, 0, true, "HELO {local}\r\n"},
      {"method alone asks no AUTH", {"220 ok\r\n", "250 ok\r\n"}, 2, true, "HELO {local}\r\n"},
      // Answered before it was asked: the relay is out of step.
      {"HELO reply ahead of HELO", {"220 ok\r\n250 ok\r\n"}, 0, false, ""},
      {"multi-line greeting",
       {"220-relay\r\n220-more\r\n220 ready\r\n", "250 ok\r\n"}, 0, true,
       "HELO {local}\r\n"},
      {"greeting refused", {"554 go away\r\n"}, 0, false, ""},
      {"greeting cut off", {"220-relay\r\n"}, 0, false, ""},
      {"HELO refused", {"220 ok\r\n", "501 bad\r\n"}, 0, false, "HELO {local}\r\n"},
      {"closed after HELO", {"220 ok\r\n"}, 0, false, "HELO {local}\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SDialogueOutcome o = Dialogue(Step::kLogin, c.replies, "", "", c.method);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.sent, WithLocalName(c.sent, o.localName));
  }
}

TEST(SmtpSession, TraceOfAGreeting) {
  SDialogueOutcome o = Dialogue(Step::kLogin, {"220 ready\r\n", "250 hi\r\n"});
  EXPECT_EQ(o.trace, WithLocalName("<-- 220 ready\n"
                                    "--> HELO {local}\r\n"
                                    "<-- 250 hi\n"
                                    "Connection Closed [0]\n",
                                    o.localName));
}

TEST(SmtpSession, Quit) {
  struct Case {
    const char* what;
    std::deque<std::string> replies;
    bool result;
  } cases[] = {
      {"221", {"221 bye\r\n"}, true},
      {"any 2xx", {"250 ok\r\n"}, true},
      {"refused", {"500 what\r\n"}, false},
      {"closed without reply", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SDialogueOutcome o = Dialogue(Step::kQuit, c.replies);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.sent, "QUIT\r\n");
  }
}

}  // namespace
