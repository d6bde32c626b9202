// Charset names of text parts by Windows code page.
#pragma once

#include <array>
#include <string>

struct SCharsetRow {
  unsigned codePage;
  const char* name;
};

// Scanned from the first row; code page 1255 has two rows and the first wins.
extern const std::array<SCharsetRow, 30> CharsetTable;

// The name of the first row for codePage; empty when no row has it.
std::string CharsetForCodePage(unsigned codePage);
