// RFC 2047 encoded words: header text in any charset carried in ASCII.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The longest encoded word allowed.
constexpr size_t kMaxEncodedWord = 75;

// text as "=?charset?B?...?=" or "=?charset?Q?...?=" words, whichever
// encoding is shorter for the whole text, each at most 75 characters:
// the first at most firstMax, or otherMax when not even one character fits
// in firstMax, the others at most otherMax. No word ends
// inside a character of charset. The words are meant to be separated by
// blanks, which decoders drop; the Q form is safe in phrases too.
// REQUIRES: text is not empty, charset is not empty.
std::vector<std::string> EncodeWords(std::string_view text, std::string_view charset,
                                     size_t firstMax = kMaxEncodedWord,
                                     size_t otherMax = kMaxEncodedWord);

// The charset that header text is labelled with: the configured one, else
// ISO-2022-JP or ISO-2022-KR for 7-bit text with their escape sequences,
// else UTF-8 when text is valid UTF-8, else "unknown-8bit".
std::string HeaderCharset(std::string_view configured, std::string_view text);

// True when text cannot stand in a header as it is: a byte of 0x80 or
// more, DEL, or a control byte other than TAB (an ESC of ISO-2022 among them).
bool NeedsEncoding(std::string_view text);
