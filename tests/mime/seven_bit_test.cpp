#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/byte_source.h"
#include "mime/message_part.h"

namespace {

std::vector<std::string> Lines(const CLineList& list) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < list.size(); ++i) lines.emplace_back(list[i]);
  return lines;
}

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

}  // namespace
