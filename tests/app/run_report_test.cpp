// The report's JSON, the reply's parts, the queue id forms, and the rules
// that decide whether a failure is worth another try.
#include "app/run_report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/retry_policy.h"
#include "app/run_failure.h"

namespace {

using Lines = std::vector<std::string>;

TEST(RunReport, SplitReplyTakesCodeEnhancedCodeAndText) {
  struct Case {
    Lines lines;
    std::optional<int> code;
    std::string enhanced;
    std::string text;
  } cases[] = {
      {{"550 5.1.1 <x@example.org>: Recipient address rejected"}, 550, "5.1.1",
       "<x@example.org>: Recipient address rejected"},
      {{"250 ok"}, 250, "", "ok"},
      // The class of the enhanced code must be the reply's.
      {{"550 4.1.1 odd"}, 550, "", "4.1.1 odd"},
      // A version number is no enhanced code.
      {{"220 relay 5.0.1.2 ready"}, 220, "", "relay 5.0.1.2 ready"},
      {{"421"}, 421, "", ""},
      {{"550-5.7.1 first", "550-5.7.1 second", "550 5.7.1 third"}, 550, "5.7.1",
       "first\nsecond\nthird"},
      // Not reply lines: no code, the text as it came.
      {{"hello there"}, std::nullopt, "", "hello there"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.front());
    const SReplyParts parts = SplitReply(c.lines);
    EXPECT_EQ(parts.code, c.code);
    EXPECT_EQ(parts.enhanced, c.enhanced);
    EXPECT_EQ(parts.text, c.text);
  }
}

TEST(RunReport, QueueIdFromTheCommonForms) {
  struct Case {
    const char* line;
    std::optional<std::string> id;
  } cases[] = {
      {"250 2.0.0 Ok: queued as 4F2A11C0B3", "4F2A11C0B3"},
      {"250 Queued as: ABC-12.", "ABC-12"},
      {"250 OK id=1rXyZa-0004Qm-2B", "1rXyZa-0004Qm-2B"},
      {"250 2.0.0 5BA1xyz123 Message accepted for delivery", "5BA1xyz123"},
      {"250 2.0.0 5BA1xyz123: Message accepted for delivery", "5BA1xyz123"},
      {"250 ok", std::nullopt},
      {"250 queued as ", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(QueueIdFromReply({c.line}), c.id);
  }
}

TEST(RunReport, JsonHoldsEveryFieldInOrderAndSurvivesBytesThatAreNotUtf8) {
  SRunReport report;
  report.status = 7;
  report.statusName = "ERROR_SENDING_MAIL";
  report.stage = RunStage::kRcpt;
  report.reply = {"550 5.1.1 no such user \xff"};
  report.recipients = {{"a@x", true, {"250 2.1.5 ok"}}, {"b@x", false, {"550 5.1.1 no"}},
                       {"c@x", false, {}}};
  report.attempts = 1;
  report.elapsedMs = 12;
  const std::string text = FormatRunReport(report);
  ASSERT_TRUE(text.ends_with("}\n"));
  EXPECT_EQ(text.find('\n'), text.size() - 1);  // one line
  const nlohmann::ordered_json json = nlohmann::ordered_json::parse(text);
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"status", "status_name", "temporary", "stage", "reply",
                                            "recipients", "message_id", "queue_id", "bytes",
                                            "transactions", "attempts", "elapsed_ms",
                                            "delivery_unknown"}));
  EXPECT_EQ(json["stage"], "rcpt");
  EXPECT_EQ(json["reply"]["code"], 550);
  EXPECT_EQ(json["reply"]["enhanced"], "5.1.1");
  EXPECT_EQ(json["reply"]["text"], "no such user \xEF\xBF\xBD");
  EXPECT_EQ(json["recipients"][1]["accepted"], false);
  EXPECT_EQ(json["recipients"][1]["reply"]["code"], 550);
  EXPECT_TRUE(json["recipients"][2]["reply"].is_null());
  EXPECT_TRUE(json["message_id"].is_null());
  EXPECT_TRUE(json["queue_id"].is_null());
}

SRunOutcome Outcome(RunStage stage, Lines reply, FailureKind failure = FailureKind::kNone) {
  SRunOutcome outcome;
  outcome.stage = stage;
  outcome.reply = std::move(reply);
  outcome.failure = failure;
  return outcome;
}

