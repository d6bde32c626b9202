#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "mime/line_list.h"
#include "support/lines.h"

namespace {

// Lines of 0 to 40 bytes, each with its own content, some written in pieces.
void Fill(CLineList& list, std::vector<std::string>& expected) {
  for (int i = 0; i < 60; ++i) {
    std::string line(static_cast<size_t>(i * 7 % 41), static_cast<char>('a' + i % 26));
    if (!line.empty()) line.back() = static_cast<char>('0' + i % 10);
    if (i % 3 == 0) {
      list.push_back(line);
    } else {
      const size_t half = line.size() / 2;
      list.Append(std::string_view(line).substr(0, half));
      std::string_view rest = std::string_view(line).substr(half);
      if (!rest.empty()) {
        list.Append(rest.substr(0, rest.size() - 1));
        *list.AppendSpace(1) = rest.back();
      }
      list.EndLine();
    }
    expected.push_back(line);
  }
}

// Offsets are stored in 32 bits; past 4 GiB the high part is kept apart. A
// list with 4-bit offsets reaches that point every 16 bytes: lines that end
// on a boundary, span several, or are empty must all come back whole.
TEST(LineList, LinesComeBackWholeAcrossOffsetWraps) {
  for (unsigned bits : {4u, 32u}) {
    CLineList list(bits);
    list.Reserve(10, 2);  // too small: the list grows past it
    std::vector<std::string> expected;
    Fill(list, expected);
    std::string all;
    for (const std::string& line : expected) all += line;
    EXPECT_EQ(Lines(list), expected) << bits;
    EXPECT_EQ(std::string(list.Bytes()), all) << bits;

    CLineList copy(list);
    EXPECT_EQ(Lines(copy), expected) << bits;
    CLineList moved(std::move(list));
    EXPECT_EQ(Lines(moved), expected) << bits;
    EXPECT_TRUE(list.empty());
    list = moved;
    EXPECT_EQ(Lines(list), expected) << bits;

    list.clear();
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.Bytes().empty());
    list.push_back("again\r\n");
    EXPECT_EQ(Lines(list), std::vector<std::string>{"again\r\n"});
  }
}

TEST(LineList, OpenLineCanBeDropped) {
  CLineList list(4);
  list.push_back("0123456789abcdef-");  // past the first 16-byte boundary
  list.Append(".");
  EXPECT_EQ(list.OpenLine(), ".");
  list.DropOpenLine();
  EXPECT_EQ(list.OpenLine(), "");
  EXPECT_EQ(list.Bytes(), "0123456789abcdef-");
  list.push_back("x");
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"0123456789abcdef-", "x"}));
}

}  // namespace
