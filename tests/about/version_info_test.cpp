#include "about/version_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "about/version_block.h"
#include "product_config.h"

namespace {

const char* const kKeys[] = {"ProductName",     "ProductVersion", "LegalCopyright", "CompanyName",
                             "FileDescription", "FileVersion",    "X_TVSupport"};

// A block with every key, the value of each being "<key> value".
CVersionBlockBuilder FullBuilder() {
  CVersionBlockBuilder builder;
  builder.SetFileVersion(2, 0, 3, 4);
  builder.AddTranslation(0x0409, 1200);
  for (const char* key : kKeys) builder.AddString("040904B0", key, std::string(key) + " value");
  return builder;
}

CVersionInfo FromBlock(std::vector<uint8_t> block) {
  return CVersionInfo([block](std::vector<uint8_t>& out) {
    out = block;
    return true;
  });
}

TEST(VersionInfo, EveryKeyOfAFullBlock) {
  CVersionInfo info = FromBlock(FullBuilder().Build());
  for (const char* key : kKeys) {
    std::string value;
    EXPECT_TRUE(info.QueryString(key, value)) << key;
    EXPECT_EQ(value, std::string(key) + " value");
  }
  std::string value;
  EXPECT_FALSE(info.QueryString("Comments", value));
  EXPECT_EQ(value, "N/A");
  EXPECT_EQ(info.GetTranslation(), "040904B0");
}

TEST(VersionInfo, BinaryVersionIsTwoWordsInLowercaseHex) {
  struct Case {
    uint16_t a, b, c, d;
    const char* text;
  } cases[] = {
      {2, 0, 3, 4, "0002000000030004"},
      {0xFFFF, 0xABCD, 0, 1, "ffffabcd00000001"},
      {0, 0, 0, 0, "0000000000000000"},
  };
  for (const auto& c : cases) {
    CVersionBlockBuilder builder;
    builder.SetFileVersion(c.a, c.b, c.c, c.d);
    EXPECT_EQ(FromBlock(builder.Build()).GetBinaryVersion(), c.text);
  }
}

TEST(VersionInfo, TranslationTextFromTheFirstEntry) {
  struct Case {
    std::vector<std::pair<uint16_t, uint16_t>> entries;
    const char* text;
  } cases[] = {
      {{{0x0409, 1200}}, "040904B0"},
      {{{0x0407, 1252}, {0x0409, 1200}}, "040704E4"},
      {{{0xABCD, 0x00EF}}, "ABCD00EF"},
  };
  for (const auto& c : cases) {
    CVersionBlockBuilder builder;
    for (const auto& [language, codePage] : c.entries) builder.AddTranslation(language, codePage);
    builder.AddString(c.text, "ProductName", "found");
    CVersionInfo info = FromBlock(builder.Build());
    EXPECT_EQ(info.GetTranslation(), c.text);
    std::string value;
    EXPECT_TRUE(info.QueryString("ProductName", value)) << c.text;
    EXPECT_EQ(value, "found");
  }
}

TEST(VersionInfo, MissingPiecesGiveNotAvailable) {
  struct Case {
    const char* name;
    CVersionBlockBuilder builder;
    bool stringsFound;
    const char* binaryVersion;
  };
  Case noTranslation{"no translation", {}, false, "0002000000030004"};
  noTranslation.builder.SetFileVersion(2, 0, 3, 4);
  for (const char* key : kKeys) noTranslation.builder.AddString("040904B0", key, "x");

  Case emptyTable{"empty translation table", noTranslation.builder, false, "0002000000030004"};
  emptyTable.builder.AddValue("\\VarFileInfo\\Translation", "");
  Case shortTable{"translation table shorter than an entry", noTranslation.builder, false,
                  "0002000000030004"};
  shortTable.builder.AddValue("\\VarFileInfo\\Translation", std::string("\x09\x04", 2));

  Case otherLanguage{"strings under another translation", noTranslation.builder, false,
                     "0002000000030004"};
  otherLanguage.builder.AddTranslation(0x0407, 1200);

  Case noRoot{"no fixed file information", {}, true, ""};
  noRoot.builder.AddTranslation(0x0409, 1200);
  for (const char* key : kKeys) noRoot.builder.AddString("040904B0", key, "x");
  Case shortRoot{"fixed file information cut short", noRoot.builder, true, ""};
  shortRoot.builder.AddValue("\\", std::string(12, '\x01'));

  for (const Case& c : {noTranslation, emptyTable, shortTable, otherLanguage, noRoot, shortRoot}) {
    CVersionInfo info = FromBlock(c.builder.Build());
    for (const char* key : kKeys) {
      std::string value;
      EXPECT_EQ(info.QueryString(key, value), c.stringsFound) << c.name << ": " << key;
      EXPECT_EQ(value, c.stringsFound ? "x" : "N/A") << c.name << ": " << key;
    }
    EXPECT_EQ(info.GetBinaryVersion(), c.binaryVersion) << c.name;
  }
}

TEST(VersionInfo, NoBlockIsRetriedAtTheNextQuery) {
  int calls = 0;
  const std::vector<uint8_t> full = FullBuilder().Build();
  CVersionInfo info([&](std::vector<uint8_t>& out) {
    if (++calls < 3) return false;
    out = full;
    return true;
  });
  std::string value = "stale";
  EXPECT_FALSE(info.QueryString("ProductName", value));
  EXPECT_EQ(value, "N/A");
  EXPECT_EQ(info.GetBinaryVersion(), "");
  EXPECT_EQ(calls, 2);

  EXPECT_TRUE(info.QueryString("ProductName", value));
  EXPECT_EQ(value, "ProductName value");
  EXPECT_EQ(info.GetBinaryVersion(), "0002000000030004");
  EXPECT_TRUE(info.QueryString("CompanyName", value));
  EXPECT_EQ(calls, 3);  // loaded once, then kept
}

TEST(VersionInfo, LoaderGivingAnEmptyBlockCountsAsNone) {
  CVersionInfo info([](std::vector<uint8_t>& out) {
    out.clear();
    return true;
  });
  std::string value;
  EXPECT_FALSE(info.QueryString("ProductName", value));
  EXPECT_EQ(value, "N/A");
  EXPECT_EQ(info.GetBinaryVersion(), "");
}

// Every prefix of a valid block, as a damaged file would give: a value is
// either read whole or reported missing, never read past the block.
TEST(VersionInfo, TruncatedBlocksNeverGiveWrongValues) {
  const std::vector<uint8_t> full = FullBuilder().Build();
  for (size_t length = 0; length < full.size(); ++length) {
    CVersionInfo info = FromBlock(std::vector<uint8_t>(full.begin(), full.begin() + length));
    for (const char* key : kKeys) {
      std::string value;
      if (info.QueryString(key, value)) {
        EXPECT_EQ(value, std::string(key) + " value") << "length " << length;
      } else {
        EXPECT_EQ(value, "N/A") << "length " << length;
      }
    }
    const std::string& binary = info.GetBinaryVersion();
    EXPECT_TRUE(binary.empty() || binary == "0002000000030004") << "length " << length;
  }
}

TEST(VersionInfo, StringEndsAtItsNulOrAtTheEndOfTheValue) {
  CVersionBlockBuilder builder;
  builder.AddTranslation(0x0409, 1200);
  builder.AddValue("\\StringFileInfo\\040904B0\\ProductName", std::string("name\0junk", 9));
  builder.AddValue("\\StringFileInfo\\040904B0\\CompanyName", "unterminated");
  CVersionInfo info = FromBlock(builder.Build());
  std::string value;
  EXPECT_TRUE(info.QueryString("ProductName", value));
  EXPECT_EQ(value, "name");
  EXPECT_TRUE(info.QueryString("CompanyName", value));
  EXPECT_EQ(value, "unterminated");
}

// The program's own block carries the product definition of the build.
TEST(VersionInfo, OwnBlockHoldsTheProductDefinition) {
  CVersionInfo info;
  const std::string fileVersion = std::to_string(VELSEND_VERSION_MAJOR) + "." +
                                  std::to_string(VELSEND_VERSION_MINOR) + "." +
                                  std::to_string(VELSEND_VERSION_PATCH) + ".0";
  const std::pair<const char*, std::string> expected[] = {
      {"ProductName", VELSEND_PRODUCT_NAME},   {"ProductVersion", VELSEND_PRODUCT_VERSION},
      {"LegalCopyright", VELSEND_COPYRIGHT},   {"CompanyName", VELSEND_COMPANY_NAME},
      {"FileDescription", VELSEND_DESCRIPTION}, {"FileVersion", fileVersion},
      {"X_TVSupport", VELSEND_SUPPORT_ADDRESS},
  };
  for (const auto& [key, text] : expected) {
    std::string value;
    EXPECT_TRUE(info.QueryString(key, value)) << key;
    EXPECT_EQ(value, text);
  }
  char binary[17];
  std::snprintf(binary, sizeof binary, "%04x%04x%04x0000", VELSEND_VERSION_MAJOR,
                VELSEND_VERSION_MINOR, VELSEND_VERSION_PATCH);
  EXPECT_EQ(info.GetBinaryVersion(), binary);
}

}  // namespace
