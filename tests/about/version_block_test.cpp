#include "about/version_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Query(const std::vector<uint8_t>& block, const std::string& name, bool& found) {
  std::string value;
  found = QueryVersionValue(block, name, value);
  return value;
}

TEST(VersionBlock, ValuesAreFoundByTheirWholeName) {
  CVersionBlockBuilder builder;
  builder.SetFileVersion(2, 0, 3, 4);
  builder.AddTranslation(0x0409, 1200);
  builder.AddTranslation(0x0407, 1252);
  builder.AddValue("\\A", "first");
  builder.AddValue("\\AB", std::string("se\0cond", 7));
  builder.AddValue("\\Odd", "abc");  // a length off the 4-byte grid
  builder.AddValue("\\Empty", "");
  builder.AddValue("\\A", "shadowed");
  builder.AddString("040904B0", "ProductName", "Caf\xe9 mailer");
  builder.AddString("040904B0", "Blank", "");
  const std::vector<uint8_t> block = builder.Build();
  const std::string fixed("\xBD\x04\xEF\xFE\x00\x00\x01\x00\x00\x00\x02\x00\x04\x00\x03\x00", 16);
  struct Case {
    const char* name;
    bool found;
    std::string value;
  } cases[] = {
      {"\\A", true, "first"},
      {"\\a", true, "first"},  // names match without regard to case
      {"\\AB", true, std::string("se\0cond", 7)},
      {"\\Odd", true, "abc"},
      {"\\Empty", true, ""},
      {"\\VarFileInfo\\Translation", true, std::string("\x09\x04\xB0\x04\x07\x04\xE4\x04", 8)},
      {"\\StringFileInfo\\040904B0\\ProductName", true, std::string("Caf\xe9 mailer\0", 12)},
      {"\\stringfileinfo\\040904b0\\productname", true, std::string("Caf\xe9 mailer\0", 12)},
      {"\\StringFileInfo\\040904B0\\Blank", true, std::string(1, '\0')},
      {"\\StringFileInfo\\040904B0\\Missing", false, ""},
      {"\\StringFileInfo\\040704E4\\ProductName", false, ""},
      {"\\ABC", false, ""},
      {"\\Odd\\Below", false, ""},
  };
  for (const auto& c : cases) {
    bool found = false;
    EXPECT_EQ(Query(block, c.name, found), c.value) << c.name;
    EXPECT_EQ(found, c.found) << c.name;
  }
  bool found = false;
  EXPECT_EQ(Query(block, "\\", found).substr(0, 16), fixed);
  EXPECT_TRUE(found);
  EXPECT_EQ(Query(block, "", found).size(), 52u);  // the root, as "\\" names it
}

TEST(VersionBlock, DamagedBlocksAreNoBlock) {
  CVersionBlockBuilder builder;
  builder.AddTranslation(0x0409, 1200);
  builder.AddString("040904B0", "ProductName", "velsend");
  const std::vector<uint8_t> good = builder.Build();
  const std::string name = "\\StringFileInfo\\040904B0\\ProductName";
  bool found = false;
  ASSERT_EQ(Query(good, name, found), std::string("velsend\0", 8));

  std::vector<uint8_t> longer = good;  // the root claims more than the block holds
  longer[0] = 0xFF;
  longer[1] = 0xFF;
  std::vector<uint8_t> tiny = good;  // the root claims less than its own header
  tiny[0] = 5;
  tiny[1] = 0;
  const std::vector<std::vector<uint8_t>> damaged = {
      {}, {1, 2, 3}, longer, tiny, std::vector<uint8_t>(good.begin(), good.end() - 1)};
  for (const auto& block : damaged) {
    Query(block, "\\", found);
    EXPECT_FALSE(found) << block.size();
    Query(block, name, found);
    EXPECT_FALSE(found) << block.size();
  }
}

// Every byte changed in turn: the look-up never reads outside the block
// (the sanitizer build watches), and a value it does return is whole.
TEST(VersionBlock, CorruptedBytesNeverReadOutside) {
  CVersionBlockBuilder builder;
  builder.SetFileVersion(1, 2, 3, 4);
  builder.AddTranslation(0x0409, 1200);
  builder.AddString("040904B0", "ProductName", "velsend");
  const std::vector<uint8_t> good = builder.Build();
  for (size_t at = 0; at < good.size(); ++at) {
    for (uint8_t byte : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x7F}}) {
      std::vector<uint8_t> block = good;
      block[at] = byte;
      std::string value;
      if (QueryVersionValue(block, "\\StringFileInfo\\040904B0\\ProductName", value)) {
        EXPECT_LE(value.size(), block.size());
      }
      QueryVersionValue(block, "\\", value);
    }
  }
}

}  // namespace