TEST(RunFailureRules, TemporaryOnlyWhereAnotherTryCannotDeliverTwice) {
  SRunOutcome connectRefused = Outcome(RunStage::kConnect, {}, FailureKind::kConnect);
  connectRefused.transient = true;
  SRunOutcome certificate = Outcome(RunStage::kTls, {}, FailureKind::kTls);
  SRunOutcome noFinalReply = Outcome(RunStage::kEndOfData, {});
  noFinalReply.dataEnded = true;
  SRunOutcome finalRefused = Outcome(RunStage::kEndOfData, {"451 4.3.0 later"});
  finalRefused.dataEnded = true;
  finalRefused.finalReplyCame = true;
  SRunOutcome afterADelivery = Outcome(RunStage::kMail, {"421 bye"});
  afterADelivery.delivered = 1;
  struct Case {
    const char* what;
    SRunOutcome outcome;
    SendResult status;
    bool temporary;
    bool unknown;
  } cases[] = {
      {"delivered", Outcome(RunStage::kQuit, {"221 bye"}), ERROR_NONE, false, false},
      {"4xx greeting", Outcome(RunStage::kGreeting, {"421 busy"}), ERROR_CONNECTING_TO_HOST, true,
       false},
      {"5xx RCPT", Outcome(RunStage::kRcpt, {"550 5.1.1 no"}), ERROR_SENDING_MAIL, false, false},
      {"no reply to MAIL", Outcome(RunStage::kMail, {}), ERROR_SENDING_MAIL, true, false},
      {"refused connection", connectRefused, ERROR_CONNECTING_TO_HOST, true, false},
      {"certificate", certificate, ERROR_TLS, false, false},
      {"bad file", Outcome(RunStage::kBeforeConnecting, {}, FailureKind::kUnreadablePart),
       ERROR_ATACHING_FILE, false, false},
      {"bad address", Outcome(RunStage::kBeforeConnecting, {}), ERROR_NO_RECIPIENTS, false, false},
      {"too large", Outcome(RunStage::kMail, {}, FailureKind::kNotAsked), ERROR_SENDING_MAIL,
       false, false},
      {"no final reply", noFinalReply, ERROR_SENDING_MAIL, false, true},
      {"4xx final reply", finalRefused, ERROR_SENDING_MAIL, true, false},
      {"4xx after an earlier delivery", afterADelivery, ERROR_SENDING_MAIL, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsTemporaryFailure(c.outcome, c.status), c.temporary);
    EXPECT_EQ(IsDeliveryUnknown(c.outcome, c.status), c.unknown);
  }
}

