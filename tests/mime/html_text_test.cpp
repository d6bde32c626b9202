#include <gtest/gtest.h>

#include <string>

#include "mime/html_text.h"
#include "support/memory_source.h"

namespace {

std::string Repeat(const std::string& text, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += text;
  return out;
}

TEST(HtmlText, ConvertsTheMarkupPeopleSend) {
  struct Case {
    const char* name;
    std::string html, charset, text;
  } cases[] = {
      {"plain words, blanks collapsed", "  Hello \r\n  world\t! ", "utf-8", "Hello world !\n"},
      {"empty document", "<html><body></body></html>", "utf-8", ""},
      {"paragraphs and headings", "<h1>Title</h1><p>One</p><p>Two</p>", "utf-8",
       "Title\n\nOne\n\nTwo\n"},
      {"div and br", "<div>a</div><div>b<br>c<br/><br />d</div>", "utf-8", "a\nb\nc\n\nd\n"},
      {"unordered list", "<p>Items:</p><ul><li>one</li><li>two</li></ul>after", "utf-8",
       "Items:\n\n* one\n* two\n\nafter\n"},
      {"ordered and nested lists", "<ol><li>a<ul><li>b</li></ul></li><li>c</li></ol>", "utf-8",
       "1. a\n  * b\n2. c\n"},
      {"lists nested past any reading", Repeat("<ul>", 200) + "<li>x</ul><li>y", "utf-8",
       std::string(18, ' ') + "* x\n" + std::string(18, ' ') + "* y\n"},
      {"table cells and rows", "<table><tr><td>x</td><td>1</td></tr><tr><td>y</td><td>2</td>"
                               "</tr></table>", "utf-8", "x 1\ny 2\n"},
      {"link with its address", "See <a href=\"https://ex.org/a?b=1&amp;c=2\">the report</a>.",
       "utf-8", "See the report [https://ex.org/a?b=1&c=2].\n"},
      {"link showing its address once", "<a href='https://ex.org'>https://ex.org</a>", "utf-8",
       "https://ex.org\n"},
      {"mail link and page anchor", "<a href=mailto:a@ex.org>a@ex.org</a> <a href=\"#top\">top</a>",
       "utf-8", "a@ex.org top\n"},
      {"named entities", "a &lt;b&gt; &amp; &quot;c&quot; &apos;d&apos;&nbsp;e", "us-ascii",
       "a <b> & \"c\" 'd' e\n"},
      {"decimal and hexadecimal", "&#65;&#x42;&#X43; &#233; &#x20AC; &#x1F600;", "utf-8",
       "ABC \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\n"},
      {"Latin-1 holds what it can", "caf&eacute; &#233; &euro; &#x1F600;", "iso-8859-1",
       "caf\xE9 \xE9 &euro; &#x1F600;\n"},
      {"ASCII keeps other entities as written", "caf&eacute;", "us-ascii", "caf&eacute;\n"},
      {"unknown, unfinished and invalid entities", "&bogus; a & b &amp &#xD800; &#;", "utf-8",
       "&bogus; a & b &amp &#xD800; &#;\n"},
      {"script, style and title dropped",
       "<head><title>T</title><style>p{}</style></head><script>if (a<b && c>d) x();</script>"
       "<SCRIPT type=x>y</SCRIPT >ok", "utf-8", "ok\n"},
      {"comments and declarations", "<!DOCTYPE html><!-- a -- <p>b</p> -->c<?xml x?>d",
       "utf-8", "cd\n"},
      {"nested inline tags", "<p><b>bold <i>and</i></b> <span>plain</span></p>", "utf-8",
       "bold and plain\n"},
      {"pre keeps its lines", "<pre>a  b\n  c\n</pre>d", "utf-8", "a  b\n  c\n\nd\n"},
      {"a < that opens no tag", "1 < 2 and 3 <4", "utf-8", "1 < 2 and 3 <4\n"},
      {"unclosed tags and stray closers", "<p>one<b>two</i></p></div>three", "utf-8",
       "onetwo\n\nthree\n"},
      {"tag cut off at the end", "text <a href=\"x", "utf-8", "text\n"},
      {"quoted > inside an attribute", "<img alt=\"a>b\">c", "utf-8", "c\n"},
      {"non-ASCII text passes through", "<p>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82</p>",
       "utf-8", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HtmlToText(c.html, c.charset), c.text) << c.name;
  }
}

// The converter streams: any cut of the input gives the same text.
TEST(HtmlText, PiecesGiveTheTextOfTheWhole) {
  const std::string html =
      "<p>A &amp; B<br><a href=\"https://ex.org\">link</a></p><script>x</script><!-- c -->"
      "<ul><li>&#x42;</li></ul>";
  const std::string whole = HtmlToText(html, "utf-8");
  for (size_t piece = 1; piece <= 7; ++piece) {
    CHtmlToText converter("utf-8");
    std::string out;
    for (size_t i = 0; i < html.size(); i += piece) converter.Feed(html.substr(i, piece), out);
    converter.Finish(out);
    EXPECT_EQ(out, whole) << piece;
  }
}

TEST(HtmlText, SourceReadsTheTextAndRewinds) {
  std::string html;
  for (int i = 0; i < 20000; ++i) html += "<p>line " + std::to_string(i) + "</p>";
  CMemorySource file(html);
  CHtmlTextSource source(file, "utf-8");
  std::string first;
  for (int c; (c = source.ReadByte()) >= 0;) first += static_cast<char>(c);
  EXPECT_EQ(first, HtmlToText(html, "utf-8"));
  ASSERT_TRUE(source.Rewind());
  std::string second;
  for (int c; (c = source.ReadByte()) >= 0;) second += static_cast<char>(c);
  EXPECT_EQ(second, first);
  EXPECT_FALSE(source.Failed());
}

TEST(HtmlText, ReadErrorOfTheHtmlIsOneOfTheText) {
  CMemorySource file("<p>" + std::string(200000, 'a') + "</p>");
  file.FailAfter(100000);
  CHtmlTextSource source(file, "utf-8");
  while (source.ReadByte() >= 0) {
  }
  EXPECT_TRUE(source.Failed());
}

TEST(HtmlText, FindsAttributes) {
  struct Case {
    std::string tag, name;
    bool found;
    std::string value;
  } cases[] = {
      {"a href=\"x y\"", "href", true, "x y"},
      {"a HREF='x' title=t", "title", true, "t"},
      {"meta charset=utf-8 /", "charset", true, "utf-8"},
      {"input disabled value=1", "disabled", true, ""},
      {"a title=\"href=no\"", "href", false, ""},
      {"a href=\"unclosed", "href", true, "unclosed"},
  };
  for (const Case& c : cases) {
    std::string value;
    EXPECT_EQ(FindHtmlAttribute(c.tag, c.name, value), c.found) << c.tag;
    EXPECT_EQ(value, c.value) << c.tag;
  }
}

}  // namespace
