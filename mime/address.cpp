#include "mime/address.h"

bool IsValidAddress(std::string_view address) {
  if (address.size() > kMaxAddress) return false;
  for (char c : address) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte == '<' || byte == '>' || byte == ' ' || byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}
