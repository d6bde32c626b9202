#include "base/printable_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The one sanitizer of a peer's text, under each caller's rule.
TEST(PrintableText, EachRule) {
  struct Case {
    std::string text;
    const char* escaped;  // kEscapedText: the trace, certificate names
    const char* reply;    // kReplyText: a reply in an error line
    const char* keyword;  // kKeywordText: AUTH mechanism names
  } cases[] = {
      {"plain text", "plain text", "plain text", "plain text"},
      {"a\tb", "a\tb", "a?b", "a?b"},
      {"\x1b[2J", "\\x1B[2J", "?[2J", "?[2J"},
      {"cr\rlf\n", "cr\\x0Dlf\\x0A", "cr?lf?", "cr?lf?"},
      {std::string("nul\0", 4), "nul\\x00", "nul?", "nul?"},
      {"del\x7f", "del\\x7F", "del?", "del?"},
      {"caf\xc3\xa9", "caf\xc3\xa9", "caf\xc3\xa9", "caf??"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.escaped);
    std::string escaped = "<";
    AppendPrintable(escaped, c.text);
    EXPECT_EQ(escaped, std::string("<") + c.escaped);  // appends, and is the default
    std::string reply;
    AppendPrintable(reply, c.text, kReplyText);
    EXPECT_EQ(reply, c.reply);
    std::string keyword;
    AppendPrintable(keyword, c.text, kKeywordText);
    EXPECT_EQ(keyword, c.keyword);
  }
}

}  // namespace
