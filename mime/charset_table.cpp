#include "mime/charset_table.h"

const std::array<SCharsetRow, 30> CharsetTable = {{
    {1252, "iso-8859-1"},
    {20105, "us-ascii"},
    {28592, "iso-8859-2"},
    {1250, "Windows-1250"},
    {1251, "Windows-1251"},
    {1253, "Windows-1253"},
    {1254, "Windows-1254"},
    {932, "shift_jis"},
    {51932, "x-euc-jp"},
    {50220, "iso-2022-jp"},
    {1257, "Windows-1257"},
    {950, "big5"},
    {936, "gb2312"},
    {20866, "koi8-r"},
    {949, "ks_c_5601"},
    {1255, "Windows-1255"},
    {1255, "iso-8859-8"},
    {862, "dos-862"},
    {1256, "Windows-1256"},
    {720, "dos-720"},
    {874, "Windows-874"},
    {1258, "Windows-1258"},
    {65001, "UTF-8"},
    {65000, "UTF-7"},
    {50225, "ISO-2022-KR"},
    {52936, "HZ-GB-2312"},
    {28594, "iso-8859-4"},
    {28595, "iso_8859-5"},
    {28597, "iso-8859-7"},
    {28599, "iso-8859-9"},
}};

std::string CharsetForCodePage(unsigned codePage) {
  for (const SCharsetRow& row : CharsetTable) {
    if (row.codePage == codePage) return row.name;
  }
  return std::string();
}

