// The rule for an address that goes between "<" and ">" in the envelope.
#pragma once

#include <string_view>

// False when address holds "<", ">", a blank or a control byte (below 0x20,
// or 0x7F): any of them would close the address early or carry text past
// it, such as ESMTP parameters, into MAIL FROM or RCPT TO. An empty address
// is valid.
bool IsValidAddress(std::string_view address);
