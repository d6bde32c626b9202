// The envelope as one group when the relay offers PIPELINING (RFC 2920).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smtp/smtp_client.h"
#include "support/message_fixture.h"

namespace {

struct PipelinedTransaction : SClientOnPeer {
  explicit PipelinedTransaction(bool offered = true, int recipients = 3) {
    client.m_identified = true;
    if (offered) client.m_ehloKeywords["PIPELINING"] = "";
    client.m_originatorAddress = "a@x";
    for (int i = 0; i < recipients; ++i) {
      client.m_recipients.push_back("r" + std::to_string(i) + "@x");
    }
    client.m_parts = {Part("7bit", {"body\r\n"})};
  }
  void Reply(const std::vector<std::string>& replies) {
    for (const std::string& reply : replies) peer->chunks.push_back(reply + "\r\n");
  }
};

const std::string kEnvelope =
    "MAIL FROM:<a@x>\r\nRCPT TO:<r0@x>\r\nRCPT TO:<r1@x>\r\nRCPT TO:<r2@x>\r\n";

TEST(Pipelining, EnvelopeAndDataGoAsOneGroupThenTheMessage) {
  PipelinedTransaction t;
  t.Reply({"250 ok", "250 ok", "250 ok", "250 ok", "354 go", "250 queued"});
  ASSERT_TRUE(t.client.SendMail());
  ASSERT_EQ(t.peer->sentBeforeReads.size(), 2u);
  EXPECT_EQ(t.peer->sentBeforeReads[0], kEnvelope + "DATA\r\n");
  EXPECT_NE(t.peer->sentBeforeReads[1].find("\r\nbody\r\n"), std::string::npos);
  // The end of the data and QUIT go together; Quit only reads its reply.
  EXPECT_TRUE(t.peer->sentBeforeReads[1].ends_with("\r\n.\r\nQUIT\r\n"));
  t.Reply({"221 bye"});
  EXPECT_TRUE(t.client.Quit());
  EXPECT_EQ(t.peer->sentBeforeReads.size(), 2u);
  EXPECT_EQ(t.client.m_recipientCursor, 3);
}

// Without the keyword, or without an accepted EHLO (a HELO session), every
// command waits for the reply to the one before, as it always did.
TEST(Pipelining, NotOfferedOrHeloSessionSendsOneCommandAtATime) {
  for (const bool identified : {true, false}) {
    SCOPED_TRACE(identified ? "EHLO without PIPELINING" : "HELO session");
    PipelinedTransaction t(/*offered=*/!identified);
    t.client.m_identified = identified;
    if (!identified) t.client.m_ehloKeywords.clear();
    t.Reply({"250 ok", "250 ok", "250 ok", "250 ok", "354 go", "250 queued"});
    ASSERT_TRUE(t.client.SendMail());
    const std::vector<std::string> expected = {"MAIL FROM:<a@x>\r\n", "RCPT TO:<r0@x>\r\n",
                                               "RCPT TO:<r1@x>\r\n", "RCPT TO:<r2@x>\r\n",
                                               "DATA\r\n"};
    ASSERT_EQ(t.peer->sentBeforeReads.size(), 6u);
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(t.peer->sentBeforeReads[i], expected[i]);
    }
  }
}

