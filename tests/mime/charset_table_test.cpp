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

}  // namespace
