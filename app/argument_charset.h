// Text typed on a Unicode command line written in the charset that labels
// it in the header block.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/switches.h"

// Converts UTF-8 text into a Windows code page; false when a character has
// no place there.
using TextConverter = std::function<bool(std::string_view, unsigned, std::string&)>;

struct SArgumentCharset {
  bool ok = true;
  std::string charset;   // the header charset to label with; empty: the default
  unsigned codePage = 0; // where every text goes
  std::string refused;   // when !ok: the text that the charset cannot hold
};

// The charset for texts: requested (-l) when given, where a character it
// cannot hold is a failure; else the default code page when every text fits
// it and means the same in the charset that labels it (labelCodePage: code
// page 1252 is labelled iso-8859-1, which has no euro sign or dashes), so
// such a run writes the bytes it always wrote; else UTF-8.
SArgumentCharset ChooseArgumentCharset(const std::vector<std::string>& texts,
                                       const std::string& requested, unsigned defaultCodePage,
                                       unsigned labelCodePage, const TextConverter& convert);

// Where the command line is Unicode, rewrites the header texts of switches
// (-o, -r, -c, -C, -R, -s) in the chosen charset and sets headerCharset to
// the label; file names are only checked, since they must still open (the
// part writer converts the name it shows). Prints "Cannot write ... in
// charset ..." and returns false when -l cannot hold a character.
bool WriteArgumentsInCharset(CSwitchCommandLineInfo& switches, std::string& headerCharset);
