#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "mime/html_text.h"
#include "mime/message_part.h"
#include "mime/part_plan.h"
#include "support/line_collector.h"
#include "support/memory_source.h"

namespace {

namespace fs = std::filesystem;

class ScratchFile {
 public:
  ScratchFile() {
    std::random_device random;
    m_path = (fs::temp_directory_path() / ("velsend-composed-" + std::to_string(random())))
                 .string();
  }
  ~ScratchFile() {
    std::error_code ignored;
    fs::remove(m_path, ignored);
  }
  const std::string& Write(const std::string& bytes) const {
    std::ofstream(m_path, std::ios::binary) << bytes;
    return m_path;
  }

 private:
  std::string m_path;
};

// The lines the typed text rule (quoted-printable, never giving up) makes
// of text.
std::string QuotedPrintable(const std::string& text) {
  CMessagePart part;
  CMemorySource source(text);
  part.EncodeQuotedPrintable(source, false);
  return std::string(part.m_lines.Bytes());
}

CMessagePart TextPart(const std::string& path) {
  CMessagePart part;
  part.m_contentType = "text/plain";
  part.m_charset = "utf-8";
  part.m_fileName = path;
  return part;
}

// The text made from an HTML file, and a text file, are planned and sent as
// the typed text would be, whatever their escapes (a file part would give up
// on quoted-printable and go base64), and read again when sent.
TEST(ComposedPlan, TextPartsAreQuotedPrintableLikeTheTypedText) {
  std::string html = "<p>caf\xC3\xA9 &amp; cr\xC3\xA8me</p>";
  for (int i = 0; i < 3000; ++i) html += "<li>\xC3\xA9\xC3\xA9\xC3\xA9 = " + std::to_string(i);
  for (EPartSource source : {EPartSource::kHtmlText, EPartSource::kFile}) {
    ScratchFile file;
    CMessagePart part = TextPart(file.Write(html));
    std::string failure;
    ASSERT_TRUE(PlanTextPart(part, source, failure)) << failure;
    EXPECT_EQ(part.m_encoding, "quoted-printable");
    const std::string text = source == EPartSource::kHtmlText ? HtmlToText(html, "utf-8") : html;
    const std::string expected = QuotedPrintable(text);
    EXPECT_EQ(SentLines(part), expected);
    size_t lines = 0;
    for (char c : expected) lines += c == '\n';
    EXPECT_EQ(part.LineCount(), lines + (expected.back() == '\n' ? 0 : 1));
  }
}

// The HTML read again must be the HTML planned: a changed page is refused,
// even where the text made from it would be the same.
TEST(ComposedPlan, ChangedHtmlIsRefused) {
  ScratchFile file;
  CMessagePart part = TextPart(file.Write("<p>one</p><!-- a -->"));
  std::string failure;
  ASSERT_TRUE(PlanTextPart(part, EPartSource::kHtmlText, failure));
  // Where the system keeps writers out, as if one had had the file open.
  part.m_plan->writeGuard.reset();
  file.Write("<p>one</p><!-- b -->");
  CLineCollector collector;
  EXPECT_FALSE(StreamPlannedPart(part, collector));
}

TEST(ComposedPlan, MissingFileSaysWhy) {
  CMessagePart part = TextPart("/nonexistent/velsend/page.html");
  std::string failure;
  EXPECT_FALSE(PlanTextPart(part, EPartSource::kHtmlText, failure));
  EXPECT_FALSE(failure.empty());
}

}  // namespace
