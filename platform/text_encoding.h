// The character set of the program's own text: its command line and the
// names of the files it opens.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True where the command line arrives as Unicode and the program holds its
// words in UTF-8 (Windows, whose wide command line is converted once);
// false where the words are the bytes the user's locale typed (POSIX), which
// are written as they came.
bool ArgumentsAreUnicode();

// text, UTF-8, in the character set of Windows code page codePage; false
// when a character of text has no place in that set (nothing is ever
// replaced by a question mark) or the code page is unknown to the system.
// Where arguments are not Unicode, text passes unchanged.
bool TextInCodePage(std::string_view text, unsigned codePage, std::string& converted);

}  // namespace platform
