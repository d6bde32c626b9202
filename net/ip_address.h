// IP address literals as text: IPv6 parsed and written in the form of
// RFC 4291 section 2.2 and RFC 5952, IPv4 written dotted.
#pragma once

#include <string>

#include "platform/socket.h"

// True when text is an IPv6 address literal without brackets or zone
// ("2001:db8::25", "::ffff:192.0.2.1"); address then receives it.
bool ParseIPv6Literal(const std::string& text, platform::SAddress& address);

// The text form of an address: dotted for IPv4, the RFC 5952 form for IPv6
// (lower case, no leading zeros, the longest run of two or more zero groups,
// the first of equal runs, as "::", and an IPv4-mapped address with its
// dotted tail). Empty without a family.
std::string FormatAddress(const platform::SAddress& address);
