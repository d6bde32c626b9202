// --max-recipients: how many recipients one transaction may carry.
#pragma once

#include <string>

// True when text is a whole number from 1 to kMaxRecipientLimit, given
// without sign or blanks; limit then holds it.
bool ParseRecipientLimit(const std::string& text, int& limit);
constexpr int kMaxRecipientLimit = 1000000;
