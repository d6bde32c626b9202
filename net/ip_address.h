// IP address literals as text, the one reader of them: IPv6 parsed and
// written in the form of RFC 4291 section 2.2 and RFC 5952, IPv4 read as
// dotted decimal (or, for a relay's host, as inet_addr reads it) and
// written dotted. The rules are pinned by tests/net/ip_address_test.cpp.
#pragma once

#include <string>
#include <string_view>

#include "platform/socket.h"

// True when text is a dotted IPv4 literal: four decimal parts of 0 to 255,
// without leading zeros (which some parsers read as octal), the whole of
// text ("192.0.2.1"); address then receives it. The form certificates and
// the dotted tail of an IPv6 literal are read in.
bool ParseIPv4Literal(std::string_view text, platform::SAddress& address);

// True when text is an IPv6 address literal without brackets or zone
// ("2001:db8::25", "::ffff:192.0.2.1"); address then receives it.
bool ParseIPv6Literal(std::string_view text, platform::SAddress& address);

// Either literal, optionally in brackets ("[::1]").
bool ParseAddressLiteral(std::string_view text, platform::SAddress& address);

// An IPv4 address as inet_addr reads a host: "a.b.c.d", "a.b.c" (c fills 16
// bits), "a.b" (b fills 24 bits) or "a" (32 bits), each part decimal, octal
// after a leading 0 or hexadecimal after 0x; white space and what follows it
// end the text. False for 255.255.255.255, which inet_addr cannot tell from
// a failure, as for anything else.
bool ParseInetAddress(std::string_view text, platform::SAddress& address);

// The text form of an address: dotted for IPv4, the RFC 5952 form for IPv6
// (lower case, no leading zeros, the longest run of two or more zero groups,
// the first of equal runs, as "::", and an IPv4-mapped address with its
// dotted tail). Empty without a family.
std::string FormatAddress(const platform::SAddress& address);
