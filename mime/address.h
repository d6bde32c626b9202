// The rule for an address that goes between "<" and ">" in the envelope.
#pragma once

#include <cstddef>
#include <string_view>

// The longest address: RFC 5321's path of 256 octets less its brackets.
// Longer ones would also make header lines no relay has to take.
constexpr size_t kMaxAddress = 254;

// False when address holds "<", ">", a blank or a control byte (below 0x20,
// or 0x7F): any of them would close the address early or carry text past
// it, such as ESMTP parameters, into MAIL FROM or RCPT TO. False too when
// it is longer than kMaxAddress. An empty address is valid.
bool IsValidAddress(std::string_view address);

