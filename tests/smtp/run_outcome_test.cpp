// What the dialogue leaves in the outcome for a report: the stage it reached,
// the relay's last reply, each recipient's answer and what was sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smtp/smtp_client.h"
#include "support/message_fixture.h"

namespace {

struct SOutcomeRun : SClientOnPeer {
  explicit SOutcomeRun(const std::vector<std::string>& replies, bool pipelining = false) {
    client.m_originatorAddress = "a@x";
    client.m_recipients = {"r0@x", "Name <r1@x>"};
    client.m_parts = {Part("7bit", {"body\r\n"})};
    for (const std::string& reply : replies) {
      if (!reply.empty()) peer->chunks.push_back(reply + "\r\n");
    }
    if (pipelining) {
      client.m_identified = true;
      client.m_ehloKeywords["PIPELINING"] = "";
    }
  }
  // The run's steps until the first that fails.
  bool Run() { return client.Login() && client.SendMail() && client.Quit(); }
  // As Run, without the greeting and HELO (a session already identified).
  bool RunTransaction() { return client.SendMail() && client.Quit(); }
};

const std::vector<std::string> kGreeting = {"220 relay", "250 hello"};

std::vector<std::string> With(std::vector<std::string> replies) {
  replies.insert(replies.begin(), kGreeting.begin(), kGreeting.end());
  return replies;
}

TEST(RunOutcome, StageReplyAndRecipientsAtEachEnding) {
  struct Case {
    const char* what;
    std::vector<std::string> replies;  // a reply left out: the relay closes there
    RunStage stage;
    std::vector<std::string> reply;
    std::vector<int> answered;  // per recipient: 1 accepted, 0 refused, -1 not asked
    bool dataEnded;
    bool finalReplyCame;
  } cases[] = {
      {"delivered",
       With({"250 ok", "250 r0", "250 r1", "354 go", "250 2.0.0 Ok: queued as 4F2", "221 bye"}),
       RunStage::kQuit, {"221 bye"}, {1, 1}, true, true},
      {"greeting refused", {"421-busy", "421 try later"}, RunStage::kGreeting,
       {"421-busy", "421 try later"}, {-1, -1}, false, false},
      {"HELO refused", {"220 relay", "550 go away"}, RunStage::kGreeting, {"550 go away"},
       {-1, -1}, false, false},
      {"MAIL refused", With({"451 4.3.0 later"}), RunStage::kMail, {"451 4.3.0 later"}, {-1, -1},
       false, false},
      {"second RCPT refused", With({"250 ok", "250 r0", "550 5.1.1 <r1@x>: unknown"}),
       RunStage::kRcpt, {"550 5.1.1 <r1@x>: unknown"}, {1, 0}, false, false},
      {"DATA refused", With({"250 ok", "250 r0", "250 r1", "554 no data"}), RunStage::kData,
       {"554 no data"}, {1, 1}, false, false},
      {"final reply refused", With({"250 ok", "250 r0", "250 r1", "354 go", "552 too big"}),
       RunStage::kEndOfData, {"552 too big"}, {1, 1}, true, true},
      {"no final reply", With({"250 ok", "250 r0", "250 r1", "354 go"}), RunStage::kEndOfData,
       {}, {1, 1}, true, false},
      {"relay closes after MAIL", With({"250 ok"}), RunStage::kRcpt, {}, {-1, -1}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SOutcomeRun run(c.replies);
    EXPECT_EQ(run.Run(), std::string(c.what) == "delivered");
    const SRunOutcome& outcome = run.client.m_outcome;
    EXPECT_EQ(outcome.stage, c.stage);
    EXPECT_EQ(outcome.reply, c.reply);
    EXPECT_EQ(outcome.dataEnded, c.dataEnded);
    EXPECT_EQ(outcome.finalReplyCame, c.finalReplyCame);
    // A refused reply is not a failure kind of its own.
    EXPECT_EQ(outcome.failure, FailureKind::kNone);
    const bool asked = c.answered[0] != -1;
    ASSERT_EQ(outcome.recipients.size(), asked || c.stage >= RunStage::kMail ? 2u : 0u);
    for (size_t i = 0; i < outcome.recipients.size(); ++i) {
      EXPECT_EQ(outcome.recipients[i].address, i == 0 ? "r0@x" : "r1@x");
      EXPECT_EQ(outcome.recipients[i].accepted, c.answered[i] == 1);
      EXPECT_EQ(outcome.recipients[i].reply.empty(), c.answered[i] == -1);
    }
    if (c.answered[1] == 0) {
      EXPECT_EQ(outcome.recipients[1].reply, c.reply);
    }
  }
}

TEST(RunOutcome, DeliveredRunCountsTheDataAndKeepsTheFinalReply) {
  SOutcomeRun run(
      With({"250 ok", "250 r0", "250 r1", "354 go", "250 2.0.0 Ok: queued as 4F2", "221 bye"}));
  ASSERT_TRUE(run.Run());
  const SRunOutcome& outcome = run.client.m_outcome;
  EXPECT_EQ(outcome.finalReply, std::vector<std::string>{"250 2.0.0 Ok: queued as 4F2"});
  EXPECT_EQ(outcome.transactions, 1);
  EXPECT_EQ(outcome.delivered, 1);
  // Exactly what went between the 354 and the final reply.
  const size_t begin = run.peer->sent.find("DATA\r\n") + 6;
  const size_t end = run.peer->sent.rfind("QUIT\r\n");
  EXPECT_EQ(outcome.dataBytes, end - begin);
  EXPECT_EQ(outcome.dataBytes, run.client.MessageDataSize());
}

// A relay that takes one recipient per transaction: two transactions, both
// delivered, each recipient's answer the one of its own transaction.
TEST(RunOutcome, SplitTransactionsAreCountedAndTheRecipientKeepsItsLastAnswer) {
  for (const bool pipelining : {false, true}) {
    SCOPED_TRACE(pipelining ? "pipelined" : "one command at a time");
    SOutcomeRun run({"250 ok", "250 r0", "452 4.5.3 too many", "354 go", "250 queued as A",
                     "250 ok", "250 r1", "354 go", "250 queued as B", "221 bye"},
                    pipelining);
    ASSERT_TRUE(run.RunTransaction());
    const SRunOutcome& outcome = run.client.m_outcome;
    EXPECT_EQ(outcome.transactions, 2);
    EXPECT_EQ(outcome.delivered, 2);
    EXPECT_EQ(outcome.finalReply, std::vector<std::string>{"250 queued as B"});
    ASSERT_EQ(outcome.recipients.size(), 2u);
    EXPECT_TRUE(outcome.recipients[1].accepted);
    EXPECT_EQ(outcome.recipients[1].reply, std::vector<std::string>{"250 r1"});
    EXPECT_EQ(outcome.dataBytes, 2 * run.client.MessageDataSize());
  }
}

// A second transaction that fails after the first was delivered: the data
// was ended once, which a retry must see.
TEST(RunOutcome, FailureAfterAnEarlierDeliveryKeepsTheDataEnded) {
  SOutcomeRun run({"250 ok", "250 r0", "452 4.5.3 too many", "354 go", "250 queued as A",
                   "421 4.3.2 shutting down"});
  EXPECT_FALSE(run.RunTransaction());
  const SRunOutcome& outcome = run.client.m_outcome;
  EXPECT_EQ(outcome.stage, RunStage::kMail);
  EXPECT_TRUE(outcome.dataEnded);
  EXPECT_EQ(outcome.delivered, 1);
  EXPECT_EQ(outcome.reply, std::vector<std::string>{"421 4.3.2 shutting down"});
}

// A connection lost in the middle of the data: the "." never left, so the
// relay cannot have taken the message and another try is safe.
TEST(RunOutcome, DataCutShortNeverEndsTheData) {
  SOutcomeRun run(With({"250 ok", "250 r0", "250 r1", "354 go", "250 queued"}));
  run.client.m_parts = {Part("7bit", std::vector<std::string>(2000, "a line of the body\r\n"))};
  run.peer->sendCapacity = 4096;
  EXPECT_FALSE(run.Run());
  const SRunOutcome& outcome = run.client.m_outcome;
  EXPECT_EQ(outcome.stage, RunStage::kData);
  EXPECT_FALSE(outcome.dataEnded);
  EXPECT_EQ(outcome.delivered, 0);
}

// With CHUNKING the last BDAT ends the data as "." does.
TEST(RunOutcome, LastChunkEndsTheDataAndItsReplyIsTheFinalOne) {
  struct Case {
    const char* what;
    std::vector<std::string> replies;
    bool delivered;
    bool finalReplyCame;
  } cases[] = {
      {"accepted", {"250 ok", "250 r0", "250 r1", "250 2.0.0 queued as Z9"}, true, true},
      {"refused", {"250 ok", "250 r0", "250 r1", "552 5.3.4 too big"}, false, true},
      {"no reply", {"250 ok", "250 r0", "250 r1"}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SOutcomeRun run(c.replies);
    run.client.m_identified = true;
    run.client.m_ehloKeywords["CHUNKING"] = "";
    EXPECT_EQ(run.client.SendMail(), c.delivered);
    EXPECT_NE(run.peer->sent.find("BDAT "), std::string::npos);
    const SRunOutcome& outcome = run.client.m_outcome;
    EXPECT_EQ(outcome.stage, RunStage::kEndOfData);
    EXPECT_TRUE(outcome.dataEnded);
    EXPECT_EQ(outcome.finalReplyCame, c.finalReplyCame);
    EXPECT_EQ(outcome.delivered, c.delivered ? 1 : 0);
    EXPECT_EQ(outcome.dataBytes, run.client.MessageDataSize());
    if (c.finalReplyCame) {
      EXPECT_EQ(outcome.finalReply, std::vector<std::string>{c.replies.back()});
    }
  }
}

}  // namespace
