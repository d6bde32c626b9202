#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (char c : bytes) {
    text.push_back(kHex[static_cast<unsigned char>(c) >> 4]);
    text.push_back(kHex[static_cast<unsigned char>(c) & 15]);
  }
  return text;
}

// RFC 2202 section 2, with the keys longer than a block that get hashed
// first, and the empty key and data.
TEST(HmacMd5, Vectors) {
  struct Case {
    std::string key;
    std::string data;
    const char* digest;
  } cases[] = {
      {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
      {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
      {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {"", "", "74e6f7298a9c2d168935f58c001bad88"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(platform::HmacMd5(c.key, c.data)), c.digest) << c.data;
  }
}

// FIPS 180-4's examples, and the empty message.
TEST(Sha256, Vectors) {
  EXPECT_EQ(Hex(platform::Sha256("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(platform::Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(platform::Sha256("")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
