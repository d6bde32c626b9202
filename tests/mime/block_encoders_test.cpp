// The two block encoders, base64 and uuencode: one line per block of input
// bytes, each line exact, every input decoding to itself.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "mime/base64.h"
#include "mime/byte_source.h"
#include "mime/message_part.h"
#include "mime/uuencode.h"
#include "support/decoders.h"
#include "support/lines.h"
#include "support/memory_source.h"

namespace {

struct Encoder {
  const char* name;
  bool (CMessagePart::*encode)(CByteSource&);
  bool (*decode)(const CLineList&, std::string&, std::string&);
  size_t lineBytes;
  const char* encoding;  // what the part announces
  bool uuencoded;
  unsigned seed;
};

const Encoder kBase64 = {"base64",     &CMessagePart::EncodeBase64, DecodeBase64,
                         kBase64LineBytes, "base64", false, 20260};
const Encoder kUuencode = {"uuencode",  &CMessagePart::EncodeUuencode, DecodeUuencode,
                           kUuencodeLineBytes, "", true, 4517};

// Encodes input into a part that held another encoding's lines and flags.
CMessagePart Encoded(const Encoder& encoder, const std::string& input) {
  CMessagePart part;
  part.m_lines.push_back("left over\r\n");
  part.m_encoding = encoder.uuencoded ? "base64" : "";
  part.m_uuencoded = !encoder.uuencoded;
  CMemorySource source(input);
  EXPECT_TRUE((part.*encoder.encode)(source));
  return part;
}

TEST(BlockEncoders, ExactLines) {
  const std::string b64 =
      "CzBVep/E6Q4zWH2ix+wRNluApcrvFDleg6jN8hc8YYar0PUaP2SJrtP4HUJnjLHW+yBFao+02f4j";
  const std::string uu = R"x(M"S!5>I_$Z0XS6'VBQ^P1-EN`I<KO%#E>@ZC-\A<\88:KT/4:/V2)KM/X'4)G)x";
  struct Case {
    const Encoder& encoder;
    std::string input;
    std::vector<std::string> lines;
  } cases[] = {
      {kBase64, "", {}},
      {kBase64, "f", {"Zg==\r\n"}},
      {kBase64, "fo", {"Zm8=\r\n"}},
      {kBase64, "foo", {"Zm9v\r\n"}},
      {kBase64, "foobar", {"Zm9vYmFy\r\n"}},
      {kBase64, std::string(3, '\0'), {"AAAA\r\n"}},
      {kBase64, Pattern(57), {b64 + "\r\n"}},
      {kBase64, Pattern(58), {b64 + "\r\n", "SA==\r\n"}},
      {kBase64, Pattern(59), {b64 + "\r\n", "SG0=\r\n"}},
      {kUuencode, "", {}},
      {kUuencode, "Cat", {"#0V%T\r\n"}},
      {kUuencode, std::string(3, '\0'), {"#````\r\n"}},  // zero is "`", never a blank
      {kUuencode, "\xFF", {"!_P``\r\n"}},                // fill bits are zero
      {kUuencode, Pattern(45), {uu + "\r\n"}},
      {kUuencode, Pattern(59), {uu + "\r\n", ".C+'6^R!%:H^TV?XC2&T`\r\n"}},  // 14 bytes: "."
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.encoder.name) + ", " + std::to_string(c.input.size()) + " bytes");
    const CMessagePart part = Encoded(c.encoder, c.input);
    EXPECT_EQ(Lines(part.m_lines), c.lines);
    EXPECT_EQ(part.m_encoding, c.encoder.encoding);
    EXPECT_EQ(part.m_uuencoded, c.encoder.uuencoded);
  }
}

TEST(BlockEncoders, RandomInputsDecodeToThemselves) {
  for (const Encoder* encoder : {&kBase64, &kUuencode}) {
    const size_t n = encoder->lineBytes;
    std::mt19937 random(encoder->seed);
    for (size_t size : {size_t{1}, size_t{2}, n - 1, n, n + 1, 2 * n, size_t{70000},
                        size_t{200003}}) {
      SCOPED_TRACE(std::string(encoder->name) + ", " + std::to_string(size) + " bytes");
      std::string input;
      for (size_t i = 0; i < size; ++i) input.push_back(static_cast<char>(random() & 0xFF));
      const CMessagePart part = Encoded(*encoder, input);
      EXPECT_EQ(part.m_lines.size(), (size + n - 1) / n);
      std::string decoded, fault;
      ASSERT_TRUE(encoder->decode(part.m_lines, decoded, fault)) << fault;
      EXPECT_TRUE(decoded == input);
    }
  }
}

}  // namespace
