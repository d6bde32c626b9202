#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include "platform/file.h"

namespace {

TEST(TextInCodePage, NeverAQuestionMark) {
  struct Case {
    const char* text;
    unsigned codePage;
    bool ok;
    const char* bytes;
  } cases[] = {
      {"Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", 1252, true, "Gr\xFC\xDF" "e \x80"},
      {"\xE2\x82\xAC", 28591, false, ""},                        // no euro in Latin-1
      {"\xCE\xB1\xCE\xB2", 1252, false, ""},                      // Greek
      {"\xCE\xB1\xCE\xB2", 28597, true, "\xE1\xE2"},
      {"\xE4\xBC\x9A\xE8\xAD\xB0", 932, true, "\x89\xEF\x8B\x63"},  // 会議
      {"\xC4\x80", 1252, false, ""},   // A with macron: Windows' best fit would make it "A"
      {"\xF0\x9F\x93\x8A", 65001, true, "\xF0\x9F\x93\x8A"},      // emoji stays UTF-8
      {"\xFF", 65001, false, ""},                                 // not UTF-8
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(platform::TextInCodePage(c.text, c.codePage, out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(out, c.bytes) << c.text;
    }
  }
}

TEST(UnicodeFileNames, OpenAndMeasureByTheirUtf8Names) {
  const std::string name = "\xE4\xBC\x9A\xE8\xAD\xB0_2026_\xF0\x9F\x93\x8A.txt";
  std::FILE* file = _wfopen(L"\x4F1A\x8B70_2026_\xD83D\xDCCA.txt", L"wb");
  ASSERT_NE(file, nullptr);
  std::fputs("hello", file);
  std::fclose(file);
  EXPECT_EQ(platform::KindOfFile(name), platform::FileKind::kRegular);
  EXPECT_EQ(platform::SizeOfFile(name), 5);
  std::FILE* read = platform::OpenForReading(name);
  ASSERT_NE(read, nullptr);
  std::fclose(read);
  _wremove(L"\x4F1A\x8B70_2026_\xD83D\xDCCA.txt");
  EXPECT_EQ(platform::KindOfFile(name), platform::FileKind::kMissing);
}

}  // namespace
