#include "platform/version_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Query(const std::vector<uint8_t>& block, const std::string& name, bool& found) {
  const uint8_t* value = nullptr;
  size_t size = 0;
  found = platform::QueryVersionValue(block, name, value, size);
  return found ? std::string(reinterpret_cast<const char*>(value), size) : std::string();
}

TEST(VersionBlock, ValuesAreFoundByTheirWholeName) {
  platform::CVersionBlockBuilder builder;
  builder.AddValue("\\A", "first");
  builder.AddValue("\\AB", std::string("se\0cond", 7));
  builder.AddValue("\\Empty", "");
  const std::vector<uint8_t> block = builder.Build();
  struct Case {
    const char* name;
    bool found;
    std::string value;
  } cases[] = {
      {"\\A", true, "first"},  {"\\AB", true, std::string("se\0cond", 7)},
      {"\\Empty", true, ""},   {"\\ABC", false, ""},
      {"\\a", false, ""},      {"", false, ""},
  };
  for (const auto& c : cases) {
    bool found = false;
    EXPECT_EQ(Query(block, c.name, found), c.value) << c.name;
    EXPECT_EQ(found, c.found) << c.name;
  }
}

TEST(VersionBlock, ForeignBytesAreNoBlock) {
  platform::CVersionBlockBuilder builder;
  builder.AddValue("\\", "value");
  std::vector<uint8_t> block = builder.Build();
  block[0] ^= 0xFF;
  bool found = true;
  Query(block, "\\", found);
  EXPECT_FALSE(found);
  Query({}, "\\", found);
  EXPECT_FALSE(found);
}

}  // namespace