// A refusal anywhere in the group stops the transaction at once: the relay
// may be waiting for data after its 354, but the "." that would deliver a
// message, empty or not, is never sent (the caller closes the connection).
TEST(Pipelining, EveryReplyPositionRefused) {
  struct Case {
    const char* what;
    std::vector<std::string> replies;
    int cursor;
    bool messageSent;
  } cases[] = {
      {"MAIL", {"550 no", "503 no", "503 no", "503 no", "503 no"}, 0, false},
      {"first RCPT", {"250 ok", "550 no", "250 ok", "250 ok", "354 go"}, 0, false},
      {"second RCPT", {"250 ok", "250 ok", "550 no", "250 ok", "354 go"}, 1, false},
      {"452 to the first RCPT", {"250 ok", "452 full", "250 ok", "250 ok", "354 go"}, 0, false},
      {"last RCPT", {"250 ok", "250 ok", "250 ok", "553 no", "354 go"}, 2, false},
      {"DATA", {"250 ok", "250 ok", "250 ok", "250 ok", "554 no"}, 3, false},
      {"end of data", {"250 ok", "250 ok", "250 ok", "250 ok", "354 go", "554 no"}, 3, true},
      {"relay closes mid-group", {"250 ok", "250 ok"}, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PipelinedTransaction t;
    t.Reply(c.replies);
    EXPECT_FALSE(t.client.SendMail());
    EXPECT_EQ(t.peer->sentBeforeReads.at(0), kEnvelope + "DATA\r\n");
    if (!c.messageSent) {
      EXPECT_EQ(t.peer->sent, kEnvelope + "DATA\r\n");
    }
    EXPECT_EQ(t.peer->sent.find("\r\n.\r\n") != std::string::npos, c.messageSent);
    EXPECT_EQ(t.client.m_recipientCursor, c.cursor);
  }
}

TEST(Pipelining, RepliesSplitAcrossPacketsAndJoinedInOne) {
  for (const bool joined : {false, true}) {
    PipelinedTransaction t;
    if (joined) {
      t.peer->chunks = {"250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n", "354 go\r\n", "250 queued\r\n"};
    } else {
      t.peer->chunks = {"25", "0 ok\r\n250 o", "k\r", "\n250 ok\r\n250 ok", "\r\n",
                        "354 go\r\n", "250 queued\r\n"};
    }
    EXPECT_TRUE(t.client.SendMail());
    EXPECT_EQ(t.client.m_recipientCursor, 3);
  }
}

// A relay that answers before the group was sent is out of step: nothing
// is sent. One that answers DATA with a reply meant for a RCPT gets no
// message.
TEST(Pipelining, RelayOutOfStepFailsBeforeData) {
  {
    PipelinedTransaction t;
    t.peer->answersAhead = true;
    t.Reply({"250 early"});
    EXPECT_FALSE(t.client.SendMail());
    EXPECT_EQ(t.peer->sent, "");
  }
  {
    PipelinedTransaction t;
    t.peer->chunks = {"250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n250 extra\r\n"};
    EXPECT_FALSE(t.client.SendMail());
    EXPECT_EQ(t.peer->sent, kEnvelope + "DATA\r\n");
  }
}

// Long lists go in groups of at most 100 commands, so that neither side
// fills the other's buffers while not reading.
TEST(Pipelining, LongListsGoInGroupsOfAHundredCommands) {
  PipelinedTransaction t(true, 250);
  for (int i = 0; i < 251; ++i) t.Reply({"250 ok"});
  t.Reply({"354 go", "250 queued"});
  ASSERT_TRUE(t.client.SendMail());
  ASSERT_EQ(t.peer->sentBeforeReads.size(), 4u);
  const auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_TRUE(t.peer->sentBeforeReads[0].starts_with("MAIL FROM:<a@x>\r\nRCPT TO:<r0@x>\r\n"));
  EXPECT_EQ(count(t.peer->sentBeforeReads[0], "RCPT TO:"), 99u);
  EXPECT_TRUE(t.peer->sentBeforeReads[1].starts_with("RCPT TO:<r99@x>\r\n"));
  EXPECT_EQ(count(t.peer->sentBeforeReads[1], "RCPT TO:"), 100u);
  EXPECT_EQ(count(t.peer->sentBeforeReads[2], "RCPT TO:"), 51u);
  EXPECT_TRUE(t.peer->sentBeforeReads[2].ends_with("RCPT TO:<r249@x>\r\nDATA\r\n"));
  EXPECT_EQ(t.client.m_recipientCursor, 250);
}

// A 452 after an accepted recipient defers the rest to another transaction
// on the same connection, with the same message; a 452 to the first RCPT of
// a later transaction still fails the run.
TEST(RecipientLimit, FourFiftyTwoSplitsIntoTransactionsWithTheSameMessage) {
  for (const bool offered : {true, false}) {
    SCOPED_TRACE(offered ? "pipelined" : "one at a time");
    PipelinedTransaction t(offered);
    // Asked one at a time, r2 is not asked after r1's 452.
    if (offered) {
      t.Reply({"250 ok", "250 ok", "452 full", "452 full", "354 go", "250 queued"});
    } else {
      t.Reply({"250 ok", "250 ok", "452 full", "354 go", "250 queued"});
    }
    t.Reply({"250 ok", "250 ok", "452 full", "354 go", "250 queued"});
    t.Reply({"250 ok", "250 ok", "354 go", "250 queued"});
    ASSERT_TRUE(t.client.SendMail());
    EXPECT_EQ(t.client.m_recipientCursor, 3);
    const std::string& sent = t.peer->sent;
    std::vector<std::string> messages;
    for (size_t at = sent.find("DATA\r\n"); at != std::string::npos;) {
      const size_t end = sent.find("\r\n.\r\n", at);
      ASSERT_NE(end, std::string::npos);
      messages.push_back(sent.substr(at, end - at));
      at = sent.find("DATA\r\n", end);
    }
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1], messages[0]);
    EXPECT_EQ(messages[2], messages[0]);
    EXPECT_NE(sent.find(".\r\nMAIL FROM:<a@x>\r\nRCPT TO:<r1@x>\r\nRCPT TO:<r2@x>\r\nDATA"),
              std::string::npos);
    // Pipelined, QUIT goes with the last end of data only.
    EXPECT_TRUE(sent.ends_with(".\r\nMAIL FROM:<a@x>\r\nRCPT TO:<r2@x>\r\n" + messages[0] +
                               "\r\n.\r\n" + (offered ? "QUIT\r\n" : "")));
    EXPECT_EQ(sent.find("QUIT"), offered ? sent.size() - 6 : std::string::npos);
  }
  {
    PipelinedTransaction t;
    t.Reply({"250 ok", "250 ok", "452 full", "452 full", "354 go", "250 queued"});
    t.Reply({"250 ok", "452 full", "452 full"});
    EXPECT_FALSE(t.client.SendMail());
    EXPECT_EQ(t.client.m_recipientCursor, 1);
    EXPECT_TRUE(t.peer->sent.ends_with(
        ".\r\nMAIL FROM:<a@x>\r\nRCPT TO:<r1@x>\r\nRCPT TO:<r2@x>\r\nDATA\r\n"));
  }
}

