#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "mime/byte_source.h"
#include "mime/message_part.h"
#include "support/decoders.h"
#include "support/lines.h"
#include "support/memory_source.h"

namespace {

std::string Repeat(std::string_view text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out.append(text);
  return out;
}

TEST(QuotedPrintableTest, FoldsLinesAt76) {
  const std::string x73(73, 'x'), x74(74, 'x'), x75(75, 'x'), x76(76, 'x'), x77(77, 'x');
  struct Case {
    std::string line;
    bool softBreak;
    std::vector<std::string> lines;
  } cases[] = {
      {"", false, {"\r\n"}},
      {"abc", true, {"abc=\r\n"}},
      {"ab ", false, {"ab=20\r\n"}},
      {"ab\t", false, {"ab=09\r\n"}},
      {"ab ", true, {"ab =\r\n"}},
      {x76, false, {x76 + "\r\n"}},
      {x77, false, {x75 + "=\r\n", "xx\r\n"}},
      {Repeat("x", 200), false, {x75 + "=\r\n", x75 + "=\r\n", Repeat("x", 50) + "\r\n"}},
      {Repeat("word ", 20), false,
       {Repeat("word ", 15) + "=\r\n", "word word word word word=20\r\n"}},
      // The escaped trailing blank pushes the line past 76.
      {x75 + " ", false, {x75 + "=\r\n", "=20\r\n"}},
      // Escapes are never split.
      {x73 + "=E9abc", false, {x73 + "=\r\n", "=E9abc\r\n"}},
      {x74 + "=E9abc", false, {x74 + "=\r\n", "=E9abc\r\n"}},
      {x75 + "=E9", false, {x75 + "=\r\n", "=E9\r\n"}},
      // The break follows the last blank; the blank stays literal before "=".
      {"a " + Repeat("x", 80), false, {"a =\r\n", x75 + "=\r\n", "xxxxx\r\n"}},
      {"a b\t" + x77, false, {"a b\t=\r\n", x75 + "=\r\n", "xx\r\n"}},
      // A soft-broken line keeps its soft break on the last piece, within 76.
      {x76, true, {x75 + "=\r\n", "x=\r\n"}},
      {x77, true, {x75 + "=\r\n", "xx=\r\n"}},
  };
  for (const Case& c : cases) {
    CMessagePart part;
    part.AddQuotedPrintableLine(c.line, c.softBreak);
    EXPECT_EQ(Lines(part.m_lines), c.lines) << c.line << (c.softBreak ? " (soft)" : "");
  }
}

TEST(QuotedPrintableTest, EncodesTextSources) {
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> lines;
    bool standardInput = false;
  } cases[] = {
      {"empty", "", {}},
      {"equals sign", "a=b", {"a=3Db=\r\n"}},
      // A file's last line without a break ends in a soft break: the decoded
      // text ends where the file does.
      {"last line gets a soft break", "abc", {"abc=\r\n"}},
      {"last line with its break", "abc\n", {"abc\r\n"}},
      {"last line ending in a blank", "ab ", {"ab =\r\n"}},
      {"control and 8-bit bytes", std::string("\0\x7F\xFF\x0C\tx", 6), {"=00=7F=FF=0C\tx=\r\n"}},
      {"blank before a break", "a \r\nb\t\n", {"a=20\r\n", "b=09\r\n"}},
      {"CR LF LF is one break", "a\r\n\nb", {"a\r\n", "b=\r\n"}},
      {"LF LF is two", "a\n\nb", {"a\r\n", "\r\n", "b=\r\n"}},
      {"a file has no dot rule", ".\r\nx", {".\r\n", "x=\r\n"}},
      {"dot line ends the text", "x\r\n.\r\nmore\r\n", {"x\r\n"}, true},
      {"dot line first", ".\nmore\n", {}, true},
      {"dot blank and dot dot do not", ". \n..\n", {".=20\r\n", "..\r\n"}, true},
      // The typed text keeps a hard break on its last line.
      {"dot without break is a line", "x\r\n.", {"x\r\n", ".\r\n"}, true},
  };
  for (const Case& c : cases) {
    CMessagePart part;
    part.m_lines.push_back("left over\r\n");
    part.m_uuencoded = true;
    CMemorySource source(c.input, c.standardInput);
    EXPECT_TRUE(part.EncodeQuotedPrintable(source, false)) << c.what;
    EXPECT_EQ(Lines(part.m_lines), c.lines) << c.what;
    EXPECT_EQ(part.m_encoding, "quoted-printable") << c.what;
    EXPECT_FALSE(part.m_uuencoded) << c.what;
  }
}

