#include "mime/charset_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CharsetTable, RowsInOrder) {
  ASSERT_EQ(CharsetTable.size(), 30u);
  struct Row {
    size_t index;
    unsigned codePage;
    const char* name;
  } rows[] = {
      {0, 1252, "iso-8859-1"},   {1, 20105, "us-ascii"},  {7, 932, "shift_jis"},
      {14, 949, "ks_c_5601"},    {15, 1255, "Windows-1255"}, {16, 1255, "iso-8859-8"},
      {22, 65001, "UTF-8"},      {27, 28595, "iso_8859-5"}, {29, 28599, "iso-8859-9"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(CharsetTable[r.index].codePage, r.codePage) << r.index;
    EXPECT_STREQ(CharsetTable[r.index].name, r.name) << r.index;
  }
}

TEST(CharsetForCodePage, FirstMatchingRowOrEmpty) {
  struct Case {
    unsigned codePage;
    const char* charset;
  } cases[] = {
      {1252, "iso-8859-1"},    {1255, "Windows-1255"}, {65001, "UTF-8"},
      {28592, "iso-8859-2"},   {51932, "x-euc-jp"},    {52936, "HZ-GB-2312"},
      {28599, "iso-8859-9"},   {28598, ""},  // Hebrew ISO has no row of its own
      {20127, ""},             {0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CharsetForCodePage(c.codePage), c.charset) << c.codePage;
  }
}

// Locales whose code page has no row keep their own code set's name when it
// is a registered charset, and never give an empty charset.
TEST(DefaultCharset, TableThenRegisteredCodeSetThenUtf8) {
  struct Case {
    unsigned codePage;
    const char* codeSet;
    const char* charset;
  } cases[] = {
      {1252, "ISO-8859-1", "iso-8859-1"},      // the table first
      {65001, "UTF-8", "UTF-8"},
      {28605, "ISO-8859-15", "ISO-8859-15"},  // de_DE@euro
      {28605, "iso-8859-15", "ISO-8859-15"},
      {54936, "GB18030", "GB18030"},
      {21866, "KOI8-U", "KOI8-U"},
      {28598, "ISO-8859-8", "ISO-8859-8"},
      {0, "BIG5-HKSCS", "Big5-HKSCS"},
      {0, "PT154", "PTCP154"},                // a registered alias
      {0, "RK1048", "KZ-1048"},
      {0, "TIS-620", "TIS-620"},
      {0, "ANSI_X3.4-1968", "US-ASCII"},
      {0, "EUC-TW", "UTF-8"},                 // no registered name
      {0, "ARMSCII-8", "UTF-8"},
      {0, "ISO-8859-15X", "UTF-8"},
      {0, "ISO8859-15", "UTF-8"},             // not a registered spelling
      {0, "", "UTF-8"},                       // a system that names none
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DefaultCharset(c.codePage, c.codeSet), c.charset) << c.codePage << " " << c.codeSet;
  }
}

TEST(IsCharsetName, Cases) {
  struct Case {
    std::string name;
    bool valid;
  } cases[] = {
      {"UTF-8", true},         {"iso-8859-1", true}, {"x-user_defined+1.0", true},
      {std::string(64, 'c'), true}, {std::string(65, 'c'), false},
      {"", false},             {"utf 8", false},     {"utf-8;x=y", false},
      {"\"utf-8\"", false},     {"utf-8\r\nX: y", false}, {"caf\xC3\xA9", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsCharsetName(c.name), c.valid);
  }
}

}  // namespace
