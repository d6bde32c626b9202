#include "mime/line_spool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CCollector : public CLineSink {
 public:
  void TakeLines(const CLineList& lines) override {
    ++blocks;
    for (size_t i = 0; i < lines.size(); ++i) taken.emplace_back(lines[i]);
  }
  std::vector<std::string> taken;
  int blocks = 0;
};

// Lines handed on in blocks of blockBytes, as an encoder hands them on.
std::vector<std::string> Feed(CLineSpool& spool, size_t count, size_t blockBytes) {
  std::vector<std::string> lines;
  CLineList list;
  list.HandTo(&spool, blockBytes);
  for (size_t i = 0; i < count; ++i) {
    lines.push_back("line " + std::to_string(i) + std::string(i % 90, '=') + "\r\n");
    list.push_back(lines.back());
  }
  list.HandOn();
  return lines;
}

TEST(LineSpool, SmallTextStaysInMemory) {
  CLineSpool spool(1000);
  const std::vector<std::string> lines = Feed(spool, 10, 64);
  EXPECT_FALSE(spool.IsSpooled());
  EXPECT_FALSE(spool.Failed());
  EXPECT_EQ(spool.LineCount(), 10u);
  const CLineList held = spool.TakeHeld();
  ASSERT_EQ(held.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(held[i], lines[i]);
}

// Past the limit every line goes to the file, those held before included,
// and comes back the same, as often as asked, in blocks.
TEST(LineSpool, LargeTextComesBackFromTheFile) {
  CLineSpool spool(1000);
  const std::vector<std::string> lines = Feed(spool, 3000, 4096);
  ASSERT_TRUE(spool.IsSpooled()) << spool.FailureText();
  EXPECT_FALSE(spool.Failed());
  EXPECT_EQ(spool.LineCount(), 3000u);
  EXPECT_EQ(spool.TakeHeld().size(), 0u);
  for (int pass = 0; pass < 2; ++pass) {
    CCollector sink;
    ASSERT_TRUE(spool.Replay(sink, 8192)) << spool.FailureText();
    EXPECT_EQ(sink.taken, lines);
    EXPECT_GT(sink.blocks, 10);  // never the whole text at once
  }
}

}  // namespace
