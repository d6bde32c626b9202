// Header fields the user adds with --header "Name: value": checked before
// anything is read, written after the program's own fields by the writer of
// the Subject (folded, RFC 2047 words for text that is not ASCII).
#pragma once

#include <string>
#include <string_view>

struct SExtraField {
  std::string name;
  std::string value;
  // The charset the value's bytes are in; empty: the header block's.
  std::string charset;
};

enum class EExtraFieldCheck {
  kValid,
  kInvalid,   // not "Name: value", a name that is not a field name, a control byte
  kReserved,  // a field the program writes itself
};

// Splits typed at its first ":" into field (the value without the blanks
// that follow the colon). A name is 1 to 76 printable ASCII bytes without
// ":" or blanks; a value may hold any byte but a control byte other than
// TAB (a CR or LF would start a field of the user's choosing).
EExtraFieldCheck ParseExtraField(std::string_view typed, SExtraField& field);

// typed as it may be shown on one line: control bytes as \r, \n, \t, \0 or
// \xHH.
std::string ShownFieldText(std::string_view typed);
