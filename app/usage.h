#pragma once

#include <string>

// The usage text, exactly as printed.
const char* UsageText();
// Writes the usage text to standard error in one piece.
void PrintUsage();
// The usage text followed by one line per long option, grouped, to
// standard output.
void PrintHelp();
// The program's version, the TLS library and what is built in; the first
// line is "velsend VERSION".
std::string VersionText();
// VersionText to standard output.
void PrintVersion();
