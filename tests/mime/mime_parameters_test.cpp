#include <gtest/gtest.h>

#include <string>

#include "mime/header_folding.h"
#include "mime/mime_parameters.h"

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::string Disposition(const std::string& name, const std::string& attribute = "filename",
                        bool encodedWords = false) {
  CHeaderFolder folder("Content-Disposition:");
  folder.Add(" ", "attachment;");
  AddNameParameter(folder, attribute, name, "UTF-8", encodedWords);
  return folder.Text();
}

TEST(MimeParameters, QuotingAndPhrases) {
  EXPECT_EQ(QuoteString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(UnquoteString("\"a\\\"b\""), "a\"b");
  EXPECT_EQ(UnquoteString("\"a\" \"b\""), "\"a\" \"b\"");
  struct Case {
    std::string text;
    bool phrase;
  } cases[] = {
      {"John Smith", true}, {"\"Smith, John\"", true}, {"", true},
      {"Smith, John", false}, {"John Q. Public", true}, {".NET", false}, {"a \"b\" c", false},
      {"a:b", false}, {"\"open", false}, {"\"a\\\"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPhrase(c.text), c.phrase) << c.text;
}

TEST(MimeParameters, FileNameForms) {
  struct Case {
    std::string what, name, attribute;
    bool encodedWords;
    std::string field;
  } cases[] = {
      {"plain", "report.pdf", "filename", false,
       "Content-Disposition: attachment; filename=\"report.pdf\""},
      {"quotes cannot end the value", "x\"; filename=\"invoice.pdf", "filename", false,
       "Content-Disposition: attachment; filename=\"x\\\"; filename=\\\"invoice.pdf\""},
      {"backslash", "a\\b", "filename", false,
       "Content-Disposition: attachment; filename=\"a\\\\b\""},
      {"non-ASCII, RFC 2231", "Gr\xC3\xBC\xC3\x9F" "e.txt", "filename", false,
       "Content-Disposition: attachment; filename*=UTF-8''Gr%C3%BC%C3%9Fe.txt"},
      {"non-ASCII, encoded words", "Gr\xC3\xBC\xC3\x9F" "e.txt", "name", true,
       "Content-Disposition: attachment; name=\"=?UTF-8?B?R3LDvMOfZS50eHQ=?=\""},
      {"blanks and specials are percent-encoded", "a b;\xC3\xA9*'%.txt", "filename", false,
       "Content-Disposition: attachment; filename*=UTF-8''a%20b%3B%C3%A9%2A%27%25.txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Disposition(c.name, c.attribute, c.encodedWords), c.field) << c.what;
  }
}

TEST(MimeParameters, LongNamesUseContinuations) {
  const std::string ascii = Repeat("a", 300);
  EXPECT_EQ(Disposition(ascii),
            "Content-Disposition: attachment;\r\n"
            " filename*0=\"" + Repeat("a", 62) + "\";\r\n"
            " filename*1=\"" + Repeat("a", 62) + "\";\r\n"
            " filename*2=\"" + Repeat("a", 62) + "\";\r\n"
            " filename*3=\"" + Repeat("a", 62) + "\";\r\n"
            " filename*4=\"" + Repeat("a", 52) + "\"");
  // An escape is never split from its character.
  EXPECT_EQ(Disposition(Repeat("a", 61) + "\"" + Repeat("b", 10)),
            "Content-Disposition: attachment;\r\n"
            " filename*0=\"" + Repeat("a", 61) + "\";\r\n"
            " filename*1=\"\\\"" + Repeat("b", 10) + "\"");

  // Percent-encoded pieces hold whole characters; the first names the charset.
  const std::string field = Disposition(Repeat("\xE6\x97\xA5", 30));
  EXPECT_EQ(field,
            "Content-Disposition: attachment;\r\n"
            " filename*0*=UTF-8''" + Repeat("%E6%97%A5", 6) + ";\r\n"
            " filename*1*=" + Repeat("%E6%97%A5", 6) + ";\r\n"
            " filename*2*=" + Repeat("%E6%97%A5", 6) + ";\r\n"
            " filename*3*=" + Repeat("%E6%97%A5", 6) + ";\r\n"
            " filename*4*=" + Repeat("%E6%97%A5", 6));

  // Encoded words in a long quoted name fold between the words.
  const std::string words = Disposition(Repeat("\xC3\xBC", 60), "name", true);
  EXPECT_TRUE(words.starts_with("Content-Disposition: attachment; name=\"=?UTF-8?B?w7zDvMO8"));
  size_t start = 0;
  for (size_t at; (at = words.find("\r\n", start)) != std::string::npos; start = at + 2) {
    EXPECT_LE(at - start, kFoldWidth);
    EXPECT_EQ(words.substr(at, 13), "\r\n =?UTF-8?B?");
  }
  EXPECT_TRUE(words.ends_with("?=\""));
}

}  // namespace
