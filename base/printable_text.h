// Text from a peer made fit for the terminal and for one error line: the
// one place that decides which bytes a relay or a certificate may show as
// they are. Control bytes and DEL never reach the terminal raw, so that a
// peer cannot drive it or cut a line short.
#pragma once

#include <string>
#include <string_view>

// What a caller shows of a peer's text, and how it writes what it hides.
struct SPrintableRule {
  bool tabShown;       // a tab stays a tab
  bool eightBitShown;  // bytes of 0x80 and more stay as they are
  bool hexEscaped;     // a hidden byte is written \xHH, else as "?"
};

// The trace and certificate names: every byte kept visible, as \xHH.
inline constexpr SPrintableRule kEscapedText{true, true, true};
// A relay's reply quoted in an error line.
inline constexpr SPrintableRule kReplyText{false, true, false};
// Protocol keywords, which are ASCII: anything else is a "?".
inline constexpr SPrintableRule kKeywordText{false, false, false};

inline void AppendPrintable(std::string& out, std::string_view text,
                            const SPrintableRule& rule = kEscapedText) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool hidden = (byte < 0x20 && !(byte == '\t' && rule.tabShown)) || byte == 0x7F ||
                        (byte >= 0x80 && !rule.eightBitShown);
    if (!hidden) {
      out += c;
    } else if (rule.hexEscaped) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += '?';
    }
  }
}
