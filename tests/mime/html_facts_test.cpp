#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/html_facts.h"

namespace {

TEST(HtmlFacts, MetaCharset) {
  struct Case {
    std::string head, charset;
  } cases[] = {
      {"<html><head><meta charset=\"UTF-8\"></head>", "UTF-8"},
      {"<META CHARSET=iso-8859-2>", "iso-8859-2"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">",
       "windows-1251"},
      {"<meta name=x content=\"charset=koi8-r\"><meta charset='big5'>", "big5"},
      {"<meta name=viewport content=width=device-width>", ""},
      {"<p>no meta</p>", ""},
      // A name that could break the header line is not taken.
      {"<meta charset=\"utf-8;\r\nX: y\">", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(MetaCharset(c.head), c.charset) << c.head;
}

TEST(HtmlFacts, CidReferencesInAnyPieces) {
  const std::string html =
      "<img src=\"cid:chart.png\"><img src='CID:logo%20small.gif'>"
      "<div style=\"background:url(cid:bg.jpg)\"></div><img src=cid:chart.png>"
      "<p>cid: alone, and cid:end";
  const std::vector<std::string> expected = {"chart.png", "logo small.gif", "bg.jpg", "end"};
  for (size_t piece = 1; piece <= html.size(); piece += 5) {
    CCidScanner scanner;
    for (size_t i = 0; i < html.size(); i += piece) scanner.Feed(html.substr(i, piece));
    scanner.Feed(" ");
    EXPECT_EQ(scanner.References(), expected) << piece;
  }
}

}  // namespace
