// The rule for an address that goes between "<" and ">" in the envelope.
#pragma once

#include <cstddef>
#include <string_view>

// The longest address SMTP carries: a path of 256 octets with its brackets
// (RFC 5321 section 4.5.3.1.3). It also keeps every header line that holds
// an address, and the Message-ID made from the originator's, within 998.
constexpr size_t kMaxAddressLength = 254;

// False when address holds "<", ">", a blank or a control byte (below 0x20,
// or 0x7F): any of them would close the address early or carry text past
// it, such as ESMTP parameters, into MAIL FROM or RCPT TO. False too when
// it is longer than kMaxAddressLength. An empty address is valid.
bool IsValidAddress(std::string_view address);
