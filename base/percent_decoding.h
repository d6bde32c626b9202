// %XX escapes (RFC 3986), as in a cid: reference or a form-encoded answer.
#pragma once

#include <string>
#include <string_view>

#include "base/ascii_text.h"

// text with every "%" and two hexadecimal digits replaced by that byte; a
// "%" without them stays as it is. plusIsSpace decodes "+" as a blank too,
// as application/x-www-form-urlencoded does.
inline std::string PercentDecoded(std::string_view text, bool plusIsSpace = false) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (plusIsSpace && text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && AsciiHexValue(text[i + 1]) >= 0 &&
               AsciiHexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(AsciiHexValue(text[i + 1]) * 16 + AsciiHexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}
