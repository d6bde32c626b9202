// The version information display of -#.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Shows the product's version information and returns when it is closed.
void RunAboutDialog();

// The actions of the display: writes the choice prompt to out and reads
// keys until the user closes it. "E" opens mailAddress, "O" infoAddress
// (either case); Enter, Escape, "q"/"Q", Ctrl-C, Ctrl-D and the end of input
// close. A failed open is ignored and the choice offered again.
void RunAboutChoice(const std::function<int()>& readKey,
                    const std::function<bool(const std::string&)>& open, std::FILE* out,
                    const std::string& mailAddress, const std::string& infoAddress);
