// Header lines folded at blanks: no line over 78 characters where a blank
// allows a break, and a value that unfolds to exactly what was added.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The width a folded header line keeps to where it can.
constexpr size_t kFoldWidth = 78;
// The width no header line may exceed.
constexpr size_t kMaxHeaderLine = 998;

class CHeaderFolder {
 public:
  // start: the beginning of the first line, such as "Subject:".
  explicit CHeaderFolder(std::string_view start) : m_text(start) {}

  // Appends blanks then word. When that would take the line past 78 and the
  // line already holds a word, the line is broken first, so that blanks
  // begin the next one. Blanks alone (an empty word) never break.
  void Add(std::string_view blanks, std::string_view word);

  size_t Column() const { return m_text.size() - m_lineStart; }
  // The lines joined by CR LF, without a final CR LF.
  const std::string& Text() const { return m_text; }

 private:
  std::string m_text;
  size_t m_lineStart = 0;
  bool m_lineHasWord = false;
};

// One run of blanks (SPACE or TAB) and the word that follows it; the first
// may have no blanks, the last may have no word.
struct SWordUnit {
  std::string_view blanks;
  std::string_view word;
};
std::vector<SWordUnit> SplitWords(std::string_view text);
