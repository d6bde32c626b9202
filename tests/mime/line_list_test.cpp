#include <gtest/gtest.h>

#include <cstdint>
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

// Offsets are stored in 32 bits; past 4 GiB the high part is kept apart.
// With 4-bit offsets the same arithmetic wraps every 16 bytes: line ends on
// a boundary, lines that span several and empty lines must all come back.
TEST(WrappedOffset, EndsComeBackWholeAcrossWraps) {
  struct Case {
    unsigned bits;
    std::vector<uint64_t> ends;
  } cases[] = {
      {4, {0, 5, 15, 16, 16, 17, 31, 40, 47, 48, 100, 100, 101}},
      {4, {33, 34}},  // the first line already past two wraps
      {32, {10, uint64_t{1} << 32, (uint64_t{1} << 32) + 1, (uint64_t{5} << 32) | 7}},
      {31, {(uint64_t{1} << 31) - 1, uint64_t{1} << 31, uint64_t{3} << 31}},
  };
  for (const Case& c : cases) {
    std::vector<size_t> wraps;
    std::vector<uint32_t> lows;
    for (uint64_t end : c.ends) {
      wrapped_offset::NoteWraps(wraps, end, lows.size(), c.bits);
      lows.push_back(wrapped_offset::Low(end, c.bits));
      EXPECT_LT(lows.back(), uint64_t{1} << c.bits);
    }
    for (size_t i = 0; i < c.ends.size(); ++i) {
      EXPECT_EQ(wrapped_offset::Join(wraps, i, lows[i], c.bits), c.ends[i])
          << c.bits << " line " << i;
    }
  }
}

TEST(LineList, LinesComeBackWholeAfterCopyMoveAndClear) {
  CLineList list;
  list.Reserve(10, 2);  // too small: the list grows past it
  std::vector<std::string> expected;
  Fill(list, expected);
  std::string all;
  for (const std::string& line : expected) all += line;
  EXPECT_EQ(Lines(list), expected);
  EXPECT_EQ(std::string(list.Bytes()), all);

  CLineList copy(list);
  EXPECT_EQ(Lines(copy), expected);
  CLineList moved(std::move(list));
  EXPECT_EQ(Lines(moved), expected);
  EXPECT_TRUE(list.empty());
  list = moved;
  EXPECT_EQ(Lines(list), expected);

  list.clear();
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(list.Bytes().empty());
  list.push_back("again\r\n");
  EXPECT_EQ(Lines(list), std::vector<std::string>{"again\r\n"});
}

TEST(LineList, OpenLineCanBeDropped) {
  CLineList list;
  list.push_back("0123456789abcdef-");
  list.Append(".");
  EXPECT_EQ(list.OpenLine(), ".");
  list.DropOpenLine();
  EXPECT_EQ(list.OpenLine(), "");
  EXPECT_EQ(list.Bytes(), "0123456789abcdef-");
  list.push_back("x");
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"0123456789abcdef-", "x"}));
}

}  // namespace

namespace {

// Keeps each handed block apart, to see where the list cut them.
class BlockRecorder : public CLineSink {
 public:
  void TakeLines(const CLineList& lines) override { blocks.push_back(Lines(lines)); }
  std::vector<std::vector<std::string>> blocks;
};

}  // namespace

// Handed on in blocks, the lines arrive whole and in order, each block once
// it reaches the size, the rest at HandOn; an open line stays in the list.
TEST(LineList, HandsLinesOnInBlocks) {
  BlockRecorder recorder;
  CLineList list;
  list.HandTo(&recorder, 100);
  std::vector<std::string> expected;
  Fill(list, expected);
  list.Append("open");
  ASSERT_GT(recorder.blocks.size(), 3u);
  for (const auto& block : recorder.blocks) {
    size_t bytes = 0;
    for (const std::string& line : block) bytes += line.size();
    EXPECT_GE(bytes, 100u);
    EXPECT_LT(bytes - block.back().size(), 100u);  // handed on at the first line past it
  }
  list.HandOn();
  EXPECT_EQ(list.OpenLine(), "open");
  std::vector<std::string> all;
  for (const auto& block : recorder.blocks) all.insert(all.end(), block.begin(), block.end());
  EXPECT_EQ(all, expected);

  list.EndLine();
  list.HandTo(nullptr, 0);
  list.push_back("kept");
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"open", "kept"}));
}
