#include "about/about_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "about/version_block.h"
#include "about/version_info.h"

namespace {

// Every key but those listed in `without`.
CVersionBlockBuilder Builder(const std::vector<std::string>& without = {}) {
  const std::pair<const char*, const char*> values[] = {
      {"ProductName", "mailer"},
      {"ProductVersion", "2.0.3"},
      {"LegalCopyright", "(C) 2026 Example Works"},
      {"CompanyName", "Example Works"},
      {"FileDescription", "Sends mail"},
      {"FileVersion", "2.0.3.4"},
      {"X_TVSupport", "help@example.org"},
  };
  CVersionBlockBuilder builder;
  builder.SetFileVersion(2, 0, 3, 4);
  builder.AddTranslation(0x0409, 1200);
  for (const auto& [key, value] : values) {
    if (std::find(without.begin(), without.end(), key) == without.end()) {
      builder.AddString("040904B0", key, value);
    }
  }
  return builder;
}

AboutContent Read(const CVersionBlockBuilder& builder, bool present = true) {
  const std::vector<uint8_t> block = builder.Build();
  CVersionInfo info([&](std::vector<uint8_t>& out) {
    out = block;
    return present;
  });
  return ReadAboutContent(info, "https://Docs.Example.ORG/Mailer/");
}

TEST(AboutText, FullDisplay) {
  EXPECT_EQ(RenderAboutText(Read(Builder())),
            "About mailer\n"
            "\n"
            "mailer\n"
            "2.0.3\n"
            "(C) 2026 Example Works\n"
            "\n"
            "Support       help@example.org\n"
            "Product Info  https://Docs.Example.ORG/Mailer/\n"
            "\n"
            "Name             Value\n"
            "---------------  ----------------------\n"
            "ProductName      mailer\n"
            "LegalCopyright   (C) 2026 Example Works\n"
            "CompanyName      Example Works\n"
            "ProductVersion   2.0.3\n"
            "FileDescription  Sends mail\n"
            "FileVersion      2.0.3.4\n");
}

TEST(AboutText, MissingKeysStillGiveSixRows) {
  const AboutContent content = Read(Builder({"FileDescription", "LegalCopyright"}));
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"ProductName", "mailer"},    {"LegalCopyright", "N/A"}, {"CompanyName", "Example Works"},
      {"ProductVersion", "2.0.3"},  {"FileDescription", "N/A"}, {"FileVersion", "2.0.3.4"},
  };
  EXPECT_EQ(content.rows, rows);
  EXPECT_EQ(content.copyright, "N/A");
  const std::string text = RenderAboutText(content);
  EXPECT_NE(text.find("\nFileDescription  N/A\n"), std::string::npos) << text;
  // The widest value left is "Example Works": the rule follows it.
  EXPECT_NE(text.find("\n---------------  -------------\n"), std::string::npos) << text;
}

TEST(AboutText, NoBlockShowsNotAvailableEverywhere) {
  const AboutContent content = Read(Builder(), false);
  EXPECT_EQ(content.title, "About N/A");
  EXPECT_EQ(content.binaryVersion, "");
  EXPECT_EQ(RenderAboutText(content),
            "About N/A\n"
            "\n"
            "N/A\n"
            "N/A\n"
            "N/A\n"
            "\n"
            "Support       N/A\n"
            "Product Info  https://Docs.Example.ORG/Mailer/\n"
            "\n"
            "Name             Value\n"
            "---------------  -----\n"
            "ProductName      N/A\n"
            "LegalCopyright   N/A\n"
            "CompanyName      N/A\n"
            "ProductVersion   N/A\n"
            "FileDescription  N/A\n"
            "FileVersion      N/A\n");
}

TEST(AboutText, SupportMailAddress) {
  struct Case {
    const char* name;
    AboutContent content;
    const char* address;
  } cases[] = {
      {"full", Read(Builder()),
       "MAILTO:help@example.org?Subject=RE: mailer 2.0.3.[BinVer 0002000000030004]"},
      {"no support key", Read(Builder({"X_TVSupport"})),
       "MAILTO:N/A?Subject=RE: mailer 2.0.3.[BinVer 0002000000030004]"},
      {"no block", Read(Builder(), false), "MAILTO:N/A?Subject=RE: N/A N/A.[BinVer ]"},
  };
  for (const auto& c : cases) EXPECT_EQ(SupportMailAddress(c.content), c.address) << c.name;

  // Nothing is encoded: spaces and reserved characters pass as they are.
  AboutContent raw;
  raw.supportAddress = "a b&c@x";
  raw.productName = "P?Q";
  raw.productVersion = "1 %20";
  raw.binaryVersion = "00";
  EXPECT_EQ(SupportMailAddress(raw), "MAILTO:a b&c@x?Subject=RE: P?Q 1 %20.[BinVer 00]");
}

TEST(AboutText, ProductInfoAddressInLowerCase) {
  const std::pair<std::string, std::string> cases[] = {
      {"https://www.Tarnvale.com/VelSend/", "https://www.tarnvale.com/velsend/"},
      {"HTTP://X.ORG/A_Z?Q=1", "http://x.org/a_z?q=1"},
      // Bytes of multi-byte characters are not touched.
      {"http://x/\xC3\x84\xC3\xA4Z", "http://x/\xC3\x84\xC3\xA4z"},
  };
  for (const auto& [stored, opened] : cases) {
    AboutContent content;
    content.docAddress = stored;
    EXPECT_EQ(ProductInfoAddress(content), opened);
  }
}

}  // namespace
