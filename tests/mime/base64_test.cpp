#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "mime/byte_source.h"
#include "mime/message_part.h"
#include "support/lines.h"
#include "support/memory_source.h"

namespace {

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// An independent decoder; flags malformed lines.
std::string Decode(const CLineList& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    EXPECT_TRUE(line.size() >= 2 && line.substr(line.size() - 2) == "\r\n") << i;
    line.remove_suffix(2);
    EXPECT_EQ(line.size() % 4, 0u) << i;
    if (i + 1 < lines.size()) {
      EXPECT_EQ(line.size(), 76u) << i;
    }
    for (size_t g = 0; g + 4 <= line.size(); g += 4) {
      int v[4];
      for (int k = 0; k < 4; ++k) v[k] = line[g + k] == '=' ? 0 : Sextet(line[g + k]);
      for (int k = 0; k < 4; ++k) EXPECT_GE(v[k], 0) << line;
      unsigned bits = v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3];
      out.push_back(static_cast<char>(bits >> 16));
      if (line[g + 2] != '=') out.push_back(static_cast<char>(bits >> 8 & 0xFF));
      if (line[g + 3] != '=') out.push_back(static_cast<char>(bits & 0xFF));
    }
  }
  return out;
}

TEST(Base64Test, ExactLines) {
  const std::string full = "CzBVep/E6Q4zWH2ix+wRNluApcrvFDleg6jN8hc8YYar0PUaP2SJrtP4HUJnjLHW+yBFao+02f4j";
  struct Case {
    std::string input;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"f", {"Zg==\r\n"}},
      {"fo", {"Zm8=\r\n"}},
      {"foo", {"Zm9v\r\n"}},
      {"foobar", {"Zm9vYmFy\r\n"}},
      {std::string(3, '\0'), {"AAAA\r\n"}},
      {Pattern(57), {full + "\r\n"}},
      {Pattern(58), {full + "\r\n", "SA==\r\n"}},
      {Pattern(59), {full + "\r\n", "SG0=\r\n"}},
  };
  for (const Case& c : cases) {
    CMessagePart part;
    part.m_lines.push_back("left over\r\n");
    part.m_uuencoded = true;
    CMemorySource source(c.input);
    EXPECT_TRUE(part.EncodeBase64(source));
    EXPECT_EQ(Lines(part.m_lines), c.lines) << c.input.size() << " bytes";
    EXPECT_EQ(part.m_encoding, "base64");
    EXPECT_FALSE(part.m_uuencoded);
  }
}

TEST(Base64Test, RandomInputsDecodeToThemselves) {
  std::mt19937 random(20260);
  for (size_t size : {1u, 2u, 56u, 57u, 58u, 114u, 70000u, 300001u}) {
    std::string input;
    for (size_t i = 0; i < size; ++i) input.push_back(static_cast<char>(random() & 0xFF));
    CMessagePart part;
    CMemorySource source(input);
    part.EncodeBase64(source);
    EXPECT_EQ(part.m_lines.size(), (size + 56) / 57);
    EXPECT_TRUE(Decode(part.m_lines) == input) << size << " bytes";
  }
}

}  // namespace
