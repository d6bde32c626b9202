#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mime/header_values.h"
#include "smtp/smtp_client.h"
#include "support/message_fixture.h"

namespace {

struct Writer : SClientOnPeer {
  Writer() { client.m_originatorAddress = "o@example.org"; }
  std::string Headers() {
    EXPECT_TRUE(client.WriteHeaders());
    return peer->sent;
  }
};

const std::string kTail = "X-Mailer: Tarnvale SMTP Class\r\n" + StampLines("example.org");

TEST(HeaderWriter, FullBlockShowsToAndCcButNeverBcc) {
  Writer w;
  w.client.m_originatorName = "Ann ";
  w.client.m_originatorAddress = "ann";
  w.client.m_recipients = {"bob", "Carl <carl>", "dora", "eve"};
  w.client.m_ccStart = 2;
  w.client.m_bccStart = 3;
  w.client.m_subject = "Report";
  w.client.m_parts = {Part("7bit", {"a\r\n"}), Part("base64", {"QQ==\r\n"})};
  std::string domain =
      w.client.GetLocalHostName().empty() ? "localhost" : w.client.GetLocalHostName();

  std::string sent = w.Headers();
  EXPECT_EQ(sent,
            "From: Ann  <ann>\r\n"
            "To:  <bob>,\r\n"
            "    Carl  <carl>\r\n"
            "Cc:  <dora>\r\n"
            "Subject: Report\r\n"
            "X-Mailer: Tarnvale SMTP Class\r\n" +
                StampLines(domain) +
                "MIME-Version: 1.0\r\n"
                "Content-Type: multipart/mixed; boundary=\"[=_00000000]: ++++ Section Boundry "
                "++++\"\r\n"
                "\r\n");
  EXPECT_EQ(sent.find("eve"), std::string::npos);
}

TEST(HeaderWriter, RecipientFieldsByRole) {
  const int unset = CSmtpClient::kUnsetStart;
  struct Case {
    std::vector<std::string> recipients;
    int ccStart, bccStart;
    std::string lines;
  } cases[] = {
      {{"a", "B <b>"}, 0, unset, "Cc:  <a>,\r\n    B  <b>\r\n"},
      {{"a", "b"}, 0, 0, ""},
      {{"a", "b", "c", "d"}, 3, unset, "To:  <a>,\r\n     <b>,\r\n     <c>\r\nCc:  <d>\r\n"},
      {{"a", "b", "c"}, 1, 2, "To:  <a>\r\nCc:  <b>\r\n"},
      {{}, unset, unset, ""},
  };
  for (const Case& c : cases) {
    Writer w;
    w.client.m_recipients = c.recipients;
    w.client.m_ccStart = c.ccStart;
    w.client.m_bccStart = c.bccStart;
    EXPECT_EQ(w.Headers(), "From:  <o@example.org>\r\n" + c.lines + kTail + "MIME-Version: 1.0\r\n")
        << c.lines;
  }
}

TEST(HeaderWriter, UnsetStartsBecomeTheListLength) {
  Writer w;
  w.client.m_recipients = {"a", "b"};
  w.Headers();
  EXPECT_EQ(w.client.m_ccStart, 2);
  EXPECT_EQ(w.client.m_bccStart, 2);
}

TEST(HeaderWriter, ReplyToAndSubjectOnlyWhenNotEmpty) {
  struct Case {
    std::string replyTo, subject, lines;
  } cases[] = {
      {"", "", ""},
      {"r@x", "", "Reply-To: r@x\r\n"},
      {"", "Hi", "Subject: Hi\r\n"},
      {"r@x", "Hi", "Reply-To: r@x\r\nSubject: Hi\r\n"},
  };
  for (const Case& c : cases) {
    Writer w;
    w.client.m_replyTo = c.replyTo;
    w.client.m_subject = c.subject;
    EXPECT_EQ(w.Headers(), "From:  <o@example.org>\r\n" + c.lines + kTail + "MIME-Version: 1.0\r\n");
  }
}

TEST(HeaderWriter, StructureFieldsByModeAndPartCount) {
  std::vector<std::string> twelve(12, "t\r\n");
  std::vector<std::string> threeHundred(300, "M\r\n");
  std::string multipart =
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"[=_00000000]: ++++ Section Boundry ++++\"\r\n"
      "\r\n";
  struct Case {
    bool uuencodeMode;
    std::vector<CMessagePart> parts;
    std::string fields;
  } cases[] = {
      {false, {}, "MIME-Version: 1.0\r\n"},
      {false, {Part("7bit", {"a\r\n"})}, "MIME-Version: 1.0\r\n"},
      {false, {Part("7bit", {}), Part("base64", {}), Part("7bit", {})}, multipart},
      {true,
       {Part("quoted-printable", twelve), Part("", threeHundred)},
       "Encoding: 12 TEXT, 302 UUENCODE\r\n\r\n"},
      {true, {Part("7bit", {"a\r\n"}), Part("", {})}, "Encoding: 1 TEXT, 2 UUENCODE\r\n\r\n"},
      {true, {}, "Encoding: \r\n\r\n"},
  };
  for (const Case& c : cases) {
    Writer w;
    w.client.m_uuencodeMode = c.uuencodeMode;
    w.client.m_parts = c.parts;
    EXPECT_EQ(w.Headers(), "From:  <o@example.org>\r\n" + kTail + c.fields) << c.fields;
  }
}

TEST(HeaderWriter, ValuesWithLineBreaksStayOnTheirLine) {
  Writer w;
  w.client.m_originatorName = "A\r\nBcc: x";
  w.client.m_originatorAddress = "a@x\n.";
  w.client.m_recipients = {"T\r<t\r\n>", "c\n"};
  w.client.m_ccStart = 1;
  w.client.m_replyTo = "r\r\n\r\nbody";
  w.client.m_subject = "s\r\n.\r\nQUIT";
  EXPECT_EQ(w.Headers(),
            "From: \"A  Bcc: x\" <a@x .>\r\n"
            "To: T  <t  >\r\n"
            "Cc:  <c >\r\n"
            "Reply-To: r    body\r\n"
            "Subject: s  .  QUIT\r\n"
            "X-Mailer: Tarnvale SMTP Class\r\n" +
                StampLines("x .") + "MIME-Version: 1.0\r\n");
}

TEST(Boundary, FormatFromCounterAndText) {
  struct Case {
    unsigned counter;
    std::string delimiter;
  } cases[] = {
      {0, kDelimiter0},
      {1, "--[=_00000001]: ++++ Section Boundry ++++"},
      {0xfedcba98u, "--[=_fedcba98]: ++++ Section Boundry ++++"},
  };
  for (const Case& c : cases) {
    CSmtpClient client(true);
    client.m_boundaryCounter = c.counter;
    std::string delimiter = "stale";
    client.FormatBoundary(delimiter);
    EXPECT_EQ(delimiter, c.delimiter);
  }
}

TEST(Boundary, OnlySevenBitLinesThatBeginWithTheDelimiterCollide) {
  const std::string d = kDelimiter0;
  struct Case {
    std::string encoding;
    std::string line;
    bool unique;
  } cases[] = {
      {"7bit", d + "\r\n", false},
      {"7bit", d, false},
      {"7BIT", d + " and more\r\n", false},
      {"7bit", " " + d + "\r\n", true},
      {"7bit", d.substr(0, d.size() - 1), true},
      {"7bit", "--[=_00000001]: ++++ Section Boundry ++++\r\n", true},
      {"quoted-printable", d + "\r\n", true},
      {"base64", d + "\r\n", true},
      {"", d + "\r\n", true},
  };
  for (const Case& c : cases) {
    CSmtpClient client(true);
    client.m_parts = {Part("7bit", {"x\r\n"}), Part(c.encoding, {"y\r\n", c.line})};
    EXPECT_EQ(client.IsBoundaryUnique(), c.unique) << c.encoding << " " << c.line;
  }
}

// Whether the counter found in one pass is the one raising it step by step
// until IsBoundaryUnique holds finds.
TEST(Boundary, MadeUniqueWithTheCounterTheStepwiseSearchFinds) {
  auto delimiter = [](unsigned counter) {
    char head[64];
    std::snprintf(head, sizeof head, "--[=_%08x]: ++++ Section Boundry ++++", counter);
    return std::string(head);
  };
  struct Case {
    const char* name;
    unsigned start;
    std::vector<std::string> lines;
    std::string encoding = "7bit";
  } cases[] = {
      {"no delimiter lines", 0, {"a\r\n"}},
      {"counters taken in reverse", 0,
       {delimiter(4) + "\r\n", delimiter(3), delimiter(2) + " tail\r\n", delimiter(1), delimiter(0)}},
      {"a gap", 0, {delimiter(0), delimiter(1), delimiter(3), delimiter(1)}},
      {"taken below the start only", 5, {delimiter(4), delimiter(0)}},
      {"from the start on", 5, {delimiter(6), delimiter(5)}},
      {"past the last counter", 0xfffffffeu, {delimiter(0xffffffffu), delimiter(0xfffffffeu), delimiter(0)}},
      {"upper-case digits are another text", 0, {delimiter(0), "--[=_0000000A]: ++++ Section Boundry ++++", delimiter(1)}},
      {"cut short", 0, {delimiter(0).substr(0, 40)}},
      {"not at the line start", 0, {" " + delimiter(0)}},
      {"another text", 0, {"--[=_00000000]: ++++ Section Boundry +++-"}},
      {"quoted-printable lines never collide", 0, {delimiter(0)}, "quoted-printable"},
  };
  for (const Case& c : cases) {
    CSmtpClient stepwise(true);
    stepwise.m_parts = {Part("7bit", {"x\r\n"}), Part(c.encoding, c.lines)};
    stepwise.m_boundaryCounter = c.start;
    while (!stepwise.IsBoundaryUnique()) ++stepwise.m_boundaryCounter;

    CSmtpClient client(true);
    client.m_parts = stepwise.m_parts;
    client.m_boundaryCounter = c.start;
    client.MakeBoundaryUnique();
    EXPECT_EQ(client.m_boundaryCounter, stepwise.m_boundaryCounter) << c.name;
  }
}

// A text whose lines are the delimiters of counters 0 to N - 1 took time in
// N squared (minutes at this size); one pass takes well under a second.
TEST(Boundary, EveryEarlierCounterTakenIsSearchedInOnePass) {
  constexpr unsigned kTaken = 128000;
  CMessagePart part = Part("7bit", {});
  const std::string text = " ++++ Section Boundry ++++\r\n";
  for (unsigned i = kTaken; i-- > 0;) {
    char head[32];
    std::snprintf(head, sizeof head, "--[=_%08x]:", i);
    part.m_lines.push_back(head + text);
  }
  CSmtpClient client(true);
  client.m_parts = {part};
  client.MakeBoundaryUnique();
  EXPECT_EQ(client.m_boundaryCounter, kTaken);
  EXPECT_TRUE(client.IsBoundaryUnique());
}

TEST(HeaderValues, LastPathNameAfterTheGivenSeparators) {
  struct Case {
    const char* path;
    const char* separators;
    const char* name;
  } cases[] = {
      {"/srv/reports/q3.pdf", "/", "q3.pdf"},
      {"docs/report.pdf", "/", "report.pdf"},
      {"C:\\docs\\report.pdf", "/", "C:\\docs\\report.pdf"},  // a POSIX name may hold "\\"
      {"dir/a\\b.txt", "/", "a\\b.txt"},
      {"C:\\docs\\report.pdf", "\\/", "report.pdf"},
      {"C:\\docs/sub\\x.txt", "\\/", "x.txt"},
      {"C:/docs/report.pdf", "\\/", "report.pdf"},
      {"report.pdf", "\\/", "report.pdf"},
      {"dir/", "/", ""},
      {"", "/", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LastPathName(c.path, c.separators), c.name) << c.path << " " << c.separators;
  }
}

TEST(HeaderValues, NeutraliseLineBreaksTurnsOnlyCrAndLfIntoBlanks) {
  EXPECT_EQ(NeutraliseLineBreaks("a\r\n.\r\nb\tc"), "a  .  b\tc");
  EXPECT_EQ(NeutraliseLineBreaks(std::string("x\0\ry", 4)), std::string("x\0 y", 4));
  EXPECT_EQ(NeutraliseLineBreaks(""), "");
}

TEST(HeaderValues, DateTimeInRfc5322Form) {
  struct Case {
    platform::LocalTime time;
    std::string text;
  } cases[] = {
      {{2026, 12, 10, 3, 22, 15, 4, 60}, "Thu, 10 Dec 2026 03:22:15 +0100"},
      {{2003, 7, 1, 10, 52, 37, 2, 0}, "Tue, 1 Jul 2003 10:52:37 +0000"},
      {{2024, 1, 31, 23, 59, 60, 3, -330}, "Wed, 31 Jan 2024 23:59:60 -0530"},
      {{2025, 2, 9, 0, 0, 0, 0, 345}, "Sun, 9 Feb 2025 00:00:00 +0545"},
      {{2025, 5, 3, 9, 8, 7, 6, -600}, "Sat, 3 May 2025 09:08:07 -1000"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDateTime(c.time), c.text);
}

TEST(HeaderValues, MessageIdDomainRule) {
  struct Case {
    std::string originator, localHost, domain;
  } cases[] = {
      {"ann@example.org", "host.local", "example.org"},
      {"\"a@b\"@c.example", "host.local", "c.example"},
      {"ann", "host.local", "host.local"},
      {"ann@", "host.local", "host.local"},
      {"", "", "localhost"},
      {"ann", "", "localhost"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MessageIdDomain(c.originator, c.localHost), c.domain) << c.originator;
  }
}

TEST(HeaderValues, MessageIdsOfTwoMessagesDiffer) {
  std::string first = FormatMessageId(CurrentMessageStamp(), "d");
  std::string second = FormatMessageId(CurrentMessageStamp(), "d");
  EXPECT_NE(first, second);
  EXPECT_EQ(first.front(), '<');
  EXPECT_EQ(first.substr(first.size() - 3), "@d>");
}

// The Date field shows the local time with the zone's offset, sign included
// (run under TZ=IST-5:30 or TZ=HST+10 to exercise both signs).
TEST(Clock, LocalTimeAgreesWithTheLibraryAndItsOffset) {
  std::time_t t = std::time(nullptr);
  platform::LocalTime now = platform::CurrentLocalTime();
  std::tm local = *std::localtime(&t);
  std::tm utc = *std::gmtime(&t);
  ASSERT_EQ(now.minute, local.tm_min) << "the minute turned during the test; run it again";
  EXPECT_EQ(now.year, local.tm_year + 1900);
  EXPECT_EQ(now.month, local.tm_mon + 1);
  EXPECT_EQ(now.day, local.tm_mday);
  EXPECT_EQ(now.hour, local.tm_hour);
  EXPECT_EQ(now.weekday, local.tm_wday);
  int dayShift = local.tm_year != utc.tm_year ? (local.tm_year > utc.tm_year ? 1 : -1)
                                               : local.tm_yday - utc.tm_yday;
  int offset = dayShift * 1440 + (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
  EXPECT_EQ(now.utcOffsetMinutes, offset);
}

}  // namespace
