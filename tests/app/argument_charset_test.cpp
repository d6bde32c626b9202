#include "app/argument_charset.h"

#include <gtest/gtest.h>

#include "mime/charset_table.h"

namespace {

// A stand-in for the system's converter: Latin-1 (28591) holds U+0000..U+00FF;
// the "ANSI" 1252 also holds the en dash (0x96); UTF-8 holds everything.
bool Latin1(std::string_view text, unsigned codePage, std::string& out) {
  out.clear();
  if (codePage == 65001) {
    out.assign(text);
    return true;
  }
  if (codePage != 28591 && codePage != 1252) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (codePage == 1252 && text.substr(i, 3) == "\xE2\x80\x93") {
      out.push_back('\x96');
      i += 2;
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
      out.push_back(static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3F)));
    } else {
      return false;
    }
  }
  return true;
}

TEST(ArgumentCharset, ChoosesTheLabelTheBytesWillHave) {
  const std::string german = "Gr\xC3\xBC\xC3\x9F" "e";   // fits Latin-1
  const std::string greek = "\xCE\xB1\xCE\xB2";           // does not
  struct Case {
    const char* name;
    std::vector<std::string> texts;
    std::string requested;
    bool ok;
    std::string charset;
    unsigned codePage;
  } cases[] = {
      {"ASCII keeps the default", {"Report", "ann@example.org"}, "", true, "", 1252},
      {"fits the ANSI code page", {german}, "", true, "", 1252},
      {"outside it becomes UTF-8", {german, greek}, "", true, "UTF-8", 65001},
      {"fits it but not its label", {"a \xE2\x80\x93 b"}, "", true, "UTF-8", 65001},
      {"-l that holds it", {german}, "iso-8859-1", true, "iso-8859-1", 28591},
      {"-l that cannot hold it", {"ok", greek}, "iso-8859-1", false, "iso-8859-1", 28591},
      {"-l UTF-8 holds all", {greek}, "utf-8", true, "utf-8", 65001},
      {"-l unknown with ASCII only", {"plain"}, "x-unknown", true, "x-unknown", 0},
      {"-l unknown with 8-bit text", {german}, "x-unknown", false, "x-unknown", 0},
  };
  for (const Case& c : cases) {
    const SArgumentCharset choice =
        ChooseArgumentCharset(c.texts, c.requested, 1252, 28591, Latin1);
    EXPECT_EQ(choice.ok, c.ok) << c.name;
    EXPECT_EQ(choice.charset, c.charset) << c.name;
    EXPECT_EQ(choice.codePage, c.codePage) << c.name;
    if (!c.ok) {
      EXPECT_FALSE(choice.refused.empty()) << c.name;
    }
  }
}

TEST(CodePageForCharset, RegisteredNamesBeforeTheTable) {
  EXPECT_EQ(CodePageForCharset("ISO-8859-1"), 28591u);  // the table says 1252
  EXPECT_EQ(CodePageForCharset("utf-8"), 65001u);
  EXPECT_EQ(CodePageForCharset("WINDOWS-1252"), 1252u);
  EXPECT_EQ(CodePageForCharset("shift_jis"), 932u);
  EXPECT_EQ(CodePageForCharset("iso-2022-jp"), 50220u);
  EXPECT_EQ(CodePageForCharset("dos-862"), 862u);         // only in the table
  EXPECT_EQ(CodePageForCharset("x-unknown"), 0u);
}

}  // namespace
