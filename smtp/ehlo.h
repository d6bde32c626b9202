// The keywords a relay lists in its EHLO reply.
#pragma once

#include <map>
#include <string>
#include <vector>

// Keyword in upper case -> its parameters as sent ("AUTH" -> "PLAIN LOGIN").
using EhloKeywords = std::map<std::string, std::string>;

// The keywords of an EHLO reply given as its lines with their codes: the
// first line greets and is skipped; a line whose keyword holds anything but
// letters, digits and "-" is ignored.
EhloKeywords ParseEhloKeywords(const std::vector<std::string>& lines);
