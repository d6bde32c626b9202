// Charset names of text parts by Windows code page.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

struct SCharsetRow {
  unsigned codePage;
  const char* name;
};

// Scanned from the first row; code page 1255 has two rows and the first wins.
extern const std::array<SCharsetRow, 30> CharsetTable;

// The name of the first row for codePage; empty when no row has it.
std::string CharsetForCodePage(unsigned codePage);

// The registered MIME charset name of a locale's code set name such as
// "ISO-8859-15" (a registered name or alias, matched without regard to
// case), written the way the registry prefers; empty when the code set has
// no registered name.
std::string CharsetForCodeSet(std::string_view codeSet);

// The charset of text parts when none is asked for: the table's name for
// codePage, else the registered name of the locale's codeSet, else "UTF-8".
// Never empty.
std::string DefaultCharset(unsigned codePage, std::string_view codeSet);

// The Windows code page of a charset name (registered names first, then the
// table's), compared without regard to case; 0 when unknown.
unsigned CodePageForCharset(std::string_view charset);

// The longest charset name taken (the registry's names have at most 40).
constexpr size_t kMaxCharsetName = 64;

// True when name can stand as a charset parameter unquoted: an RFC 2045
// token of at most kMaxCharsetName characters.
bool IsCharsetName(std::string_view name);
