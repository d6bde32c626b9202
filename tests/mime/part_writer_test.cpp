#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "smtp/smtp_client.h"
#include "support/message_fixture.h"

namespace {

struct Writer : SClientOnPeer {
  // Sends part index and returns what it put on the wire.
  std::string Send(size_t index) {
    size_t before = peer->sent.size();
    EXPECT_TRUE(client.SendPart(index));
    return peer->sent.substr(before);
  }
};

TEST(PartWriter, HeaderLinesOfAMimePart) {
  struct Case {
    std::string contentType, charset, fileName;
    bool attachment, withhold;
    std::string typeLine, dispositionLine;
  } cases[] = {
      {"TEXT/HTML", "utf-8", "", false, true, "Content-Type: TEXT/HTML; charset=utf-8",
       "Content-Disposition: inline"},
      {"text/plain", "", "", false, true, "Content-Type: text/plain; charset=",
       "Content-Disposition: inline"},
      // The name leaves the sender's directories out ("/" separates them on
      // every system).
      {"application/octet-stream", "utf-8", "/srv/docs/report.pdf", true, false,
       "Content-Type: application/octet-stream; name=\"report.pdf\"",
       "Content-Disposition: attachment; filename=\"report.pdf\""},
      {"text", "utf-8", "docs/report.pdf", false, false, "Content-Type: text; name=\"report.pdf\"",
       "Content-Disposition: inline; filename=\"report.pdf\""},
      {"text/x", "k", "/srv/docs/report.pdf", true, true, "Content-Type: text/x; charset=k",
       "Content-Disposition: attachment"},
      {"image/gif", "k", "docs/", true, false, "Content-Type: image/gif",
       "Content-Disposition: attachment"},
      {"text/plain", "k", "c.txt", false, false,
       "Content-Type: text/plain; charset=k; name=\"c.txt\"",
       "Content-Disposition: inline; filename=\"c.txt\""},
  };
  for (const Case& c : cases) {
    Writer w;
    CMessagePart part = Part("quoted-printable", {"hi\r\n"});
    part.m_contentType = c.contentType;
    part.m_charset = c.charset;
    part.m_fileName = c.fileName;
    part.m_attachment = c.attachment;
    part.m_withholdName = c.withhold;
    w.client.m_parts = {part};
    EXPECT_EQ(w.Send(0), c.typeLine + "\r\nContent-Transfer-Encoding: quoted-printable\r\n" +
                             c.dispositionLine + "\r\n\r\nhi\r\n\r\n")
        << c.fileName;
  }
}

TEST(PartWriter, LinesAreDotStuffedAndNeverUsedAsFormats) {
  struct Case {
    std::vector<std::string> lines;
    std::string wire;
  } cases[] = {
      {{".\r\n"}, "..\r\n"},
      {{"..\r\n"}, "...\r\n"},
      {{".x\r\n", "a.\r\n", "\r\n", " .\r\n"}, "..x\r\na.\r\n\r\n .\r\n"},
      {{"."}, ".."},  // a last line kept without its break
      {{"100%s %n %%\r\n", ".%d\r\n"}, "100%s %n %%\r\n..%d\r\n"},
      {{std::string("a\0b\r\n", 5)}, std::string("a\0b\r\n", 5)},
      {{}, ""},
  };
  for (const Case& c : cases) {
    Writer w;
    w.client.m_parts = {Part("7bit", c.lines)};
    EXPECT_EQ(w.Send(0),
              "Content-Type: text/plain; charset=us-ascii\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "Content-Disposition: inline\r\n\r\n" +
                  c.wire + "\r\n");
  }
}

TEST(PartWriter, UuencodeModeFraming) {
  struct Case {
    bool uuencoded;
    std::string fileName;
    bool withhold;
    std::vector<std::string> lines;
    std::string wire;
  } cases[] = {
      {true, "pics/cat.gif", false, {"M86)C\r\n", ".86)C\r\n"},
       "begin 644 cat.gif\r\nM86)C\r\n..86)C\r\nend\r\n\r\n"},
      {true, "pics/cat.gif", true, {"!80``\r\n"}, "begin 644 noname\r\n!80``\r\nend\r\n\r\n"},
      {true, "", false, {}, "begin 644 noname\r\nend\r\n\r\n"},
      {false, "notes.txt", false, {"a\r\n", ".\r\n"}, "a\r\n..\r\n\r\n"},
  };
  for (const Case& c : cases) {
    Writer w;
    w.client.m_uuencodeMode = true;
    CMessagePart part = Part(c.uuencoded ? "" : "7bit", c.lines);
    part.m_fileName = c.fileName;
    part.m_withholdName = c.withhold;
    w.client.m_parts = {part};
    EXPECT_EQ(w.Send(0), c.wire);
  }
}

TEST(PartWriter, DelimitersBetweenAndAfterParts) {
  Writer w;
  w.client.m_parts = {Part("7bit", {"a\r\n"}), Part("7bit", {"b"}), Part("7bit", {"c\r\n"})};
  w.client.m_boundaryCounter = 1;
  const std::string d = "--[=_00000001]: ++++ Section Boundry ++++";
  const std::string head =
      "Content-Type: text/plain; charset=us-ascii\r\n"
      "Content-Transfer-Encoding: 7bit\r\n"
      "Content-Disposition: inline\r\n\r\n";
  EXPECT_EQ(w.Send(0), head + "a\r\n\r\n" + d + "\r\n");
  EXPECT_EQ(w.Send(1), head + "b\r\n" + d + "\r\n");
  EXPECT_EQ(w.Send(2), head + "c\r\n\r\n" + d + "--\r\n");
}

TEST(PartWriter, IndexOutsideTheListSendsNothing) {
  Writer w;
  w.client.m_parts = {Part("7bit", {"a\r\n"})};
  EXPECT_FALSE(w.client.SendPart(1));
  EXPECT_EQ(w.peer->sent, "");
}

TEST(PartWriter, LineBreaksInHeaderValuesBecomeBlanks) {
  Writer w;
  CMessagePart part = Part("7bit", {"x\r\n"});
  part.m_contentType = "text/plain\r\nBcc: evil";
  part.m_charset = "utf-8\n.\n";
  part.m_fileName = "dir/a\r\n.\r\nQUIT.txt";
  part.m_withholdName = false;
  w.client.m_parts = {part};
  EXPECT_EQ(w.Send(0),
            "Content-Type: text/plain  Bcc: evil; charset=utf-8 . ; name=\"a  .  QUIT.txt\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "Content-Disposition: inline; filename=\"a  .  QUIT.txt\"\r\n\r\n"
            "x\r\n\r\n");

  Writer u;
  u.client.m_uuencodeMode = true;
  part.m_uuencoded = true;
  u.client.m_parts = {part};
  EXPECT_EQ(u.Send(0), "begin 644 a  .  QUIT.txt\r\nx\r\nend\r\n\r\n");
}

}  // namespace
