// ASCII rules for protocol words and option values (content types, encoding
// and method names, numbers): ASCII letters and digits only, so bytes of other
// characters are never taken for them.
#pragma once

#include <string>
#include <string_view>

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLowered(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

// The value of a hexadecimal digit in either case, -1 for any other byte.
inline int AsciiHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A number of an option's value: decimal digits only, at most maxDigits of
// them (leading zeros count), between least and most; value is untouched
// when the text is anything else. maxDigits above 9 is taken as 9.
inline bool ParseBoundedDecimal(std::string_view text, size_t maxDigits, int least, int most,
                                int& value) {
  if (text.empty() || text.size() > maxDigits || text.size() > 9) return false;
  int parsed = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    parsed = parsed * 10 + (c - '0');
  }
  if (parsed < least || parsed > most) return false;
  value = parsed;
  return true;
}

inline bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}
