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

}  // namespace
