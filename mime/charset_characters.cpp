#include "mime/charset_characters.h"

#include <initializer_list>

#include "base/ascii_text.h"

namespace {

struct SSchemeRow {
  const char* name;  // lower case
  CharacterScheme scheme;
};

constexpr SSchemeRow kSchemes[] = {
    {"utf-8", CharacterScheme::kUtf8},           {"utf8", CharacterScheme::kUtf8},
    {"shift_jis", CharacterScheme::kShiftJis},   {"shift-jis", CharacterScheme::kShiftJis},
    {"sjis", CharacterScheme::kShiftJis},        {"windows-31j", CharacterScheme::kShiftJis},
    {"cp932", CharacterScheme::kShiftJis},       {"x-euc-jp", CharacterScheme::kEucJp},
    {"euc-jp", CharacterScheme::kEucJp},         {"gb2312", CharacterScheme::kDoubleByte},
    {"gbk", CharacterScheme::kDoubleByte},       {"cp936", CharacterScheme::kDoubleByte},
    {"big5", CharacterScheme::kDoubleByte},      {"big5-hkscs", CharacterScheme::kDoubleByte},
    {"cp950", CharacterScheme::kDoubleByte},     {"ks_c_5601", CharacterScheme::kDoubleByte},
    {"ks_c_5601-1987", CharacterScheme::kDoubleByte}, {"euc-kr", CharacterScheme::kDoubleByte},
    {"cp949", CharacterScheme::kDoubleByte},     {"gb18030", CharacterScheme::kGb18030},
    {"iso-2022-jp", CharacterScheme::kIso2022},  {"iso-2022-kr", CharacterScheme::kIso2022},
    {"hz-gb-2312", CharacterScheme::kHz},        {"utf-7", CharacterScheme::kUtf7},
};

unsigned char At(std::string_view text, size_t pos) {
  return pos < text.size() ? static_cast<unsigned char>(text[pos]) : 0;
}

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
  return c >= low && c <= high;
}

// n bytes when text holds them, else the lead byte alone.
size_t Whole(std::string_view text, size_t pos, size_t n) {
  return pos + n <= text.size() ? n : 1;
}

size_t Utf8Length(std::string_view text, size_t pos) {
  const unsigned char lead = At(text, pos);
  size_t n = InRange(lead, 0xC2, 0xDF) ? 2 : InRange(lead, 0xE0, 0xEF) ? 3
           : InRange(lead, 0xF0, 0xF4) ? 4 : 1;
  for (size_t i = 1; i < n; ++i) {
    if (pos + i >= text.size() || !InRange(At(text, pos + i), 0x80, 0xBF)) return 1;
  }
  return n;
}

// From pos to the end of the first occurrence of one of the ends after it,
// or to the end of the text.
size_t RunTo(std::string_view text, size_t pos, size_t skip,
             std::initializer_list<std::string_view> ends) {
  size_t best = std::string_view::npos;
  size_t bestLength = 0;
  for (std::string_view end : ends) {
    size_t at = text.find(end, pos + skip);
    if (at < best) {
      best = at;
      bestLength = end.size();
    }
  }
  return best == std::string_view::npos ? text.size() - pos : best + bestLength - pos;
}

bool IsBase64Character(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '+' || c == '/';
}

}  // namespace

CharacterScheme SchemeForCharset(std::string_view charset) {
  for (const SSchemeRow& row : kSchemes) {
    if (EqualsIgnoringCase(charset, row.name)) return row.scheme;
  }
  return CharacterScheme::kSingleByte;
}

size_t CharacterLength(CharacterScheme scheme, std::string_view text, size_t pos) {
  const unsigned char c = At(text, pos);
  switch (scheme) {
    case CharacterScheme::kSingleByte:
      return 1;
    case CharacterScheme::kUtf8:
      return Utf8Length(text, pos);
    case CharacterScheme::kShiftJis:
      return InRange(c, 0x81, 0x9F) || InRange(c, 0xE0, 0xFC) ? Whole(text, pos, 2) : 1;
    case CharacterScheme::kEucJp:
      if (c == 0x8F) return Whole(text, pos, 3);
      return c == 0x8E || InRange(c, 0xA1, 0xFE) ? Whole(text, pos, 2) : 1;
    case CharacterScheme::kDoubleByte:
      return InRange(c, 0x81, 0xFE) ? Whole(text, pos, 2) : 1;
    case CharacterScheme::kGb18030:
      if (!InRange(c, 0x81, 0xFE)) return 1;
      return InRange(At(text, pos + 1), 0x30, 0x39) ? Whole(text, pos, 4) : Whole(text, pos, 2);
    case CharacterScheme::kIso2022:
      // A shift away from ASCII lasts until the shift back.
      if (c == 0x0E) return RunTo(text, pos, 1, {"\x0F"});
      if (c == 0x1B && At(text, pos + 1) == '$') return RunTo(text, pos, 2, {"\x1B(B", "\x1B(J"});
      return 1;
    case CharacterScheme::kHz:
      if (c == '~' && At(text, pos + 1) == '{') return RunTo(text, pos, 2, {"~}"});
      return c == '~' ? Whole(text, pos, 2) : 1;
    case CharacterScheme::kUtf7: {
      if (c != '+') return 1;
      size_t end = pos + 1;
      while (end < text.size() && IsBase64Character(At(text, end))) ++end;
      if (end < text.size() && text[end] == '-') ++end;
      return end - pos;
    }
  }
  return 1;
}
