#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "mime/byte_source.h"
#include "mime/message_part.h"
#include "support/decoders.h"
#include "support/lines.h"
#include "support/memory_source.h"

namespace {

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
    std::string decoded, fault;
    ASSERT_TRUE(DecodeBase64(part.m_lines, decoded, fault)) << size << " bytes, " << fault;
    EXPECT_TRUE(decoded == input) << size << " bytes";
  }
}

}  // namespace
