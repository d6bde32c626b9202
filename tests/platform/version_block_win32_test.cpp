#include "platform/version_block.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "about/version_block.h"
#include "product_config.h"

namespace {

// The system's own reading of a block, for comparison with ours.
bool SystemQuery(std::vector<uint8_t> block, const std::string& name, std::string& value) {
  block.resize(block.size() * 3 + 4, 0);  // room for the system's ANSI copies
  void* found = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(block.data(), name.c_str(), &found, &size) || !found) return false;
  value.assign(static_cast<const char*>(found), size);
  return true;
}

// Blocks written here read back through the system's look-up as through ours.
TEST(VersionBlockWin32, BuiltBlocksReadBackThroughVerQueryValue) {
  CVersionBlockBuilder builder;
  builder.SetFileVersion(2, 0, 3, 4);
  builder.AddTranslation(0x0409, 1200);
  builder.AddString("040904B0", "ProductName", "velsend mailer");
  builder.AddValue("\\StringFileInfo\\040904B0\\Raw", std::string("ab\0c", 4));
  const std::vector<uint8_t> block = builder.Build();
  for (const char* name : {"\\", "\\VarFileInfo\\Translation",
                           "\\StringFileInfo\\040904B0\\Raw"}) {
    std::string ours;
    std::string system;
    ASSERT_TRUE(QueryVersionValue(block, name, ours)) << name;
    ASSERT_TRUE(SystemQuery(block, name, system)) << name;
    EXPECT_EQ(system, ours) << name;
  }
  std::string system;
  ASSERT_TRUE(SystemQuery(block, "\\StringFileInfo\\040904B0\\ProductName", system));
  EXPECT_EQ(system.substr(0, system.find('\0')), "velsend mailer");
  EXPECT_FALSE(SystemQuery(block, "\\StringFileInfo\\040904B0\\Missing", system));
}

// The program's own resource, linked into every program of this build, read
// through the one reader.
TEST(VersionBlockWin32, OwnResourceCarriesTheProductDefinition) {
  ASSERT_TRUE(platform::ProgramFilesCarryVersionResources());
  std::vector<uint8_t> block;
  ASSERT_TRUE(platform::LoadOwnVersionResource(block));
  std::string value;
  ASSERT_TRUE(QueryVersionValue(block, "\\VarFileInfo\\Translation", value));
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
    ASSERT_TRUE(QueryVersionValue(block, base + key.key, value)) << key.key;
    EXPECT_EQ(value.substr(0, value.find('\0')), key.value) << key.key;
  }
}

}  // namespace
