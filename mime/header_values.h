// Pure helpers for the values that go into header lines and envelope
// commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

// value with every CR or LF byte written as a blank, so that a value can
// never end its line early (and so never start a header field, an SMTP
// command or the end of the data).
std::string NeutraliseLineBreaks(std::string_view value);

// The last name of path: the text after the last of its separators, or
// the whole path when it holds none.
std::string_view LastPathName(std::string_view path, std::string_view separators);

// RFC 5322 date-time with English names whatever the locale, for example
// "Thu, 10 Dec 2026 03:22:15 +0100".
std::string FormatDateTime(const platform::LocalTime& time);

// What a message's Date and Message-ID fields are made from.
struct SMessageStamp {
  platform::LocalTime time;
  unsigned long processId = 0;
  uint64_t random = 0;
};
SMessageStamp CurrentMessageStamp();

// The right-hand side of the Message-ID: the text after the last "@" of the
// originator address, else the local host name, else "localhost".
std::string MessageIdDomain(const std::string& originatorAddress,
                            const std::string& localHostName);

// "<YYYYMMDDhhmmss.pid.random@domain>", the angle brackets included.
std::string FormatMessageId(const SMessageStamp& stamp, const std::string& domain);