// --max-recipients splits before the relay refuses; a 452 inside a batch
// still moves the rest of it to the next transaction, ahead of the later
// recipients.
TEST(RecipientLimit, MaxRecipientsSplitsBeforehand) {
  PipelinedTransaction t(true, 5);
  SClientOptions settings = t.client.Options();
  settings.maxRecipients = 2;
  t.client.SetOptions(settings);
  t.Reply({"250 ok", "250 ok", "250 ok", "354 go", "250 queued"});   // r0 r1
  t.Reply({"250 ok", "250 ok", "452 full", "354 go", "250 queued"});  // r2 r3
  t.Reply({"250 ok", "250 ok", "250 ok", "354 go", "250 queued"});   // r3 r4
  ASSERT_TRUE(t.client.SendMail());
  EXPECT_EQ(t.client.m_recipientCursor, 5);
  std::vector<std::string> envelopes;
  for (const std::string& group : t.peer->sentBeforeReads) {
    if (group.starts_with("MAIL")) envelopes.push_back(group);
  }
  const std::vector<std::string> expected = {
      "MAIL FROM:<a@x>\r\nRCPT TO:<r0@x>\r\nRCPT TO:<r1@x>\r\nDATA\r\n",
      "MAIL FROM:<a@x>\r\nRCPT TO:<r2@x>\r\nRCPT TO:<r3@x>\r\nDATA\r\n",
      "MAIL FROM:<a@x>\r\nRCPT TO:<r3@x>\r\nRCPT TO:<r4@x>\r\nDATA\r\n",
  };
  EXPECT_EQ(envelopes, expected);
}

