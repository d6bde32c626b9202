// Hashing and random bytes from the system's cryptographic library: for
// PKCE (RFC 7636) and the OAuth 2.0 state value, and CRAM-MD5's HMAC.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// SHA-256 of data: the 32 bytes of the digest, or an empty string when the
// library refuses.
std::string Sha256(std::string_view data);

// HMAC-MD5 (RFC 2104) of data under key: the 16 bytes of the digest, or an
// empty string when the library refuses.
std::string HmacMd5(std::string_view key, std::string_view data);

// count bytes from the system's cryptographically secure generator, or an
// empty string when it fails (callers must then stop: no weak fallback).
std::string SecureRandomBytes(std::size_t count);

}  // namespace platform
