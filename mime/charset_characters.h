// Where the characters of a charset begin and end, so that text can be cut
// into pieces each of which decodes on its own.
#pragma once

#include <cstddef>
#include <string_view>

enum class CharacterScheme {
  kSingleByte,  // every byte is a character
  kUtf8,
  kShiftJis,
  kEucJp,
  kDoubleByte,  // lead byte 0x81-0xFE then one more: GBK, Big5, EUC-KR
  kGb18030,
  kIso2022,     // shifted runs end with ESC ( B, ESC ( J or SI
  kHz,          // shifted runs between "~{" and "~}"
  kUtf7,        // shifted runs between "+" and "-"
};

// The scheme of a charset name, compared without regard to case; unknown
// names count as single-byte.
CharacterScheme SchemeForCharset(std::string_view charset);

// The length of the piece that starts at text[pos] and must not be cut:
// one character, or for the shifting charsets one whole shifted run. A byte
// that cannot start a character of the scheme stands alone.
// REQUIRES: pos < text.size().
size_t CharacterLength(CharacterScheme scheme, std::string_view text, size_t pos);
