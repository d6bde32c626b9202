// Base64 (RFC 4648, standard alphabet, "=" padding) for the AUTH steps: one
// unbroken string, no line breaks.
#pragma once

#include <cstddef>
#include <string>

class CBase64Encoder {
 public:
  virtual ~CBase64Encoder() = default;

  // The bytes of text up to its terminating NUL.
  std::string EncodeText(const char* text) const;
  // Exactly length bytes, NUL bytes included.
  std::string EncodeBytes(const void* data, size_t length) const;
};
