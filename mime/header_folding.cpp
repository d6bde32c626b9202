#include "mime/header_folding.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

void CHeaderFolder::Add(std::string_view blanks, std::string_view word) {
  if (!blanks.empty() && !word.empty() && m_lineHasWord &&
      Column() + blanks.size() + word.size() > kFoldWidth) {
    m_text += "\r\n";
    m_lineStart = m_text.size();
    m_lineHasWord = false;
  }
  m_text += blanks;
  m_text += word;
  if (!word.empty()) m_lineHasWord = true;
}

std::vector<SWordUnit> SplitWords(std::string_view text) {
  std::vector<SWordUnit> units;
  size_t i = 0;
  while (i < text.size()) {
    const size_t blanksStart = i;
    while (i < text.size() && IsBlank(text[i])) ++i;
    const size_t wordStart = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    units.push_back({text.substr(blanksStart, wordStart - blanksStart),
                     text.substr(wordStart, i - wordStart)});
  }
  return units;
}
