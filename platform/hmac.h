// Keyed hashing from the system's cryptographic library.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// HMAC-MD5 (RFC 2104) of data under key: the 16 bytes of the digest, or an
// empty string when the library refuses.
std::string HmacMd5(std::string_view key, std::string_view data);

}  // namespace platform
