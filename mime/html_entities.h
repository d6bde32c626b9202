// HTML character references (&amp;, &#233;, &#xE9;) and the charsets a
// plain text made from HTML may decode them into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What a charset can hold of the decoded characters: UTF-8 all, Latin-1 (and
// Windows-1252, which agrees with it there) those below 0x100, any other
// charset only ASCII.
enum class EEntityCharset { kAscii, kLatin1, kUtf8 };
EEntityCharset EntityCharsetOf(std::string_view charset);

// The longest entity text (between "&" and ";") looked at.
constexpr size_t kMostEntityBytes = 32;

// The character an entity's text (between "&" and ";") names: a named
// entity of the common ones, or a decimal or hexadecimal number; 0 when it
// names none (unknown, a surrogate, past U+10FFFF). U+00A0 is a blank.
uint32_t EntityCodePoint(std::string_view text);

// Appends code point cp in charset; false, appending nothing, when it has no
// place there.
bool AppendCodePoint(uint32_t cp, EEntityCharset charset, std::string& out);

// text with every entity decoded that charset can hold; others stay as
// written.
std::string DecodeEntities(std::string_view text, EEntityCharset charset);
