#include "mime/charset_table.h"

#include "base/ascii_text.h"

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


namespace {

struct SCodeSetRow {
  const char* codeSet;  // a registered name or alias
  const char* charset;  // its preferred MIME name
};

// The code sets that locales use and that have a registered MIME name; the
// others (ARMSCII-8, EUC-TW, GEORGIAN-PS, KOI8-T, TCVN5712-1, ...) have none.
constexpr SCodeSetRow kRegisteredCodeSets[] = {
    {"UTF-8", "UTF-8"},           {"US-ASCII", "US-ASCII"},     {"ANSI_X3.4-1968", "US-ASCII"},
    {"ISO-8859-1", "ISO-8859-1"}, {"ISO-8859-2", "ISO-8859-2"}, {"ISO-8859-3", "ISO-8859-3"},
    {"ISO-8859-4", "ISO-8859-4"}, {"ISO-8859-5", "ISO-8859-5"}, {"ISO-8859-6", "ISO-8859-6"},
    {"ISO-8859-7", "ISO-8859-7"}, {"ISO-8859-8", "ISO-8859-8"}, {"ISO-8859-9", "ISO-8859-9"},
    {"ISO-8859-10", "ISO-8859-10"}, {"ISO-8859-13", "ISO-8859-13"},
    {"ISO-8859-14", "ISO-8859-14"}, {"ISO-8859-15", "ISO-8859-15"},
    {"ISO-8859-16", "ISO-8859-16"}, {"KOI8-R", "KOI8-R"},       {"KOI8-U", "KOI8-U"},
    {"EUC-JP", "EUC-JP"},         {"Shift_JIS", "Shift_JIS"},   {"EUC-KR", "EUC-KR"},
    {"GB2312", "GB2312"},         {"GBK", "GBK"},               {"GB18030", "GB18030"},
    {"Big5", "Big5"},             {"Big5-HKSCS", "Big5-HKSCS"}, {"TIS-620", "TIS-620"},
    {"PTCP154", "PTCP154"},       {"PT154", "PTCP154"},         {"KZ-1048", "KZ-1048"},
    {"RK1048", "KZ-1048"},
};

}  // namespace

std::string CharsetForCodeSet(std::string_view codeSet) {
  for (const SCodeSetRow& row : kRegisteredCodeSets) {
    if (EqualsIgnoringCase(codeSet, row.codeSet)) return row.charset;
  }
  return std::string();
}

std::string DefaultCharset(unsigned codePage, std::string_view codeSet) {
  std::string charset = CharsetForCodePage(codePage);
  if (charset.empty()) charset = CharsetForCodeSet(codeSet);
  if (charset.empty()) charset = "UTF-8";
  return charset;
}

namespace {

// Where a registered name and the table's row for a code page disagree
// (the table labels code page 1252 "iso-8859-1"), the registered name's own
// character set wins: ISO-8859-1 has no euro sign.
constexpr SCharsetRow kCodePagesByName[] = {
    {65001, "UTF-8"},       {20127, "US-ASCII"},     {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},   {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},  {28596, "ISO-8859-6"},   {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},  {28599, "ISO-8859-9"},   {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"}, {1250, "windows-1250"},  {1251, "windows-1251"},
    {1252, "windows-1252"}, {1253, "windows-1253"},  {1254, "windows-1254"},
    {1255, "windows-1255"}, {1256, "windows-1256"},  {1257, "windows-1257"},
    {1258, "windows-1258"}, {874, "windows-874"},    {932, "Shift_JIS"},
    {20932, "EUC-JP"},      {50220, "ISO-2022-JP"},  {936, "GBK"},
    {936, "GB2312"},        {54936, "GB18030"},      {950, "Big5"},
    {51949, "EUC-KR"},      {949, "ks_c_5601-1987"}, {20866, "KOI8-R"},
    {21866, "KOI8-U"},      {65000, "UTF-7"},
};

}  // namespace

unsigned CodePageForCharset(std::string_view charset) {
  for (const SCharsetRow& row : kCodePagesByName) {
    if (EqualsIgnoringCase(charset, row.name)) return row.codePage;
  }
  for (const SCharsetRow& row : CharsetTable) {
    if (EqualsIgnoringCase(charset, row.name)) return row.codePage;
  }
  return 0;
}

bool IsCharsetName(std::string_view name) {
  if (name.empty() || name.size() > kMaxCharsetName) return false;
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    // RFC 2045's token: printable ASCII without blanks or tspecials.
    if (byte <= 0x20 || byte >= 0x7F || std::string_view("()<>@,;:\\\"/[]?=").find(c) !=
                                              std::string_view::npos) {
      return false;
    }
  }
  return true;
}
