// Base64 (RFC 4648: standard alphabet, "=" padding), the one encoder behind
// the base64 body parts, the B form of encoded words and the AUTH strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The bytes of one line of a base64 body part: 57 make the 76 characters
// RFC 2045 allows.
constexpr size_t kBase64LineBytes = 57;

// The characters of n bytes: 4 for every 3 begun.
constexpr size_t Base64Length(size_t n) { return (n + 2) / 3 * 4; }

// Writes the Base64Length(n) characters of in[0, n) to out, the last group
// padded with "="; returns their count.
size_t EncodeBase64To(const unsigned char* in, size_t n, char* out);

// Appends the base64 of bytes to out as one unbroken run.
void AppendBase64(std::string& out, std::string_view bytes);
