#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/charset_characters.h"
#include "mime/encoded_words.h"

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// The bytes of one B word's text.
std::string DecodeB(const std::string& word) {
  const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const size_t start = word.find("?B?") + 3;
  std::string bytes;
  unsigned bits = 0, count = 0;
  for (size_t i = start; i < word.size() - 2 && word[i] != '='; ++i) {
    bits = (bits << 6) | static_cast<unsigned>(alphabet.find(word[i]));
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return bytes;
}

TEST(EncodedWords, ShorterOfBAndQ) {
  struct Case {
    std::string text, charset;
    std::vector<std::string> words;
  } cases[] = {
      {"J\xC3\xBCrgen M\xC3\xBCller", "UTF-8", {"=?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?="}},
      {"Caf\xC3\xA9 au lait", "UTF-8", {"=?UTF-8?Q?Caf=C3=A9_au_lait?="}},
      // "_", "?" and "=" are escaped; only letters, digits and !*+-/ stay.
      {"\xC4rger mit_Fragen? und Antworten", "iso-8859-1",
       {"=?iso-8859-1?Q?=C4rger_mit=5FFragen=3F_und_Antworten?="}},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "UTF-8", {"=?UTF-8?B?5pel5pys6Kqe?="}},
      {"\x93\xFA\x96\x7B\x8C\xEA", "shift_jis", {"=?shift_jis?B?k/qWe4zq?="}},
      {Repeat("\xC3\xBC", 30), "UTF-8",
       {"=?UTF-8?B?w7zDvMO8w7zDvMO8w7zDvMO8w7zDvMO8w7zDvMO8w7zDvMO8w7zDvMO8w7w=?=",
        "=?UTF-8?B?w7zDvMO8w7zDvMO8w7zDvA==?="}},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeWords(c.text, c.charset), c.words) << c.text;
}

TEST(EncodedWords, FirstWordFitsTheRoomLeft) {
  EXPECT_EQ(EncodeWords("J\xC3\xBCrgen M\xC3\xBCller", "UTF-8", 20),
            (std::vector<std::string>{"=?UTF-8?B?SsO8cmdl?=", "=?UTF-8?B?biBNw7xsbGVy?="}));
  // Too little room for one character: the first word takes the full size.
  EXPECT_EQ(EncodeWords("J\xC3\xBCrgen M\xC3\xBCller", "UTF-8", 5),
            (std::vector<std::string>{"=?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?="}));
}

// Every word holds whole characters, at most 75 characters long, and the
// words together give back the text.
TEST(EncodedWords, NeverSplitACharacter) {
  struct Case {
    std::string text, charset;
    size_t characterBytes;
  } cases[] = {
      {Repeat("\xF0\x9F\x98\x80", 40), "UTF-8", 4},
      {Repeat("\xE6\x97\xA5", 50), "utf-8", 3},
      {Repeat("\x93\xFA", 70), "Shift_JIS", 2},
      {Repeat("\x8F\xB0\xA1", 50), "EUC-JP", 3},
      {Repeat("\xC6\xFC", 70), "x-euc-jp", 2},
      {Repeat("\xB0\xA1", 70), "gb2312", 2},
      {Repeat("\xA4\x40", 70), "big5", 2},
      {Repeat("\xB0\xA1", 70), "ks_c_5601", 2},
      {Repeat("\x81\x30\x81\x30", 40), "GB18030", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset);
    std::vector<std::string> words = EncodeWords(c.text, c.charset, 30);
    ASSERT_GT(words.size(), 2u);
    std::string joined;
    for (const std::string& word : words) {
      EXPECT_LE(word.size(), kMaxEncodedWord);
      std::string bytes = DecodeB(word);
      EXPECT_EQ(bytes.size() % c.characterBytes, 0u) << word;
      joined += bytes;
    }
    EXPECT_EQ(words[0].size() <= 30, true);
    EXPECT_EQ(joined, c.text);
  }
}

TEST(CharsetCharacters, LengthOfThePieceAtAPosition) {
  struct Case {
    std::string charset, text;
    size_t pos, length;
  } cases[] = {
      {"UTF-8", "a\xC3\xBC", 1, 2},
      {"UTF-8", "\xC3" "a", 0, 1},  // a lead byte without its follower stands alone
      {"UTF-8", "\xF0\x9F\x98", 0, 1},
      {"UTF-8", "\xBC", 0, 1},
      {"shift_jis", "\xB1\x93\xFA", 0, 1},  // half-width katakana is one byte
      {"shift_jis", "\xB1\x93\xFA", 1, 2},
      {"EUC-JP", "\x8E\xB1", 0, 2},
      {"EUC-JP", "\x8F\xB0\xA1", 0, 3},
      {"iso-8859-1", "\xE9\xE9", 0, 1},
      {"", "\xE6\x97\xA5", 0, 1},
      {"ISO-2022-JP", "a\x1B$B$3$s\x1B(Bz", 1, 10},  // a shifted run with its return
      {"ISO-2022-JP", "\x1B$B$3", 0, 5},
      {"HZ-GB-2312", "~{<:~}x", 0, 6},
      {"UTF-7", "+AOk-x", 0, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CharacterLength(SchemeForCharset(c.charset), c.text, c.pos), c.length)
        << c.charset << " at " << c.pos;
  }
}

TEST(EncodedWords, HeaderCharsetFallsBackByContent) {
  EXPECT_EQ(HeaderCharset("Windows-1252", "\xC3\xBC"), "Windows-1252");
  EXPECT_EQ(HeaderCharset("", "\xC3\xBC"), "UTF-8");
  EXPECT_EQ(HeaderCharset("", "caf\xE9"), "unknown-8bit");
  EXPECT_EQ(HeaderCharset("", "\x1B$B$3$s\x1B(B"), "ISO-2022-JP");
  EXPECT_EQ(HeaderCharset("", "\x1B$)C\x0E!!\x0F"), "ISO-2022-KR");
  EXPECT_EQ(HeaderCharset("", "\x1B[31m"), "UTF-8");  // an escape, but no ISO-2022 set
}

}  // namespace
