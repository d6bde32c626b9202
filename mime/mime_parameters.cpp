#include "mime/mime_parameters.h"

#include <algorithm>
#include <vector>

#include "mime/charset_characters.h"
#include "mime/encoded_words.h"
#include "mime/header_folding.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsAtomCharacter(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) !=
         std::string_view::npos;
}

// Characters RFC 2231 leaves as they are in an extended value.
bool IsAttributeCharacter(unsigned char c) {
  return c > 0x20 && c < 0x7F && std::string_view("*'%()<>@,;:\\\"/[]?=").find(
                                     static_cast<char>(c)) == std::string_view::npos;
}

// The end of the quoted string that starts at text[pos], just after its
// closing quote; npos when it is not closed.
size_t QuotedStringEnd(std::string_view text, size_t pos) {
  for (size_t i = pos + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

// name cut into pieces for continuations, each at most room characters
// once encoded by encode, no piece ending inside a character.
template <typename Encode>
std::vector<std::string> Pieces(std::string_view name, CharacterScheme scheme, size_t room,
                                Encode encode) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < name.size();) {
    const size_t n = CharacterLength(scheme, name, i);
    std::string encoded = encode(name.substr(i, n));
    if (!pieces.back().empty() && pieces.back().size() + encoded.size() > room) {
      pieces.emplace_back();
    }
    pieces.back() += encoded;
    i += n;
  }
  return pieces;
}

std::string PercentEncode(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (IsAttributeCharacter(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHexDigits[c >> 4]);
      out.push_back(kHexDigits[c & 0x0F]);
    }
  }
  return out;
}

std::string Escape(std::string_view bytes) {
  std::string quoted = QuoteString(bytes);
  return quoted.substr(1, quoted.size() - 2);
}

// attribute*N[*]=piece for each piece, each on a line of its own when
// they do not fit together.
void AddContinuations(CHeaderFolder& folder, std::string_view attribute,
                      const std::vector<std::string>& pieces, bool extended) {
  for (size_t i = 0; i < pieces.size(); ++i) {
    std::string word = std::string(attribute) + "*" + std::to_string(i) + (extended ? "*=" : "=");
    word += extended ? pieces[i] : "\"" + pieces[i] + "\"";
    if (i + 1 < pieces.size()) word += ";";
    folder.Add(" ", word);
  }
}

}  // namespace

std::string QuoteString(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

bool IsPhrase(std::string_view text) {
  if (!text.empty() && text[0] == '"') return QuotedStringEnd(text, 0) == text.size();
  // A full stop after the first word ("John Q. Public") is the obsolete
  // phrase form every reader accepts; such names have always gone out as
  // typed, and keep doing so.
  bool afterWord = false;
  for (unsigned char c : text) {
    if (c == '.' && afterWord) continue;
    if (c != ' ' && c != '\t' && !IsAtomCharacter(c)) return false;
    afterWord = afterWord || IsAtomCharacter(c);
  }
  return true;
}

std::string UnquoteString(std::string_view text) {
  if (text.size() < 2 || text[0] != '"' || QuotedStringEnd(text, 0) != text.size()) {
    return std::string(text);
  }
  std::string content;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '\\') ++i;
    content.push_back(text[i]);
  }
  return content;
}

void AddNameParameter(CHeaderFolder& folder, std::string_view attribute, std::string_view name,
                      std::string_view charset, bool encodedWords) {
  // Room for one parameter on a line of its own: a blank before it, a ";"
  // after it.
  constexpr size_t kRoom = kFoldWidth - 2;
  const std::string label = std::string(attribute) + "=";

  if (!NeedsEncoding(name)) {
    const std::string quoted = QuoteString(name);
    if (label.size() + quoted.size() <= kRoom) {
      folder.Add(" ", label + quoted);
      return;
    }
    const size_t room = kRoom - attribute.size() - 6;  // *NN="" and the quotes
    AddContinuations(folder, attribute,
                     Pieces(name, CharacterScheme::kSingleByte, room, Escape), false);
    return;
  }

  const std::string resolved = HeaderCharset(charset, name);
  if (encodedWords) {
    // The first word may share the line; the others have one of their own.
    const size_t lineRoom = std::min(kMaxEncodedWord, kFoldWidth - 3 - label.size());
    const size_t first = folder.Column() < lineRoom ? lineRoom - folder.Column() : 0;
    const std::vector<std::string> words = EncodeWords(name, resolved, first, lineRoom);
    for (size_t i = 0; i < words.size(); ++i) {
      std::string word = (i == 0 ? label + "\"" : std::string()) + words[i];
      if (i + 1 == words.size()) word += "\"";
      folder.Add(" ", word);
    }
    return;
  }

  const std::string head = resolved + "''";
  const std::string single = std::string(attribute) + "*=" + head + PercentEncode(name);
  if (single.size() <= kRoom) {
    folder.Add(" ", single);
    return;
  }
  // The first piece carries the charset; all are sized to the first's room.
  const size_t room = kRoom - attribute.size() - 5 - head.size();
  std::vector<std::string> pieces = Pieces(name, SchemeForCharset(resolved), room, PercentEncode);
  pieces[0].insert(0, head);
  AddContinuations(folder, attribute, pieces, true);
}
