#include "mime/html_entities.h"

#include "base/ascii_text.h"

namespace {

struct SNamedEntity {
  const char* name;
  uint32_t codePoint;
};

constexpr SNamedEntity kEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},
    {"apos", '\''},    {"nbsp", ' '},     {"copy", 0xA9},    {"reg", 0xAE},
    {"deg", 0xB0},     {"middot", 0xB7},  {"laquo", 0xAB},   {"raquo", 0xBB},
    {"times", 0xD7},   {"auml", 0xE4},    {"ouml", 0xF6},    {"uuml", 0xFC},
    {"Auml", 0xC4},    {"Ouml", 0xD6},    {"Uuml", 0xDC},    {"szlig", 0xDF},
    {"eacute", 0xE9},  {"egrave", 0xE8},  {"agrave", 0xE0},  {"ccedil", 0xE7},
    {"ndash", 0x2013}, {"mdash", 0x2014}, {"lsquo", 0x2018}, {"rsquo", 0x2019},
    {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"bull", 0x2022},  {"hellip", 0x2026},
    {"euro", 0x20AC},  {"trade", 0x2122},
};

}  // namespace

EEntityCharset EntityCharsetOf(std::string_view charset) {
  if (EqualsIgnoringCase(charset, "utf-8") || EqualsIgnoringCase(charset, "utf8")) {
    return EEntityCharset::kUtf8;
  }
  // Windows-1252 agrees with Latin-1 below 0x80 and from 0xA0 on.
  for (const char* name : {"iso-8859-1", "iso_8859-1", "latin1", "windows-1252"}) {
    if (EqualsIgnoringCase(charset, name)) return EEntityCharset::kLatin1;
  }
  return EEntityCharset::kAscii;
}

uint32_t EntityCodePoint(std::string_view text) {
  if (text.size() >= 2 && text[0] == '#') {
    const bool hex = text[1] == 'x' || text[1] == 'X';
    const std::string_view digits = text.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return 0;
    uint32_t value = 0;
    for (char c : digits) {
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) return 0;
      value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (value == 0xA0) return ' ';  // as &nbsp;: a plain text has no use for it
    return value > 0x10FFFF || surrogate ? 0 : value;
  }
  for (const SNamedEntity& entity : kEntities) {
    if (text == entity.name) return entity.codePoint;
  }
  return 0;
}

bool AppendCodePoint(uint32_t cp, EEntityCharset charset, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
    return true;
  }
  if (charset == EEntityCharset::kLatin1 && cp >= 0xA0 && cp <= 0xFF) {
    out += static_cast<char>(cp);
    return true;
  }
  if (charset != EEntityCharset::kUtf8) return false;
  if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (cp & 0x3F));
  return true;
}

std::string DecodeEntities(std::string_view text, EEntityCharset charset) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t end = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
    if (end != std::string_view::npos && end - i <= kMostEntityBytes) {
      const uint32_t cp = EntityCodePoint(text.substr(i + 1, end - i - 1));
      if (cp != 0 && AppendCodePoint(cp, charset, out)) {
        i = end;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}
