#include "mime/encoded_words.h"

#include "mime/base64.h"
#include "mime/charset_characters.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Characters Q may leave as they are in a phrase as well as in text.
bool IsQLiteral(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '!' || c == '*' || c == '+' || c == '-' || c == '/';
}

size_t QLength(std::string_view bytes) {
  size_t n = 0;
  for (unsigned char c : bytes) n += IsQLiteral(c) || c == ' ' ? 1 : 3;
  return n;
}

void AppendQ(std::string& out, std::string_view bytes) {
  for (unsigned char c : bytes) {
    if (IsQLiteral(c)) {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      out.push_back('_');
    } else {
      out.push_back('=');
      out.push_back(kHexDigits[c >> 4]);
      out.push_back(kHexDigits[c & 0x0F]);
    }
  }
}

bool HasEightBit(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return true;
  }
  return false;
}

}  // namespace

bool NeedsEncoding(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x7F || (c < 0x20 && c != '\t')) return true;
  }
  return false;
}

std::string HeaderCharset(std::string_view configured, std::string_view text) {
  if (!configured.empty()) return std::string(configured);
  // 7-bit text that designates a double-byte set by escape sequences is
  // ISO-2022 (RFC 1468, RFC 1557), whatever the locale says.
  if (!HasEightBit(text)) {
    if (text.find("\x1B$)C") != std::string_view::npos) return "ISO-2022-KR";
    if (text.find("\x1B$") != std::string_view::npos) return "ISO-2022-JP";
  }
  for (size_t i = 0; i < text.size(); i += CharacterLength(CharacterScheme::kUtf8, text, i)) {
    if (static_cast<unsigned char>(text[i]) >= 0x80 &&
        CharacterLength(CharacterScheme::kUtf8, text, i) == 1) {
      return "unknown-8bit";
    }
  }
  return "UTF-8";
}

std::vector<std::string> EncodeWords(std::string_view text, std::string_view charset,
                                     size_t firstMax, size_t otherMax) {
  const bool q = QLength(text) <= Base64Length(text.size());
  const std::string head = "=?" + std::string(charset) + (q ? "?Q?" : "?B?");
  const size_t overhead = head.size() + 2;
  const CharacterScheme scheme = SchemeForCharset(charset);

  auto encodedLength = [&](std::string_view bytes) {
    return overhead + (q ? QLength(bytes) : Base64Length(bytes.size()));
  };
  auto appendWord = [&](std::vector<std::string>& words, std::string_view bytes) {
    std::string word = head;
    if (q) {
      AppendQ(word, bytes);
    } else {
      AppendBase64(word, bytes);
    }
    word += "?=";
    words.push_back(std::move(word));
  };

  std::vector<std::string> words;
  size_t start = 0;
  size_t end = 0;
  size_t max = firstMax;
  if (encodedLength(text.substr(0, CharacterLength(scheme, text, 0))) > firstMax) {
    max = otherMax;
  }
  while (end < text.size()) {
    const size_t next = end + CharacterLength(scheme, text, end);
    if (end > start && encodedLength(text.substr(start, next - start)) > max) {
      appendWord(words, text.substr(start, end - start));
      start = end;
      max = otherMax;
      continue;
    }
    end = next;
  }
  appendWord(words, text.substr(start, end - start));
  return words;
}
