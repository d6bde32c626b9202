#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

namespace {

TEST(OthersCanRead, GroupOrOthersReadBit) {
  const std::string path = testing::TempDir() + "others-can-read";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  struct Case {
    mode_t mode;
    bool readable;
  } cases[] = {{0600, false}, {0400, false}, {0640, true}, {0604, true}, {0620, false}};
  for (const Case& c : cases) {
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    EXPECT_EQ(platform::OthersCanRead(path), c.readable) << std::oct << c.mode;
  }
  std::remove(path.c_str());
  EXPECT_FALSE(platform::OthersCanRead(path));
}

}  // namespace
