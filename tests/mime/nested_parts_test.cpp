#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/boundary.h"
#include "smtp/smtp_client.h"
#include "support/message_fixture.h"

namespace {

const std::string kText = "++++ Section Boundry ++++";

CMessagePart Multipart(const std::string& type, std::vector<CMessagePart> children) {
  CMessagePart part;
  part.m_contentType = type;
  part.m_children = std::move(children);
  return part;
}

// An alternative (text, related (HTML, image)) as the composer builds it.
CMessagePart Alternative(const std::vector<std::string>& htmlLines) {
  CMessagePart image = Part("base64", {"AAAA\r\n"}, "image/png");
  image.m_contentId = "chart.png";
  image.m_fileName = "charts/chart.png";
  image.m_withholdName = false;
  return Multipart("multipart/alternative",
                   {Part("quoted-printable", {"text\r\n"}),
                    Multipart("multipart/related",
                              {Part("7bit", htmlLines, "text/html", "utf-8"), image})});
}

std::string Written(CSmtpClient& client) {
  struct CSink : CTextSink {
    void Write(std::string_view text) override { data.append(text); }
    std::string data;
  } sink;
  client.m_dotStuffing = false;
  client.DivertSends(&sink);
  client.WriteMessageData();
  client.DivertSends(nullptr);
  return sink.data.substr(sink.data.find("MIME-Version: 1.0\r\n"));
}

TEST(NestedParts, EachLevelHasItsOwnDelimiter) {
  SClientOnPeer t;
  t.client.m_parts = {Alternative({"<p>x</p>\r\n"}), Part("7bit", {"file\r\n"})};
  const std::string d0 = FormatDelimiter(0, kText), d1 = FormatDelimiter(1, kText),
                    d2 = FormatDelimiter(2, kText);
  EXPECT_EQ(Written(t.client),
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"" + d0.substr(2) + "\"\r\n\r\n"
            "\r\n" + d0 + "\r\n"
            "Content-Type: multipart/alternative;\r\n boundary=\"" + d1.substr(2) + "\"\r\n\r\n"
            "\r\n" + d1 + "\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "Content-Disposition: inline\r\n\r\ntext\r\n"
            "\r\n" + d1 + "\r\n"
            "Content-Type: multipart/related; type=\"text/html\";\r\n boundary=\"" +
                d2.substr(2) + "\"\r\n\r\n"
            "\r\n" + d2 + "\r\n"
            "Content-Type: text/html; charset=utf-8\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "Content-Disposition: inline\r\n\r\n<p>x</p>\r\n"
            "\r\n" + d2 + "\r\n"
            "Content-Type: image/png; name=\"chart.png\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-ID: <chart.png>\r\n"
            "Content-Disposition: inline; filename=\"chart.png\"\r\n\r\nAAAA\r\n"
            "\r\n" + d2 + "--\r\n"
            "\r\n" + d1 + "--\r\n"
            "\r\n" + d0 + "\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "Content-Disposition: inline\r\n\r\nfile\r\n"
            "\r\n" + d0 + "--\r\n");
}

// The alternative alone is the message's body: it takes the message's
// counter, and every counter a 7bit line anywhere in the tree holds is
// passed over, at every level.
TEST(NestedParts, CountersSkipEveryDelimiterTheContentHolds) {
  struct Case {
    const char* name;
    std::vector<CMessagePart> parts;
    std::vector<uint32_t> counters;  // the message's, then each multipart's
  } cases[] = {
      {"alternative alone", {Alternative({"x\r\n"})}, {0, 0, 1}},
      {"alternative alone, HTML holding 0 and 1",
       {Alternative({FormatDelimiter(0, kText) + "\r\n", FormatDelimiter(1, kText) + "\r\n"})},
       {2, 2, 3}},
      {"with a file, HTML holding 1 and 2",
       {Alternative({FormatDelimiter(2, kText) + "\r\n", FormatDelimiter(1, kText) + "\r\n"}),
        Part("7bit", {"x\r\n"})},
       {0, 3, 4}},
  };
  for (Case& c : cases) {
    CSmtpClient client(true);
    client.m_parts = c.parts;
    EXPECT_EQ(client.IsBoundaryUnique(), c.counters[0] == 0) << c.name;
    client.MakeBoundaryUnique();
    EXPECT_TRUE(client.IsBoundaryUnique()) << c.name;
    const CMessagePart& alternative = client.m_parts[0];
    EXPECT_EQ(client.m_boundaryCounter, c.counters[0]) << c.name;
    EXPECT_EQ(alternative.m_boundaryCounter, c.counters[1]) << c.name;
    EXPECT_EQ(alternative.m_children[1].m_boundaryCounter, c.counters[2]) << c.name;
  }
}

}  // namespace
