// Whole header lines for text and addresses in any language: RFC 2047
// encoded words where a value holds a byte of 0x80 or more or a control
// byte (or a word too long for any line), quoted display names where
// RFC 5322 needs them, and folding. A value that is printable ASCII and
// fits in 78 characters comes out exactly as "lead" + value. Each result
// has no final CR LF.
#pragma once

#include <string>
#include <string_view>

// lead + value for unstructured text, lead being for example "Subject: ".
// charset labels encoded words; empty: UTF-8 when valid, else unknown-8bit.
std::string FormatTextField(std::string_view lead, std::string_view value,
                            std::string_view charset);

// lead + display name + tail, tail being what follows the name (for
// example " <ann@example.org>,"). Blanks around the name stay as they are;
// the name itself is kept when it is a valid phrase of ASCII, else written
// as a quoted string, or as encoded words when it holds a byte of 0x80 or
// more or a control byte.
std::string FormatAddressLine(std::string_view lead, std::string_view name,
                              std::string_view tail, std::string_view charset);

// lead + an address field value as typed: a name before "<" is treated as
// by FormatAddressLine, a value without "<" is written as it is.
std::string FormatAddressField(std::string_view lead, std::string_view value,
                               std::string_view charset);
