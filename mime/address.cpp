#include "mime/address.h"

bool IsValidAddress(std::string_view address) {
  if (address.size() > kMaxAddress) return false;
  for (char c : address) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte == '<' || byte == '>' || byte == ' ' || byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

bool IsCharsetName(std::string_view name) {
  if (name.empty() || name.size() > kMaxCharsetName) return false;
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    // RFC 2045's token: printable ASCII without blanks or tspecials.
    if (byte <= 0x20 || byte >= 0x7F || std::string_view("()<>@,;:\\\"/[]?=").find(c) !=
                                              std::string_view::npos) {
      return false;
    }
  }
  return true;
}
