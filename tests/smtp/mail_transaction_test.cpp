#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mime/header_values.h"
#include "smtp/smtp_client.h"
#include "support/message_fixture.h"

namespace {

const std::string kMailerAndStamp =
    "X-Mailer: Tarnvale SMTP Class\r\n" + StampLines("example.org");

struct Transaction : SClientOnPeer {
  Transaction() {
    client.m_originatorAddress = "ann@example.org";
    client.m_recipients = {"bob@b.example"};
  }
  void Reply(std::vector<std::string> replies) {
    for (std::string& reply : replies) peer->chunks.push_back(reply + "\r\n");
  }
  // Replies that accept every step of the current envelope.
  void AcceptAll() {
    Reply({"250 sender ok"});
    for (size_t i = 0; i < client.m_recipients.size(); ++i) Reply({"250 recipient ok"});
    Reply({"354 go ahead", "250 queued"});
  }
  // What went out between the DATA command and the final "." line.
  std::string DataContent() const {
    const std::string& sent = peer->sent;
    size_t begin = sent.find("DATA\r\n");
    EXPECT_NE(begin, std::string::npos);
    EXPECT_TRUE(sent.ends_with(".\r\n"));
    if (begin == std::string::npos || sent.size() < begin + 9) return "";
    return sent.substr(begin + 6, sent.size() - begin - 9);
  }
};

TEST(MailTransaction, WholeDialogueOfATwoPartMessage) {
  Transaction t;
  t.client.m_originatorName = "Ann ";
  t.client.m_recipients = {"bob@b.example", "Carl <carl@c.example>", "bob@b.example",
                           "dora@d.example", "Eve <eve@e.example>"};
  t.client.m_ccStart = 3;
  t.client.m_bccStart = 4;
  t.client.m_subject = "Report";
  CMessagePart file = Part("base64", {"JVBERi0=\r\n"}, "application/pdf");
  file.m_fileName = "docs/report.pdf";
  file.m_attachment = true;
  file.m_withholdName = false;
  t.client.m_parts = {Part("quoted-printable", {"Hello\r\n", ".\r\n"}), file};
  t.AcceptAll();

  EXPECT_TRUE(t.client.SendMail());
  const std::string& d = kDelimiter0;
  EXPECT_EQ(t.peer->sent,
            "MAIL FROM:<ann@example.org>\r\n"
            "RCPT TO:<bob@b.example>\r\n"
            "RCPT TO:<carl@c.example>\r\n"
            "RCPT TO:<bob@b.example>\r\n"
            "RCPT TO:<dora@d.example>\r\n"
            "RCPT TO:<eve@e.example>\r\n"
            "DATA\r\n"
            "From: Ann  <ann@example.org>\r\n"
            "To:  <bob@b.example>,\r\n"
            "    Carl  <carl@c.example>,\r\n"
            "     <bob@b.example>\r\n"
            "Cc:  <dora@d.example>\r\n"
            "Subject: Report\r\n" +
                kMailerAndStamp +
                "MIME-Version: 1.0\r\n"
                "Content-Type: multipart/mixed; boundary=\"" +
                d.substr(2) + "\"\r\n\r\n\r\n" + d +
                "\r\n"
                "Content-Type: text/plain; charset=us-ascii\r\n"
                "Content-Transfer-Encoding: quoted-printable\r\n"
                "Content-Disposition: inline\r\n\r\n"
                "Hello\r\n..\r\n\r\n" +
                d +
                "\r\n"
                "Content-Type: application/pdf; name=\"report.pdf\"\r\n"
                "Content-Transfer-Encoding: base64\r\n"
                "Content-Disposition: attachment; filename=\"report.pdf\"\r\n\r\n"
                "JVBERi0=\r\n\r\n" +
                d + "--\r\n.\r\n");
  EXPECT_EQ(t.client.m_recipientCursor, 5);
  EXPECT_TRUE(t.peer->chunks.empty());
}

TEST(MailTransaction, DataContentByModeAndPartCount) {
  CMessagePart uu = Part("", {"#86)C\r\n"}, "application/octet-stream");
  uu.m_fileName = "dir/f.bin";
  uu.m_withholdName = false;
  const std::string head = "From:  <ann@example.org>\r\nTo:  <bob@b.example>\r\n" + kMailerAndStamp;
  struct Case {
    bool uuencodeMode;
    std::vector<CMessagePart> parts;
    std::string content;
  } cases[] = {
      {false, {}, head + "MIME-Version: 1.0\r\n"},
      {false,
       {Part("7bit", {"only"})},
       head +
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n"
           "Content-Transfer-Encoding: 7bit\r\n"
           "Content-Disposition: inline\r\n\r\n"
           "only\r\n"},
      {true,
       {Part("7bit", {"a\r\n", "b\r\n"}), uu},
       head + "Encoding: 2 TEXT, 3 UUENCODE\r\n\r\na\r\nb\r\n\r\nbegin 644 f.bin\r\n#86)C\r\nend\r\n\r\n"},
      {true, {}, head + "Encoding: \r\n\r\n"},
  };
  for (const Case& c : cases) {
    Transaction t;
    t.client.m_uuencodeMode = c.uuencodeMode;
    t.client.m_parts = c.parts;
    t.AcceptAll();
    EXPECT_TRUE(t.client.SendMail());
    EXPECT_EQ(t.DataContent(), c.content);
  }
}

// Collects sent texts in place of the connection.
class CStringSink : public CTextSink {
 public:
  void Write(std::string_view text) override { bytes.append(text); }
  std::string bytes;
};

class CRecordingWatcher : public CSendWatcher {
 public:
  void Sent(uint64_t bytes) override { counts.push_back(bytes); }
  std::vector<uint64_t> counts;
};

TEST(MailTransaction, OneWriterForTheRelayTheCountAndTheDryRun) {
  for (bool uuencode : {false, true}) {
    SCOPED_TRACE(uuencode ? "uuencode" : "mime");
    Transaction t;
    t.client.m_uuencodeMode = uuencode;
    // Big enough for several watched pieces; lines that need dot-stuffing.
    std::vector<std::string> lines(3000, std::string(98, 'x') + "\r\n");
    lines[0] = ".first\r\n";
    lines[1] = ".\r\n";
    lines[2999] = "..last\r\n";
    t.client.m_parts = {Part("7bit", lines), Part("7bit", {".only\r\n"})};

    CStringSink shown;
    t.client.m_dotStuffing = false;
    t.client.DivertSends(&shown);
    t.client.WriteMessageData();
    t.client.DivertSends(nullptr);
    t.client.m_dotStuffing = true;
    EXPECT_TRUE(t.peer->sent.empty());  // diverted: nothing reached the relay

    const uint64_t total = t.client.MessageDataSize();
    CRecordingWatcher watcher;
    SClientOptions settings = t.client.Options();
    settings.dataWatcher = &watcher;
    t.client.SetOptions(settings);
    t.AcceptAll();
    ASSERT_TRUE(t.client.SendMail());
    const std::string wire = t.DataContent();

    // The wire differs from the shown data by dot-stuffing alone.
    std::string unstuffed;
    for (size_t at = 0; at < wire.size();) {
      const size_t end = wire.find("\r\n", at) + 2;
      const bool stuffed = wire.compare(at, 2, "..") == 0;
      unstuffed.append(wire, at + (stuffed ? 1 : 0), end - at - (stuffed ? 1 : 0));
      at = end;
    }
    EXPECT_EQ(unstuffed, shown.bytes);
    EXPECT_NE(wire, shown.bytes);
    EXPECT_NE(shown.bytes.find("\r\n.first\r\n.\r\n"), std::string::npos);

    // The count is the data phase's bytes, end-of-data line included, and
    // the watcher saw them arrive from 0, in pieces, up to that total.
    EXPECT_EQ(total, wire.size() + 3);
    ASSERT_GE(watcher.counts.size(), 3u);
    EXPECT_EQ(watcher.counts.front(), 0u);
    EXPECT_EQ(watcher.counts.back(), total);
    EXPECT_TRUE(std::is_sorted(watcher.counts.begin(), watcher.counts.end()));
  }
}

TEST(MailTransaction, BoundaryRaisedPastCollidingSevenBitLines) {
  const std::string d1 = "--[=_00000001]: ++++ Section Boundry ++++";
  struct Case {
    bool uuencodeMode;
    std::string encoding;
    std::vector<std::string> lines;
    unsigned counter;
  } cases[] = {
      {false, "7bit", {"x\r\n", kDelimiter0 + " tail\r\n"}, 1},
      {false, "7bit", {d1 + "\r\n", kDelimiter0 + "\r\n"}, 2},
      {false, "quoted-printable", {kDelimiter0 + "\r\n"}, 0},
      {false, "base64", {kDelimiter0 + "\r\n"}, 0},
      {true, "7bit", {kDelimiter0 + "\r\n"}, 0},
  };
  for (const Case& c : cases) {
    Transaction t;
    t.client.m_uuencodeMode = c.uuencodeMode;
    t.client.m_parts = {Part(c.encoding, c.lines),
                        Part("7bit", {"y\r\n"})};
    t.AcceptAll();
    EXPECT_TRUE(t.client.SendMail());
    EXPECT_EQ(t.client.m_boundaryCounter, c.counter);
    if (c.uuencodeMode) continue;
    std::string delimiter;
    t.client.FormatBoundary(delimiter);
    std::string content = t.DataContent();
    EXPECT_NE(content.find("boundary=\"" + delimiter.substr(2) + "\"\r\n"), std::string::npos);
    EXPECT_TRUE(content.ends_with("\r\n" + delimiter + "--\r\n"));
  }
}

TEST(MailTransaction, RefusalStopsAtOnceWithoutRsetOrQuit) {
  struct Case {
    std::string originator;
    std::vector<std::string> replies;
    std::string sent;
    int cursor;
  } cases[] = {
      {"", {"550 no"}, "MAIL FROM:<>\r\n", 0},
      {"a@x", {"250 ok", "250 ok", "550 no such user"},
       "MAIL FROM:<a@x>\r\nRCPT TO:<b@x>\r\nRCPT TO:<c@x>\r\n", 1},
      {"a@x", {"250 ok", "250 ok", "250 ok", "250 ok", "554 no"},
       "MAIL FROM:<a@x>\r\nRCPT TO:<b@x>\r\nRCPT TO:<c@x>\r\nRCPT TO:<d@x>\r\nDATA\r\n", 3},
      {"a@x", {"250 ok"}, "MAIL FROM:<a@x>\r\nRCPT TO:<b@x>\r\n", 0},  // peer went away
      {"a@x", {"354 wrong step"}, "MAIL FROM:<a@x>\r\n", 0},
  };
  for (const Case& c : cases) {
    Transaction t;
    t.client.m_originatorAddress = c.originator;
    t.client.m_recipients = {"b@x", "C <c@x>", "d@x"};
    t.client.m_parts = {Part("7bit", {"a\r\n"})};
    t.Reply(c.replies);
    EXPECT_FALSE(t.client.SendMail());
    EXPECT_EQ(t.peer->sent, c.sent);
    EXPECT_EQ(t.client.m_recipientCursor, c.cursor);
  }
}

// A reply that arrives before its command answers nothing the client sent:
// the step fails and sends nothing more.
TEST(MailTransaction, ReplyAheadOfItsCommandFailsTheStep) {
  struct Case {
    const char* what;
    std::deque<std::string> chunks;
    std::string sent;
  } cases[] = {
      {"RCPT reply with the MAIL reply", {"250 sender ok\r\n250 recipient ok\r\n"},
       "MAIL FROM:<ann@example.org>\r\n"},
      {"354 with the RCPT reply", {"250 ok\r\n", "250 ok\r\n354 go\r\n"},
       "MAIL FROM:<ann@example.org>\r\nRCPT TO:<bob@b.example>\r\n"},
      {"final reply with the 354", {"250 ok\r\n", "250 ok\r\n", "354 go\r\n250 queued\r\n"},
       "MAIL FROM:<ann@example.org>\r\nRCPT TO:<bob@b.example>\r\nDATA\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Transaction t;
    t.client.m_parts = {Part("7bit", {"body\r\n"})};
    t.peer->chunks = c.chunks;
    EXPECT_FALSE(t.client.SendMail());
    EXPECT_EQ(t.peer->sent, c.sent);
  }
}

TEST(MailTransaction, RefusedEndOfDataFailsAfterTheWholeMessage) {
  Transaction t;
  t.client.m_parts = {Part("7bit", {"body\r\n"})};
  t.Reply({"250 ok", "250 ok", "354 go", "451 try later"});
  EXPECT_FALSE(t.client.SendMail());
  EXPECT_TRUE(t.peer->sent.ends_with("\r\nbody\r\n\r\n.\r\n"));
  EXPECT_TRUE(t.peer->chunks.empty());
}

// A value holding CR LF "." CR LF would end the data early and let the rest
// be read as commands; every value must stay on its own line.
TEST(MailTransaction, NoValueCanBreakALine) {
  const std::string evil = "x\r\n.\r\nQUIT\r\ny";
  const std::string shown = "x  .  QUIT  y";
  struct Case {
    void (*setup)(CSmtpClient&, const std::string&);
    std::string line;
  } cases[] = {
      {[](CSmtpClient& c, const std::string& v) { c.m_originatorAddress = v; },
       "MAIL FROM:<" + shown + ">\r\n"},
      {[](CSmtpClient& c, const std::string& v) { c.m_originatorName = v; },
       "From: " + shown + " <ann@example.org>\r\n"},
      {[](CSmtpClient& c, const std::string& v) { c.m_recipients = {v}; },
       "RCPT TO:<" + shown + ">\r\n"},
      {[](CSmtpClient& c, const std::string& v) { c.m_recipients = {v + " <r@x>"}; },
       "To: " + shown + "  <r@x>\r\n"},
      {[](CSmtpClient& c, const std::string& v) {
         c.m_recipients = {"r@x", "<" + v};
         c.m_bccStart = 1;
       },
       "RCPT TO:<" + shown + ">\r\n"},
      {[](CSmtpClient& c, const std::string& v) { c.m_subject = v; }, "Subject: " + shown + "\r\n"},
      {[](CSmtpClient& c, const std::string& v) { c.m_replyTo = v; }, "Reply-To: " + shown + "\r\n"},
      {[](CSmtpClient& c, const std::string& v) { c.m_parts[0].m_charset = v; },
       "Content-Type: text/plain; charset=" + shown + "\r\n"},
      {[](CSmtpClient& c, const std::string& v) { c.m_parts[0].m_contentType = "text/" + v; },
       "Content-Type: text/" + shown + "; charset=us-ascii\r\n"},
      {[](CSmtpClient& c, const std::string& v) {
         c.m_parts[0].m_fileName = "dir/" + v;
         c.m_parts[0].m_withholdName = false;
       },
       "Content-Disposition: inline; filename=\"" + shown + "\"\r\n"},
      {[](CSmtpClient& c, const std::string& v) {
         c.m_uuencodeMode = true;
         c.m_parts[0].m_uuencoded = true;
         c.m_parts[0].m_fileName = v;
         c.m_parts[0].m_withholdName = false;
       },
       "begin 644 " + shown + "\r\n"},
  };
  for (const Case& c : cases) {
    Transaction t;
    t.client.m_parts = {Part("7bit", {"body\r\n"})};
    c.setup(t.client, evil);
    t.AcceptAll();
    EXPECT_TRUE(t.client.SendMail());
    const std::string& sent = t.peer->sent;
    EXPECT_NE(sent.find(c.line), std::string::npos) << c.line;
    // Line breaks only as CR LF pairs, and the end of the data only at the end.
    for (size_t i = 0; i < sent.size(); ++i) {
      if (sent[i] == '\r') {
        EXPECT_TRUE(i + 1 < sent.size() && sent[i + 1] == '\n') << c.line;
      }
      if (sent[i] == '\n') {
        EXPECT_TRUE(i > 0 && sent[i - 1] == '\r') << c.line;
      }
    }
    EXPECT_EQ(sent.find("\r\n.\r\n"), sent.size() - 5) << c.line;
    EXPECT_EQ(sent.find("\nQUIT"), std::string::npos) << c.line;
  }
}

// The measured size is what the data phase then sends, in every mode.
TEST(MailTransaction, MessageDataSizeIsWhatTheDataPhaseSends) {
  for (bool uuencode : {false, true}) {
    for (size_t parts : {1u, 3u}) {
      Transaction t;
      t.client.m_uuencodeMode = uuencode;
      t.client.m_subject = "Sizes";
      for (size_t i = 0; i < parts; ++i) {
        t.client.m_parts.push_back(Part("7bit", {"one\r\n", ".dot\r\n"}));
      }
      const unsigned long long size = t.client.MessageDataSize();
      t.AcceptAll();
      EXPECT_TRUE(t.client.SendMail());
      // The end-of-data line counts too.
      EXPECT_EQ(size, t.DataContent().size() + 3) << uuencode << " " << parts;
    }
  }
}

// The message as the relay counts it (RFC 1870): without the dots added by
// stuffing and without the end-of-data line.
size_t UnstuffedSize(const std::string& data) {
  size_t stuffed = data.starts_with("..") ? 1 : 0;
  for (size_t at = data.find("\r\n.."); at != std::string::npos; at = data.find("\r\n..", at + 1)) {
    ++stuffed;
  }
  return data.size() - stuffed;
}

// Over TLS a relay's SIZE stops a larger message before MAIL; nothing of it
// is sent. A message of exactly SIZE bytes goes.
TEST(MailTransaction, RelaySizeLimit) {
  const std::vector<std::string> lines = {std::string(3000, 'x') + "\r\n", ".one dot\r\n",
                                          "..two\r\n", ".\r\n"};
  unsigned long long size = 0;
  {
    Transaction t;
    t.client.m_parts.push_back(Part("7bit", lines));
    size = t.client.MessageSize();
    t.AcceptAll();
    EXPECT_TRUE(t.client.SendMail());
    EXPECT_EQ(size, UnstuffedSize(t.DataContent()));
    EXPECT_EQ(t.DataContent().size(), size + 3);  // three lines were stuffed
  }
  const std::string exact = std::to_string(size);
  const std::string less = std::to_string(size - 1);
  struct Case {
    const char* what;
    CSmtpClient::TlsMode mode;
    const char* keyword;  // nullptr: no SIZE
    std::string value;
    bool sends;
  } cases[] = {
      {"larger", CSmtpClient::kStartTls, "SIZE", "1000", false},
      {"one byte over", CSmtpClient::kImplicitTls, "SIZE", less, false},
      {"exactly the limit", CSmtpClient::kStartTls, "SIZE", exact, true},
      {"no limit given", CSmtpClient::kStartTls, "SIZE", "", true},
      {"limit 0: none", CSmtpClient::kStartTls, "SIZE", "0", true},
      {"not a number", CSmtpClient::kStartTls, "SIZE", "-5", true},
      {"no SIZE", CSmtpClient::kStartTls, nullptr, "", true},
      {"clear text as before", CSmtpClient::kNoTls, "SIZE", "1000", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Transaction t;
    t.client.m_parts.push_back(Part("7bit", lines));
    SClientOptions settings = t.client.Options();
    settings.tlsMode = c.mode;
    t.client.SetOptions(settings);
    if (c.keyword) t.client.m_ehloKeywords[c.keyword] = c.value;
    t.AcceptAll();
    EXPECT_EQ(t.client.SendMail(), c.sends);
    if (c.sends) {
      EXPECT_EQ(t.client.m_outcome.detail, "");
      EXPECT_EQ(UnstuffedSize(t.DataContent()), size);
    } else {
      EXPECT_EQ(t.peer->sent, "");
      EXPECT_EQ(t.client.m_outcome.detail, "The message (" + std::to_string(size) +
                                            " bytes) is larger than the relay accepts (" +
                                            c.value + " bytes)\n");
    }
  }
}

}  // namespace
