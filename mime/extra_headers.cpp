#include "mime/extra_headers.h"

#include <cstdio>

#include "base/ascii_text.h"

namespace {

// Fields the program writes: a second one would make the message invalid or
// contradict the first. Content-* as a whole belongs to the MIME structure.
constexpr const char* kReserved[] = {"From",       "To",           "Cc",   "Bcc",
                                     "Reply-To",   "Subject",      "Date", "Message-ID",
                                     "MIME-Version", "X-Mailer"};

// The longest name that leaves room for ": " and a word on a 78-character line.
constexpr size_t kMostNameBytes = 76;

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

EExtraFieldCheck ParseExtraField(std::string_view typed, SExtraField& field) {
  const size_t colon = typed.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > kMostNameBytes) {
    return EExtraFieldCheck::kInvalid;
  }
  const std::string_view name = typed.substr(0, colon);
  for (unsigned char c : name) {
    if (c <= ' ' || c >= 0x7F) return EExtraFieldCheck::kInvalid;
  }
  std::string_view value = typed.substr(colon + 1);
  for (unsigned char c : value) {
    if (IsControl(c) && c != '\t') return EExtraFieldCheck::kInvalid;
  }
  for (const char* reserved : kReserved) {
    if (EqualsIgnoringCase(name, reserved)) return EExtraFieldCheck::kReserved;
  }
  if (StartsWithIgnoringCase(name, "Content-")) return EExtraFieldCheck::kReserved;
  while (!value.empty() && (value[0] == ' ' || value[0] == '\t')) value.remove_prefix(1);
  field.name.assign(name);
  field.value.assign(value);
  return EExtraFieldCheck::kValid;
}

std::string ShownFieldText(std::string_view typed) {
  std::string shown;
  for (unsigned char c : typed) {
    if (!IsControl(c)) {
      shown += static_cast<char>(c);
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == 0) {
      shown += "\\0";
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    }
  }
  return shown;
}
