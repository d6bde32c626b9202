#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <type_traits>
#include <utility>

#include "mime/byte_source.h"

namespace {

// A copy would close the one file twice.
static_assert(!std::is_copy_constructible_v<CFileSource>);
static_assert(!std::is_copy_assignable_v<CFileSource>);
static_assert(std::is_nothrow_move_constructible_v<CFileSource>);

TEST(FileSource, MovedWithItsFileAndWhatItReadAhead) {
  const std::string path = testing::TempDir() + "file-source-move";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("abcdef", file);
  std::fclose(file);

  CFileSource first;
  ASSERT_TRUE(first.Open(path));
  EXPECT_EQ(first.ReadByte(), 'a');
  CFileSource second(std::move(first));
  EXPECT_EQ(second.SizeHint(), 6);
  EXPECT_EQ(second.ReadByte(), 'b');
  CFileSource third;
  third = std::move(second);
  char rest[8] = {};
  EXPECT_EQ(third.Read(rest, sizeof rest), 4u);
  EXPECT_STREQ(rest, "cdef");
  EXPECT_TRUE(third.Rewind());
  EXPECT_EQ(third.ReadByte(), 'a');
  // The sources moved from own nothing.
  EXPECT_EQ(first.SizeHint(), -1);
  EXPECT_FALSE(second.Rewind());
  std::remove(path.c_str());
}

}  // namespace
