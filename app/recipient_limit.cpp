#include "app/recipient_limit.h"

#include "base/ascii_text.h"

bool ParseRecipientLimit(const std::string& text, int& limit) {
  // No leading zero: "010" is no count a person writes.
  return !text.empty() && text[0] != '0' &&
         ParseBoundedDecimal(text, 7, 1, kMaxRecipientLimit, limit);
}
