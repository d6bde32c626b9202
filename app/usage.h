#pragma once

// The usage text, exactly as printed.
const char* UsageText();
// Writes the usage text to standard error in one piece.
void PrintUsage();
// The usage text followed by one line per long option, to standard output.
void PrintHelp();