TEST(QuotedPrintableTest, GiveUpThresholds) {
  const std::string high51(51, '\xE9');
  struct Case {
    const char* what;
    std::string input;
    bool mayGiveUp;
    bool accepted;
  } cases[] = {
      {"crossed, then one more byte", std::string(100, 'a') + high51 + "z", true, false},
      {"crossed by the last byte", std::string(100, 'a') + high51, true, true},
      {"a following break byte counts as a byte", std::string(100, 'a') + high51 + "\n", true, false},
      {"100 characters is not above 100", std::string(49, 'a') + high51 + "z", true, true},
      {"101 characters, then one more", std::string(49, 'a') + high51 + "zz", true, false},
      {"break bytes are not characters", std::string(49, 'a') + high51 + "\r\nz", true, true},
      {"50 escapes in 1 MB", std::string(50, '\x01') + std::string(1 << 20, 'a'), true, true},
      {"leading equals signs", std::string(51, '=') + std::string(149, 'a'), true, false},
      {"no give-up allowed", std::string(1000, '\xFF'), false, true},
  };
  for (const Case& c : cases) {
    CMessagePart part;
    part.m_encoding = "7bit";
    part.m_uuencoded = true;
    CMemorySource source(c.input);
    EXPECT_EQ(part.EncodeQuotedPrintable(source, c.mayGiveUp), c.accepted) << c.what;
    if (c.accepted) {
      EXPECT_FALSE(part.m_lines.empty()) << c.what;
      EXPECT_EQ(part.m_encoding, "quoted-printable") << c.what;
    } else {
      EXPECT_TRUE(part.m_lines.empty()) << c.what;
      EXPECT_EQ(part.m_encoding, "7bit") << c.what;
      EXPECT_TRUE(part.m_uuencoded) << c.what;
    }
  }
}

// Each encoder that declines a file hands the next one every byte again.
TEST(QuotedPrintableTest, NextEncoderAfterAGiveUpSeesTheSameBytes) {
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>(i * 7919 >> 3));
  CMessagePart expected;
  CMemorySource fresh(binary);
  expected.EncodeBase64(fresh);

  CMessagePart part;
  CMemorySource source(binary);
  EXPECT_FALSE(part.EncodeSevenBit(source, false));
  EXPECT_FALSE(part.EncodeQuotedPrintable(source, true));
  EXPECT_TRUE(part.EncodeBase64(source));
  EXPECT_TRUE(part.m_lines.Bytes() == expected.m_lines.Bytes());

  CMemorySource text("caf\xE9 ol\xE9\r\n");
  EXPECT_FALSE(part.EncodeSevenBit(text, false));
  EXPECT_TRUE(part.EncodeQuotedPrintable(text, true));
  EXPECT_EQ(Lines(part.m_lines), std::vector<std::string>{"caf=E9 ol=E9\r\n"});
}

// Two texts typed one after the other: the break of the "." line that ended
// the first is not taken for an empty first line of the second.
TEST(QuotedPrintableTest, SecondTextStartsAfterTheDotLineBreak) {
  struct Case {
    std::string input;
    std::vector<std::string> second;
  } cases[] = {
      {"a\r\n.\r\nb\r\n.\r\nc", {"b\r\n"}},
      {"a\n.\nb\n.\n", {"b\r\n"}},
      {"a\r\n.\n\r\rb\r\n", {"b\r\n"}},
      {"a\r\n.\r\rb", {"\r\n", "b\r\n"}},  // CR CR is two breaks
      {"a\r\n.\r\n", {}},
  };
  for (const Case& c : cases) {
    CMemorySource source(c.input, true);
    CMessagePart first, second;
    first.EncodeQuotedPrintable(source, false);
    second.EncodeQuotedPrintable(source, false);
    EXPECT_EQ(Lines(first.m_lines), std::vector<std::string>{"a\r\n"}) << c.input;
    EXPECT_EQ(Lines(second.m_lines), c.second) << c.input;
  }
}

TEST(QuotedPrintableTest, RandomTextsDecodeToThemselves) {
  std::mt19937 random(7741);
  for (size_t size : {1u, 75u, 76u, 77u, 160u, 1000u, 9000u, 300000u}) {
    const bool oneLine = size > 5000;  // folded while it is read
    std::string input;
    while (input.size() < size) {
      unsigned pick = random() % 100;
      if (pick < 55) {
        input.push_back(static_cast<char>('a' + random() % 26));
      } else if (pick < 70) {
        input.push_back(' ');
      } else if (pick < 75) {
        input.push_back('\t');
      } else if (pick < 80) {
        input.push_back('=');
      } else if (pick < 98 || oneLine) {
        char c = static_cast<char>(random() & 0xFF);
        if (c != '\r' && c != '\n') input.push_back(c);
      } else {
        input.append("\r\n");
      }
    }
    input.append("\r\n");
    CMessagePart part;
    CMemorySource source(input);
    EXPECT_TRUE(part.EncodeQuotedPrintable(source, false));
    std::string decoded, fault;
    ASSERT_TRUE(DecodeQuotedPrintable(part.m_lines, decoded, fault)) << size << " bytes, " << fault;
    EXPECT_TRUE(decoded == input) << size << " bytes";
  }
}

// A line too long to hold is folded while it is read; the result is the one
// the whole line would give (a last line, so it ends in a soft break).
TEST(QuotedPrintableTest, VeryLongLineFoldsAsAWhole) {
  std::string input, encoded;
  for (int i = 0; i < 5000; ++i) {
    static const char* const kPieces[] = {"ab", " ", "\xE9", "cde\t", "=", "fghijklmnop"};
    const char* piece = kPieces[i * 5 % 6];
    input.append(piece);
    encoded.append(piece[0] == '\xE9' ? "=E9" : piece[0] == '=' ? "=3D" : piece);
  }
  CMessagePart whole, streamed;
  whole.AddQuotedPrintableLine(encoded, true);
  CMemorySource source(input);
  streamed.EncodeQuotedPrintable(source, false);
  EXPECT_GT(whole.m_lines.size(), 100u);
  EXPECT_EQ(Lines(streamed.m_lines), Lines(whole.m_lines));
}

}  // namespace
