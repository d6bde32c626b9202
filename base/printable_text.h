// Text from a peer made fit for the terminal: control bytes (tab excepted)
// and DEL as \xHH, so that a relay or a certificate cannot drive the terminal
// or cut a line short.
#pragma once

#include <string>
#include <string_view>

inline void AppendPrintable(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
}
