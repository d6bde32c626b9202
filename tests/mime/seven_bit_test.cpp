#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "mime/byte_source.h"
#include "mime/message_part.h"
#include "support/lines.h"
#include "support/memory_source.h"

namespace {

TEST(SevenBitTest, LinesBreaksAndGiveUps) {
  // 998 content bytes and CR LF make the longest line SMTP carries.
  const std::string k998(998, 'a');
  const std::string k999(999, 'a');
  struct Case {
    const char* what;
    std::string input;
    bool terminateLastLine;
    bool accepted;
    std::vector<std::string> lines;
    bool standardInput = false;
  } cases[] = {
      {"empty", "", false, true, {}},
      {"bare last line", "abc", false, true, {"abc"}},
      {"closed last line", "abc", true, true, {"abc\r\n"}},
      {"final break adds no line", "abc\n", false, true, {"abc\r\n"}},
      {"998 bytes", k998 + "\r\nb", false, true, {k998 + "\r\n", "b"}},
      {"998 bytes last", k998, false, true, {k998}},
      {"999 bytes", k999 + "\r\nb", false, false, {}},
      {"999 bytes last, no break", "b\r\n" + k999, true, false, {}},
      {"8-bit byte", "ab\r\ncaf\xE9\r\n", false, false, {}},
      {"form feed and escape pass", "\x0C\x1B[0m\r\n", false, true, {"\x0C\x1B[0m\r\n"}},
      {"NUL", std::string("a\0b\r\n", 5), false, false, {}},
      {"CR LF LF is one break", "a\r\n\nb", false, true, {"a\r\n", "b"}},
      {"LF LF is two", "a\n\nb", false, true, {"a\r\n", "\r\n", "b"}},
      {"LF CR is one", "a\n\rb", false, true, {"a\r\n", "b"}},
      {"CR CR is two", "a\r\rb", false, true, {"a\r\n", "\r\n", "b"}},
      {"lone CR", "a\rb", false, true, {"a\r\n", "b"}},
      {"LF CR CR is one", "a\n\r\rb", false, true, {"a\r\n", "b"}},
      {"a file has no dot rule", "x\r\n.\r\ny", false, true, {"x\r\n", ".\r\n", "y"}},
      {"dot line ends the text", "x\r\n.\r\ny\r\n", false, true, {"x\r\n"}, true},
      {"dot blank and dot dot do not", ". \r\n..\r\n", false, true, {". \r\n", "..\r\n"}, true},
      {"dot without break is a line", "x\r\n.", true, true, {"x\r\n", ".\r\n"}, true},
  };
  for (const Case& c : cases) {
    CMessagePart part;
    part.m_lines.push_back("left over\r\n");
    part.m_encoding = "base64";
    part.m_uuencoded = true;
    CMemorySource source(c.input, c.standardInput);
    EXPECT_EQ(part.EncodeSevenBit(source, c.terminateLastLine), c.accepted) << c.what;
    EXPECT_EQ(Lines(part.m_lines), c.lines) << c.what;
    if (c.accepted) {
      EXPECT_EQ(part.m_encoding, "7bit") << c.what;
      EXPECT_FALSE(part.m_uuencoded) << c.what;
    } else {
      EXPECT_EQ(part.m_encoding, "base64") << c.what;
      EXPECT_TRUE(part.m_uuencoded) << c.what;
      std::string again(c.input.size() + 1, '\0');
      again.resize(source.Read(again.data(), again.size()));
      EXPECT_EQ(again, c.input) << c.what << ": not rewound";
    }
  }
}

// A text larger than the source's buffer, so that lines, breaks and the
// 998-byte limit fall across its refills; blanks, TABs and form feeds mixed
// in (they look like line ends to the quick scan and are not).
TEST(SevenBitTest, LargeTextAcrossBufferRefills) {
  std::mt19937 random(998);
  std::string input;
  std::string all;
  std::vector<std::string> lines;
  while (input.size() < 300000) {
    const size_t length = random() % 7 == 0 ? 998 : random() % 120;
    std::string content;
    for (size_t i = 0; i < length; ++i) {
      static const char kBytes[] = "abcxyz ABC\t\x0C\x1B~!\x01";
      content.push_back(kBytes[random() % (sizeof kBytes - 1)]);
    }
    // An empty line after a lone LF would join its break.
    input += content + (content.empty() || random() % 2 ? "\r\n" : "\n");
    lines.push_back(content + "\r\n");
    all += lines.back();
  }
  {
    CMessagePart part;
    CMemorySource source(input);
    EXPECT_TRUE(part.EncodeSevenBit(source, false));
    EXPECT_EQ(Lines(part.m_lines), lines);
  }
  {
    // On the standard input the "." line ends it; nothing of it stays.
    CMessagePart part;
    CMemorySource source(input + ".\r\nnot text\r\n", true);
    EXPECT_TRUE(part.EncodeSevenBit(source, false));
    EXPECT_EQ(Lines(part.m_lines), lines);
    EXPECT_TRUE(part.m_lines.Bytes() == all);
  }
  // Far into the text, a byte above 0x7F, a NUL or a line one byte too long
  // still declines it.
  for (const std::string& bad : {std::string("caf\xE9"), std::string("a\0b", 3),
                                 std::string(999, 'x')}) {
    CMessagePart part;
    CMemorySource source(input + bad + "\r\nend\r\n");
    EXPECT_FALSE(part.EncodeSevenBit(source, false)) << bad.size();
    EXPECT_TRUE(part.m_lines.empty());
    EXPECT_EQ(source.ReadByte(), static_cast<unsigned char>(input[0]));
  }
}

}  // namespace
