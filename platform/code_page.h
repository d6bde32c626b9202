// The system's default code page: the number that picks the charset of text
// parts when none is given.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The Windows code page number of the character set that the user's locale
// uses; 0 when it has none.
unsigned DefaultCodePage();

// The name of the character set that the user's locale uses, such as
// "ISO-8859-15", for the charset when DefaultCodePage names none; empty
// where the system gives no such name (Windows: its code page is all).
std::string LocaleCodeSet();

// The Windows code page number that names the same character set as
// codeSet, a locale's code set name such as "UTF-8" or "ISO-8859-2",
// compared without regard to case, "-" or "_"; 0 when unknown.
unsigned CodePageForCodeSet(std::string_view codeSet);

}  // namespace platform
