#include "smtp/base64_encoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Base64Encoder, Vectors) {
  struct Case {
    std::string bytes;
    const char* encoded;
  } cases[] = {
      // RFC 4648 section 10.
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      // The last two letters of the alphabet and high bytes.
      {"\xfb\xff", "+/8="},
      {"\xff\xfe\xfd", "//79"},
      // NUL bytes are data.
      {std::string("\0user\0pass", 10), "AHVzZXIAcGFzcw=="},
      {std::string("\0\0\0", 3), "AAAA"},
  };
  CBase64Encoder encoder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoded);
    EXPECT_EQ(encoder.EncodeBytes(c.bytes.data(), c.bytes.size()), c.encoded);
  }
}

TEST(Base64Encoder, TextEndsAtItsNul) {
  CBase64Encoder encoder;
  EXPECT_EQ(encoder.EncodeText("foobar"), "Zm9vYmFy");
  EXPECT_EQ(encoder.EncodeText("fo\0obar"), "Zm8=");
  EXPECT_EQ(encoder.EncodeText(""), "");
}

TEST(Base64Encoder, LongInputIsOneUnbrokenLine) {
  const std::string bytes(1000, '\x5a');
  const std::string encoded = CBase64Encoder().EncodeBytes(bytes.data(), bytes.size());
  std::string expected;
  for (int i = 0; i < 333; ++i) expected += "Wlpa";  // "ZZZ"
  expected += "Wg==";                                // the last "Z"
  EXPECT_EQ(encoded, expected);
}

TEST(DecodeBase64, RelayChallenges) {
  struct Case {
    const char* text;
    bool valid;
    std::string bytes;
  } cases[] = {
      {"Zm9vYmFy", true, "foobar"},
      {"Zm9vYg==", true, "foob"},
      {"Zm9vYg", true, "foob"},  // padding left out
      {"+/8=", true, "\xfb\xff"},
      {"AHVzZXIAcGFzcw==", true, std::string("\0user\0pass", 10)},
      {"", true, ""},
      {"Zm9vY", false, ""},      // a lone sixth of a byte
      {"Zm9v Yg==", false, ""},  // blanks are not base64
      {"Zm9=vYg", false, ""},    // padding inside
      {"Zm9v\xc3\xa9", false, ""},
  };
  for (const Case& c : cases) {
    std::string bytes = "left over";
    EXPECT_EQ(DecodeBase64(c.text, bytes), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
  }
  // Every length round-trips through the encoder.
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (size_t n = 0; n <= all.size(); n += 37) {
    std::string back;
    EXPECT_TRUE(DecodeBase64(CBase64Encoder().EncodeBytes(all.data(), n), back));
    EXPECT_EQ(back, all.substr(0, n));
  }
}

}  // namespace
