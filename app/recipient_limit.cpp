#include "app/recipient_limit.h"

bool ParseRecipientLimit(const std::string& text, int& limit) {
  if (text.empty() || text.size() > 7 || text[0] == '0') return false;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > kMaxRecipientLimit) return false;
  limit = value;
  return true;
}