// AUTH PLAIN carries its credential in one command (RFC 4954 section 4), so
// on a pipelining relay it goes with the envelope: greeting, EHLO, one group,
// then the data (or the last chunk) with QUIT: four round trips. Its reply is
// read first; a refusal fails the run before a byte of the message goes.
TEST(Pipelining, AuthPlainGoesWithTheEnvelope) {
  const std::string kAuth = "AUTH PLAIN AGEAYg==\r\n";
  struct Case {
    const char* what;
    bool chunking;
    const char* authReply;
    bool sent;
  } cases[] = {
      {"DATA", false, "235 ok", true},
      {"BDAT", true, "235 ok", true},
      {"DATA, AUTH refused", false, "535 no", false},
      {"BDAT, AUTH refused", true, "535 no", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PipelinedTransaction t;
    t.client.m_identified = false;
    t.client.m_ehloKeywords.clear();
    t.client.SetUserName("a");
    t.client.SetPassword("b");
    const std::string ehlo = std::string("250-relay\r\n250-PIPELINING\r\n") +
                             (c.chunking ? "250-CHUNKING\r\n" : "") + "250 AUTH PLAIN\r\n";
    t.peer->chunks = {"220 ready\r\n", ehlo};
    // The envelope's replies are refused too when AUTH was: the relay
    // would otherwise wait for data after its 354.
    const char* rest = c.sent ? "250 ok" : "530 auth first";
    t.Reply({c.authReply, rest, rest, rest, rest});
    if (!c.chunking) t.Reply({c.sent ? "354 go" : "503 no"});
    t.Reply({"250 queued", "221 bye"});
    ASSERT_TRUE(t.client.Login());
    EXPECT_EQ(t.client.SendMail(), c.sent);
    EXPECT_EQ(t.client.AuthRefused(), !c.sent);
    ASSERT_GE(t.peer->sentBeforeReads.size(), 2u);
    EXPECT_EQ(t.peer->sentBeforeReads[1],
              kAuth + kEnvelope + (c.chunking ? "" : "DATA\r\n"));
    if (c.sent) {
      EXPECT_EQ(t.peer->sentBeforeReads.size(), 3u);
      EXPECT_TRUE(t.peer->sentBeforeReads[2].ends_with("QUIT\r\n"));
      EXPECT_TRUE(t.client.Quit());
    } else {
      EXPECT_EQ(t.peer->sentBeforeReads.size(), 2u);
      EXPECT_TRUE(t.peer->sent.ends_with(kEnvelope + (c.chunking ? "" : "DATA\r\n")));
    }
  }
  // Without the keyword AUTH waits for its reply, as it always did; a
  // session that ends before any mail reads the pending reply first.
  {
    PipelinedTransaction t;
    t.client.m_identified = false;
    t.client.SetUserName("a");
    t.client.SetPassword("b");
    t.peer->chunks = {"220 ready\r\n", "250-relay\r\n250 AUTH PLAIN\r\n", "235 ok\r\n"};
    ASSERT_TRUE(t.client.Login());
    EXPECT_TRUE(t.peer->sentBeforeReads.back().starts_with("AUTH PLAIN"));
  }
  {
    PipelinedTransaction t;
    t.client.m_identified = false;
    t.client.SetUserName("a");
    t.client.SetPassword("b");
    t.peer->chunks = {"220 ready\r\n", "250-relay\r\n250 PIPELINING\r\n", "535 no\r\n",
                      "221 bye\r\n"};
    ASSERT_TRUE(t.client.Login());
    EXPECT_FALSE(t.client.Quit());
    EXPECT_TRUE(t.client.AuthRefused());
    EXPECT_EQ(t.peer->sentBeforeReads.back(), kAuth + "QUIT\r\n");
  }
}

}  // namespace
