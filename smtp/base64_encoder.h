// Base64 (RFC 4648, standard alphabet, "=" padding) for the AUTH steps: one
// unbroken string, no line breaks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class CBase64Encoder {
 public:
  virtual ~CBase64Encoder() = default;

  // The bytes of text up to its terminating NUL.
  std::string EncodeText(const char* text) const;
  // Exactly length bytes, NUL bytes included.
  std::string EncodeBytes(const void* data, size_t length) const;
};

// The bytes of a base64 text as a relay sends it in a 334 reply: padding is
// optional, blanks are not allowed. False on any other byte or a length that
// leaves a lone character.
bool DecodeBase64(std::string_view text, std::string& bytes);
