#include "app/usage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "product_config.h"

namespace {

// The usage text stays byte for byte what it always was: the fixture holds
// it up to the documentation's address, which the product definition gives.
TEST(Usage, TextIsTheFixture) {
  std::ifstream file(VELSEND_TEST_DATA_DIR "/usage.txt", std::ios::binary);
  ASSERT_TRUE(file) << "tests/data/usage.txt";
  const std::string fixture((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
  EXPECT_EQ(UsageText(), fixture + "More Information: <" VELSEND_DOC_URL ">\n\n");
}

}  // namespace
