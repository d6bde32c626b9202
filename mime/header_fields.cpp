#include "mime/header_fields.h"

#include <algorithm>
#include <vector>

#include "mime/encoded_words.h"
#include "mime/header_folding.h"
#include "mime/mime_parameters.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Split lead into its text and the blanks that end it, so that the folder
// sees where the first word may go.
size_t TrailingBlanks(std::string_view text) {
  size_t n = 0;
  while (n < text.size() && IsBlank(text[text.size() - 1 - n])) ++n;
  return n;
}

// Room for the first of the encoded words placed after separator.
size_t FirstRoom(const CHeaderFolder& folder, size_t separator) {
  const size_t used = folder.Column() + separator;
  return used < kFoldWidth ? kFoldWidth - used : 0;
}

// Appends text as encoded words, the first after separator, the others
// after one blank each.
void AddEncoded(CHeaderFolder& folder, std::string_view separator, std::string_view text,
                std::string_view charset) {
  const std::string resolved = HeaderCharset(charset, text);
  const std::vector<std::string> words =
      EncodeWords(text, resolved, FirstRoom(folder, separator.size()), kMaxEncodedWord);
  folder.Add(separator, words[0]);
  for (size_t i = 1; i < words.size(); ++i) folder.Add(" ", words[i]);
}

// A word that could make a line over the limit even on a line of its own.
bool TooLongForALine(std::string_view lead, const SWordUnit& unit) {
  return lead.size() + unit.blanks.size() + unit.word.size() > kMaxHeaderLine;
}

}  // namespace

std::string FormatTextField(std::string_view lead, std::string_view value,
                            std::string_view charset) {
  const size_t leadBlanks = TrailingBlanks(lead);
  CHeaderFolder folder(lead.substr(0, lead.size() - leadBlanks));
  const std::string firstBlanks(lead.substr(lead.size() - leadBlanks));

  std::vector<SWordUnit> units = SplitWords(value);
  size_t first = units.size();
  size_t last = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    if (NeedsEncoding(units[i].word) || TooLongForALine(lead, units[i])) {
      if (first == units.size()) first = i;
      last = i + 1;
    }
  }
  if (first < units.size()) {
    // Once some words are encoded, literal text that reads as an encoded
    // word, and blanks at either end (which parsers drop), join them.
    for (size_t i = 0; i < units.size(); ++i) {
      if (units[i].word.find("=?") != std::string_view::npos) {
        first = std::min(first, i);
        last = std::max(last, i + 1);
      }
    }
    if (!units.front().blanks.empty()) first = 0;
    if (units.back().word.empty()) last = units.size();
  }

  for (size_t i = 0; i < units.size(); ++i) {
    std::string blanks = (i == 0 ? firstBlanks : std::string()) + std::string(units[i].blanks);
    if (i != first) {
      folder.Add(blanks, units[i].word);
      continue;
    }
    // One blank separates the literal text before from the encoded words;
    // the rest of the blanks are encoded with the words.
    const char* begin = i == 0 ? units[i].word.data() - units[i].blanks.size()
                               : units[i].blanks.data() + 1;
    const char* end = units[last - 1].word.data() + units[last - 1].word.size();
    std::string separator = i == 0 ? firstBlanks : std::string(units[i].blanks.substr(0, 1));
    AddEncoded(folder, separator, std::string_view(begin, static_cast<size_t>(end - begin)),
               charset);
    i = last - 1;
  }
  if (units.empty()) folder.Add(firstBlanks, "");
  return folder.Text();
}

std::string FormatAddressLine(std::string_view lead, std::string_view name,
                              std::string_view tail, std::string_view charset) {
  const size_t leadBlanks = TrailingBlanks(lead);
  CHeaderFolder folder(lead.substr(0, lead.size() - leadBlanks));

  size_t begin = 0;
  while (begin < name.size() && IsBlank(name[begin])) ++begin;
  const size_t end = name.size() - TrailingBlanks(name.substr(begin));
  const std::string_view core = name.substr(begin, end - begin);
  std::string before(lead.substr(lead.size() - leadBlanks));
  before += name.substr(0, begin);

  bool encode = NeedsEncoding(core);
  for (const SWordUnit& unit : SplitWords(core)) encode = encode || TooLongForALine(lead, unit);
  if (encode) {
    // Encoded words cannot stand inside a quoted string: a quoted name is
    // encoded by its content.
    AddEncoded(folder, before, UnquoteString(core), charset);
    before.clear();
  } else if (!core.empty()) {
    const std::string phrase = IsPhrase(core) ? std::string(core) : QuoteString(core);
    std::vector<SWordUnit> units = SplitWords(phrase);
    for (size_t i = 0; i < units.size(); ++i) {
      folder.Add(i == 0 ? before + std::string(units[i].blanks) : std::string(units[i].blanks),
                 units[i].word);
    }
    before.clear();
  }

  size_t tailBlanks = 0;
  while (tailBlanks < tail.size() && IsBlank(tail[tailBlanks])) ++tailBlanks;
  folder.Add(before + std::string(name.substr(end)) + std::string(tail.substr(0, tailBlanks)),
             tail.substr(tailBlanks));
  return folder.Text();
}

std::string FormatAddressField(std::string_view lead, std::string_view value,
                               std::string_view charset) {
  const size_t open = value.find('<');
  if (open == std::string_view::npos) {
    // Addresses alone: folded at their blanks, never encoded.
    CHeaderFolder folder(lead);
    for (const SWordUnit& unit : SplitWords(value)) folder.Add(unit.blanks, unit.word);
    return folder.Text();
  }
  return FormatAddressLine(lead, value.substr(0, open), value.substr(open), charset);
}