TEST(RunFailureRules, RefusalLinesOnlyForARefusedEnvelopeOrData) {
  struct Case {
    const char* what;
    SRunOutcome outcome;
    std::string lines;
  } cases[] = {
      {"RCPT", Outcome(RunStage::kRcpt, {"550 5.1.1 <x@example.org>: Recipient address rejected"}),
       "550 5.1.1 <x@example.org>: Recipient address rejected\n"},
      {"multi-line MAIL", Outcome(RunStage::kMail, {"553-a", "553 b"}), "553-a\n553 b\n"},
      {"DATA", Outcome(RunStage::kData, {"554 no"}), "554 no\n"},
      {"final reply, control bytes", Outcome(RunStage::kEndOfData, {"552 big\x1b[2J"}),
       "552 big\\x1B[2J\n"},
      {"DATA accepted, lost later", Outcome(RunStage::kData, {"354 go"}), ""},
      {"accepted RCPT, relay out of step", Outcome(RunStage::kRcpt, {"250 ok"}), ""},
      {"no reply", Outcome(RunStage::kRcpt, {}), ""},
      {"greeting: its own lines", Outcome(RunStage::kGreeting, {"554 no"}), ""},
      {"too large: said already", Outcome(RunStage::kMail, {"250 ok"}, FailureKind::kNotAsked),
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(RefusalLines(c.outcome), c.lines);
  }
}

TEST(ExitCodes, BothConventions) {
  struct Case {
    SendResult status;
    bool temporary;
    unsigned sysexits;
    const char* name;
    RunStage stage = RunStage::kQuit;
  } cases[] = {
      {ERROR_NONE, false, 0, "EX_OK"},
      {ERROR_NO_ORIGINATOR, false, 65, "EX_DATAERR"},
      {ERROR_NO_RECIPIENTS, false, 65, "EX_DATAERR"},
      {ERROR_NO_SUBJECT, false, 65, "EX_DATAERR"},
      {ERROR_NO_HOST, false, 78, "EX_CONFIG"},
      {ERROR_ATACHING_FILE, false, 66, "EX_NOINPUT"},
      {ERROR_CONNECTING_TO_HOST, true, 75, "EX_TEMPFAIL"},
      {ERROR_CONNECTING_TO_HOST, false, 69, "EX_UNAVAILABLE"},
      {ERROR_CONNECTING_TO_HOST, false, 78, "EX_CONFIG", RunStage::kBeforeConnecting},
      {ERROR_SENDING_MAIL, true, 75, "EX_TEMPFAIL"},
      {ERROR_SENDING_MAIL, false, 69, "EX_UNAVAILABLE"},
      {ERROR_INVALID_ESMTP_METHOD, false, 78, "EX_CONFIG"},
      {ERROR_AUTHENTICATING, false, 77, "EX_NOPERM", RunStage::kAuth},
      {ERROR_AUTHENTICATING, false, 77, "EX_NOPERM", RunStage::kBeforeConnecting},
      {ERROR_AUTHENTICATING, true, 75, "EX_TEMPFAIL", RunStage::kAuth},
      // The classic table's failed login for a refused greeting.
      {ERROR_AUTHENTICATING, false, 69, "EX_UNAVAILABLE", RunStage::kGreeting},
      // Delivered before QUIT failed: another try would deliver twice.
      {ERROR_CLOSING_CONNECTION, false, 0, "EX_OK"},
      {ERROR_CLOSING_CONNECTION, true, 0, "EX_OK"},
      {ERROR_INVALID_ARGUMENT, false, 78, "EX_CONFIG"},
      {ERROR_TLS, false, 69, "EX_UNAVAILABLE"},
      {ERROR_TLS, true, 75, "EX_TEMPFAIL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(SendResultName(c.status));
    EXPECT_EQ(ExitStatus(c.status, c.temporary, c.stage, ExitConvention::kClassic), c.status);
    EXPECT_STREQ(ExitStatusName(c.status, ExitConvention::kClassic), SendResultName(c.status));
    const unsigned sysexits =
        ExitStatus(c.status, c.temporary, c.stage, ExitConvention::kSysexits);
    EXPECT_EQ(sysexits, c.sysexits);
    EXPECT_STREQ(ExitStatusName(sysexits, ExitConvention::kSysexits), c.name);
  }
  ExitConvention convention = ExitConvention::kClassic;
  EXPECT_TRUE(ParseExitConvention("sysexits", convention));
  EXPECT_EQ(convention, ExitConvention::kSysexits);
  EXPECT_FALSE(ParseExitConvention("SYSEXITS", convention));
  EXPECT_FALSE(ParseExitConvention("", convention));
}

TEST(RetryPolicy, WaitsDoubleUpToTenMinutesLessAtMostAQuarter) {
  const SRetryPolicy policy{5, 30};
  const int expected[] = {30000, 60000, 120000, 240000, 480000, 600000, 600000};
  for (int attempt = 1; attempt <= 7; ++attempt) {
    SCOPED_TRACE(attempt);
    const int full = expected[attempt - 1];
    EXPECT_EQ(RetryWaitMs(policy, attempt, 0), full);
    for (const uint64_t random : {uint64_t{1}, uint64_t{7919}, ~uint64_t{0}}) {
      const int wait = RetryWaitMs(policy, attempt, random);
      EXPECT_LE(wait, full);
      EXPECT_GE(wait, full - full / 4);
    }
  }
  EXPECT_EQ(RetryWaitMs({3, 0}, 1, 12345), 0);
  EXPECT_EQ(RetryWaitMs({3, 600}, 40, 0), kLongestRetryWaitMs);
  int value = -1;
  EXPECT_TRUE(ParseRetryCount("0", value));
  EXPECT_TRUE(ParseRetryCount("100", value));
  EXPECT_EQ(value, 100);
  EXPECT_FALSE(ParseRetryCount("101", value));
  EXPECT_FALSE(ParseRetryCount("-1", value));
  EXPECT_FALSE(ParseRetryCount("", value));
  EXPECT_TRUE(ParseRetryDelay("600", value));
  EXPECT_FALSE(ParseRetryDelay("601", value));
  EXPECT_FALSE(ParseRetryDelay("1.5", value));
}

}  // namespace
