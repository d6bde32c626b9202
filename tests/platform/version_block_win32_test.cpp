#include "platform/version_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "product_config.h"

namespace {

bool Query(const std::vector<uint8_t>& block, const std::string& name, std::string& value) {
  const uint8_t* data = nullptr;
  size_t size = 0;
  if (!platform::QueryVersionValue(block, name, data, size)) return false;
  value.assign(reinterpret_cast<const char*>(data), size);
  return true;
}

// Strings come back from VerQueryValueA with their NUL.
std::string Text(const std::string& value) { return value.substr(0, value.find('\0')); }

TEST(VersionBlockWin32, BuiltBlocksReadBackThroughVerQueryValue) {
  platform::CVersionBlockBuilder builder;
  builder.SetFileVersion(2, 0, 3, 4);
  builder.AddTranslation(0x0409, 1200);
  builder.AddTranslation(0x0407, 1252);
  builder.AddString("040904B0", "ProductName", "Caf\xe9 mailer");  // a code page 1252 byte
  builder.AddString("040904B0", "Empty", "");
  builder.AddValue("\\StringFileInfo\\040904B0\\Raw", std::string("ab\0c", 4));
  const std::vector<uint8_t> block = builder.Build();

  std::string value;
  ASSERT_TRUE(Query(block, "\\", value));
  ASSERT_GE(value.size(), 16u);
  uint32_t words[4];
  std::memcpy(words, value.data(), sizeof words);
  EXPECT_EQ(words[0], 0xFEEF04BDu);
  EXPECT_EQ(words[2], 0x00020000u);
  EXPECT_EQ(words[3], 0x00030004u);

  ASSERT_TRUE(Query(block, "\\VarFileInfo\\Translation", value));
  EXPECT_EQ(value, std::string("\x09\x04\xB0\x04\x07\x04\xE4\x04", 8));

  ASSERT_TRUE(Query(block, "\\StringFileInfo\\040904B0\\ProductName", value));
  EXPECT_EQ(Text(value), "Caf\xe9 mailer");
  ASSERT_TRUE(Query(block, "\\StringFileInfo\\040904B0\\Empty", value));
  EXPECT_EQ(Text(value), "");
  ASSERT_TRUE(Query(block, "\\StringFileInfo\\040904B0\\Raw", value));
  EXPECT_EQ(value, std::string("ab\0c", 4));

  EXPECT_FALSE(Query(block, "\\StringFileInfo\\040904B0\\Missing", value));
  EXPECT_FALSE(Query(block, "\\StringFileInfo\\040704E4\\ProductName", value));
}

TEST(VersionBlockWin32, DamagedBlocksAreNoBlock) {
  platform::CVersionBlockBuilder builder;
  builder.AddTranslation(0x0409, 1200);
  builder.AddString("040904B0", "ProductName", "velsend");
  const std::vector<uint8_t> good = builder.Build();
  std::string value;
  ASSERT_TRUE(Query(good, "\\StringFileInfo\\040904B0\\ProductName", value));

  // The tree claims more bytes than the block holds (or leaves no room for
  // the ANSI copy): nothing is read past the block's end.
  std::vector<uint8_t> cut(good.begin(), good.begin() + good.size() / 3);
  EXPECT_FALSE(Query(cut, "\\StringFileInfo\\040904B0\\ProductName", value));
  std::vector<uint8_t> longer = good;
  longer[0] = 0xFF;
  longer[1] = 0xFF;
  EXPECT_FALSE(Query(longer, "\\", value));
  EXPECT_FALSE(Query({}, "\\", value));
  EXPECT_FALSE(Query({1, 2, 3}, "\\", value));
}

// The program's own resource, linked into every program of this build.
TEST(VersionBlockWin32, OwnResourceCarriesTheProductDefinition) {
  std::vector<uint8_t> block;
  ASSERT_TRUE(platform::LoadOwnVersionBlock(block));
  std::string value;
  ASSERT_TRUE(Query(block, "\\VarFileInfo\\Translation", value));
  ASSERT_EQ(value.size(), 4u);
  char translation[9];
  std::snprintf(translation, sizeof translation, "%02X%02X%02X%02X",
                static_cast<uint8_t>(value[1]), static_cast<uint8_t>(value[0]),
                static_cast<uint8_t>(value[3]), static_cast<uint8_t>(value[2]));
  const std::string base = std::string("\\StringFileInfo\\") + translation + "\\";
  const std::string fileVersion = std::to_string(VELSEND_VERSION_MAJOR) + "." +
                                  std::to_string(VELSEND_VERSION_MINOR) + "." +
                                  std::to_string(VELSEND_VERSION_PATCH) + ".0";
  const struct {
    const char* key;
    std::string value;
  } keys[] = {
      {"ProductName", VELSEND_PRODUCT_NAME},   {"ProductVersion", VELSEND_PRODUCT_VERSION},
      {"LegalCopyright", VELSEND_COPYRIGHT},   {"CompanyName", VELSEND_COMPANY_NAME},
      {"FileDescription", VELSEND_DESCRIPTION}, {"FileVersion", fileVersion},
      {"X_TVSupport", VELSEND_SUPPORT_ADDRESS},
  };
  for (const auto& key : keys) {
    ASSERT_TRUE(Query(block, base + key.key, value)) << key.key;
    EXPECT_EQ(Text(value), key.value) << key.key;
  }
  ASSERT_TRUE(Query(block, "\\", value));
  uint32_t words[4];
  std::memcpy(words, value.data(), sizeof words);
  EXPECT_EQ(words[2], (uint32_t{VELSEND_VERSION_MAJOR} << 16) | VELSEND_VERSION_MINOR);
  EXPECT_EQ(words[3], uint32_t{VELSEND_VERSION_PATCH} << 16);
}

}  // namespace
