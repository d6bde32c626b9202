// Single keys from the user's terminal.
#pragma once

namespace platform {

// What ReadKey returns besides a byte value (0 to 255).
constexpr int kKeyEndOfInput = -1;  // end of input or a read error
constexpr int kKeyUnknown = -2;     // a multi-byte key such as an arrow key

// True when standard input and standard output are both a terminal.
bool IsInteractiveTerminal();

// True when standard error is a terminal (a console on Windows), where a
// line can be rewritten in place with a carriage return.
bool IsStandardErrorTerminal();

// Reads one key from standard input with the terminal in raw mode (no line
// editing, no echo, no signal keys) and gives the terminal its previous
// settings back before returning, also when the process is ended by a
// signal while waiting.
int ReadKey();

}  // namespace platform
