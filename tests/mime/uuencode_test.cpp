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

TEST(UuencodeTest, ExactLines) {
  const std::string full = R"x(M"S!5>I_$Z0XS6'VBQ^P1-EN`I<KO%#E>@ZC-\A<\88:KT/4:/V2)KM/X'4)G)x";
  struct Case {
    std::string input;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"Cat", {"#0V%T\r\n"}},
      {std::string(3, '\0'), {"#````\r\n"}},  // zero is "`", never a blank
      {"\xFF", {"!_P``\r\n"}},                // fill bits are zero
      {Pattern(45), {full + "\r\n"}},
      {Pattern(59), {full + "\r\n", ".C+'6^R!%:H^TV?XC2&T`\r\n"}},  // 14 bytes: "."
  };
  for (const Case& c : cases) {
    CMessagePart part;
    part.m_lines.push_back("left over\r\n");
    part.m_encoding = "base64";
    CMemorySource source(c.input);
    EXPECT_TRUE(part.EncodeUuencode(source));
    EXPECT_EQ(Lines(part.m_lines), c.lines) << c.input.size() << " bytes";
    EXPECT_EQ(part.m_encoding, "");
    EXPECT_TRUE(part.m_uuencoded);
  }
}

TEST(UuencodeTest, RandomInputsDecodeToThemselves) {
  std::mt19937 random(4517);
  for (size_t size : {1u, 2u, 44u, 45u, 46u, 90u, 70000u, 200003u}) {
    std::string input;
    for (size_t i = 0; i < size; ++i) input.push_back(static_cast<char>(random() & 0xFF));
    CMessagePart part;
    CMemorySource source(input);
    part.EncodeUuencode(source);
    EXPECT_EQ(part.m_lines.size(), (size + 44) / 45);
    std::string decoded, fault;
    ASSERT_TRUE(DecodeUuencode(part.m_lines, decoded, fault)) << size << " bytes, " << fault;
    EXPECT_TRUE(decoded == input) << size << " bytes";
  }
}

}  // namespace
