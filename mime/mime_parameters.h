// Quoted strings, display names and the file-name parameters of a part's
// header lines.
#pragma once

#include <string>
#include <string_view>

class CHeaderFolder;

// text between double quotes, each quote and backslash escaped by a
// backslash.
std::string QuoteString(std::string_view text);

// True when a display name may be written as it is: atoms separated by
// blanks (full stops allowed after the first), or one whole quoted string as
// the user typed it.
bool IsPhrase(std::string_view text);

// The content of text when it is one quoted string, else text.
std::string UnquoteString(std::string_view text);

// Appends a blank and the parameter that names a part's file to folder
// (the word before it ends with ";"), as
// "attribute=" and a quoted string when name is ASCII and fits on a line;
// an ASCII name too long for a line goes in RFC 2231 continuations
// (attribute*0="...", attribute*1="..."). A name with a byte of 0x80 or
// more is written as RFC 2047 encoded words in a quoted string when
// encodedWords is set (what readers without RFC 2231 understand), else as
// attribute*=charset''percent-encoded, in continuations when long.
void AddNameParameter(CHeaderFolder& folder, std::string_view attribute, std::string_view name,
                      std::string_view charset, bool encodedWords);
