#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "mime/checksum.h"
#include "support/lines.h"

namespace {

std::string Bytes256Times5() {
  std::string bytes;
  for (int round = 0; round < 5; ++round) {
    for (int c = 0; c < 256; ++c) bytes.push_back(static_cast<char>(c));
  }
  return bytes + "xyz";
}

// The published function's values: below one stripe, one stripe and more,
// and a tail of every length class (8, 4 and single bytes).
TEST(Checksum, KnownValuesWhateverThePieces) {
  struct Case {
    std::string bytes;
    uint64_t value;
  } cases[] = {
      {"", 0xEF46DB3751D8E999ull},
      {"a", 0xD24EC4F1A98C6E5Bull},
      {"abc", 0x44BC2CF5AD770999ull},
      {"0123456789abcdefghijklmnopqrstuvwxyz", 0x69196C1B3AF0BFF9ull},
      {Bytes256Times5(), 0xAFD18A3957D3670Aull},
  };
  for (const Case& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{31}, size_t{32}, size_t{33}, size_t{4096}}) {
      CChecksum sum;
      for (size_t at = 0; at < c.bytes.size(); at += piece) {
        sum.Update(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
      }
      EXPECT_EQ(sum.Value(), c.value) << c.bytes.size() << " bytes in pieces of " << piece;
    }
  }
}

// One changed byte anywhere, or one byte fewer, gives another value; Reset
// starts over.
TEST(Checksum, TellsChangedBytesApart) {
  const std::string bytes = Pattern(1000);
  CChecksum sum;
  sum.Update(bytes.data(), bytes.size());
  const uint64_t original = sum.Value();
  for (size_t at : {size_t{0}, size_t{31}, size_t{500}, size_t{999}}) {
    std::string changed = bytes;
    changed[at] ^= 1;
    sum.Reset();
    sum.Update(changed.data(), changed.size());
    EXPECT_NE(sum.Value(), original) << at;
  }
  sum.Reset();
  sum.Update(bytes.data(), bytes.size() - 1);
  EXPECT_NE(sum.Value(), original);
  sum.Reset();
  sum.Update(bytes.data(), bytes.size());
  EXPECT_EQ(sum.Value(), original);
}

}  // namespace
