#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/header_fields.h"
#include "mime/header_folding.h"

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
    lines.push_back(text.substr(start, at - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

std::string Unfold(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 2);
  return text;
}

// Plain ASCII that fits in 78 characters is written exactly as it was.
TEST(HeaderFields, ShortAsciiValuesKeepTheirBytes) {
  const std::string x69 = Repeat("x", 69);
  for (const std::string& value : {std::string("Report"), std::string("  two  blanks  "),
                                   std::string("=?x?q?y?= a:b, \"c\""), "a " + x69.substr(2)}) {
    EXPECT_EQ(FormatTextField("Subject: ", value, "UTF-8"), "Subject: " + value);
  }
  struct Case {
    std::string lead, name, tail;
  } cases[] = {
      {"From: ", "Ann ", " <ann>"},       {"From: ", "", " <ann>"},
      {"To: ", "", " <bob>,"},            {"    ", "Carl ", " <carl>"},
      {"From: ", "John Smith ", " <js>"}, {"Reply-To: ", "\"Smith, John\" ", "<js>"},
      {"Cc: ", "a!#$%&'*+-/=?^_`{|}~z", " <d>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatAddressLine(c.lead, c.name, c.tail, "UTF-8"), c.lead + c.name + c.tail);
  }
  EXPECT_EQ(FormatAddressField("Reply-To: ", "Bob <b@x>", ""), "Reply-To: Bob <b@x>");
  EXPECT_EQ(FormatAddressField("Reply-To: ", "r@x", ""), "Reply-To: r@x");
}

TEST(HeaderFields, NamesThatNeedItAreQuotedOrEncoded) {
  struct Case {
    std::string name, line;
  } cases[] = {
      {"Smith, John ", "From: \"Smith, John\"  <j>"},
      {"John Q. Public", "From: John Q. Public <j>"},  // as always sent
      {".NET team", "From: \".NET team\" <j>"},
      {"Anna \"Nan\" Li", "From: \"Anna \\\"Nan\\\" Li\" <j>"},
      {"back\\slash: x", "From: \"back\\\\slash: x\" <j>"},
      {"J\xC3\xBCrgen M\xC3\xBCller ", "From: =?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?=  <j>"},
      // A quoted name is encoded by its content.
      {"\"M\xC3\xBCller, J\"", "From: =?UTF-8?Q?M=C3=BCller=2C_J?= <j>"},
      {"Ann\x1B]0;x\x07", "From: =?UTF-8?B?QW5uG10wO3gH?= <j>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatAddressLine("From: ", c.name, " <j>", "UTF-8"), c.line) << c.name;
  }
  EXPECT_EQ(FormatAddressField("Reply-To: ", "J\xC3\xBCrgen <j@x>", "UTF-8"),
            "Reply-To: =?UTF-8?Q?J=C3=BCrgen?= <j@x>");
}

TEST(HeaderFields, NonAsciiTextIsEncodedBetweenLiteralWords) {
  struct Case {
    std::string value, line;
  } cases[] = {
      {"Bericht f\xC3\xBCr M\xC3\xA4rz", "Subject: Bericht =?UTF-8?B?ZsO8ciBNw6Ryeg==?="},
      {"f\xC3\xBCr Bob", "Subject: =?UTF-8?Q?f=C3=BCr?= Bob"},
      // Blanks beyond the one that separates are encoded, at either end too.
      {"a  \xC3\xBC ", "Subject: a =?UTF-8?Q?_=C3=BC_?="},
      {" \xC3\xBC", "Subject: =?UTF-8?B?IMO8?="},
      // Literal text that reads as an encoded word joins the encoded words.
      {"=?a?q?b?= \xC3\xBC", "Subject: =?UTF-8?B?PT9hP3E/Yj89IMO8?="},
      {"caf\xE9", "Subject: =?iso-8859-1?Q?caf=E9?="},
      // Control bytes, and the escapes of 7-bit ISO-2022-JP, never go raw.
      {"bell\x07 and\x1B[31mred", "Subject: =?UTF-8?Q?bell=07_and=1B=5B31mred?="},
      {"del\x7F", "Subject: =?UTF-8?Q?del=7F?="},
      {"tab\tkept", "Subject: tab\tkept"},
      {"\x1B$B$3$s\x1B(B", "Subject: =?ISO-2022-JP?B?GyRCJDMkcxsoQg==?="},
  };
  for (const Case& c : cases) {
    const std::string charset = c.value == "caf\xE9" ? "iso-8859-1"
                                : c.value.starts_with("\x1B$") ? ""
                                                               : "UTF-8";
    EXPECT_EQ(FormatTextField("Subject: ", c.value, charset), c.line) << c.value;
  }
}

// Long values fold at blanks within 78 characters, never over 998, and
// unfold to the line they came from.
TEST(HeaderFields, LongValuesFoldWithinTheLimits) {
  struct Case {
    std::string what, value;
    bool encoded;
  } cases[] = {
      {"ascii words", Repeat("Quarterly report ", 20), false},
      {"blank runs", Repeat("word     ", 30), false},
      {"umlauts", Repeat("Gr\xC3\xBC\xC3\x9F" "e ", 60), true},
      {"one long word", Repeat("x", 1500), true},
      {"a word of 990", "a " + Repeat("y", 990), true},
      {"japanese", Repeat("\xE6\x97\xA5\xE6\x9C\xAC", 200), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string field = FormatTextField("Subject: ", c.value, "UTF-8");
    std::vector<std::string> lines = Lines(field);
    EXPECT_GT(lines.size(), 1u);
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_LE(lines[i].size(), kFoldWidth) << lines[i];
      if (i > 0) {
        EXPECT_TRUE(lines[i][0] == ' ' && lines[i].find_first_not_of(' ') != std::string::npos);
      }
    }
    if (!c.encoded) {
      EXPECT_EQ(Unfold(field), "Subject: " + c.value);
    }
    EXPECT_EQ(field.find("=?") != std::string::npos, c.encoded);
  }
  // A long ASCII word fits on no line of 78 but needs no encoding under 998.
  const std::string word = Repeat("z", 200);
  EXPECT_EQ(FormatTextField("Subject: ", "a " + word, ""), "Subject: a\r\n " + word);
}

TEST(HeaderFields, LongNamesAndAddressesFold) {
  const std::string name = Repeat("M\xC3\xBCller ", 20);
  std::vector<std::string> lines =
      Lines(FormatAddressLine("To: ", name, " <m@example.org>,", "UTF-8"));
  ASSERT_GT(lines.size(), 2u);
  for (const std::string& line : lines) EXPECT_LE(line.size(), kFoldWidth) << line;
  EXPECT_TRUE(lines.back().ends_with("?=  <m@example.org>,"));

  lines = Lines(FormatAddressLine("    ", Repeat("Long Name ", 12), " <n@x>", "UTF-8"));
  EXPECT_EQ(lines[0].substr(0, 14), "    Long Name ");
  for (const std::string& line : lines) EXPECT_LE(line.size(), kFoldWidth) << line;
}

TEST(HeaderFolder, BreaksOnlyBeforeBlanksAfterAWord) {
  CHeaderFolder folder("Subject:");
  folder.Add(" ", Repeat("a", 75));  // the field name alone is no place to break
  folder.Add(" ", "b");
  folder.Add("", ";");
  folder.Add("   ", "");
  EXPECT_EQ(folder.Text(), "Subject: " + Repeat("a", 75) + "\r\n b;   ");
}

}  // namespace
