// Uuencoding of body parts (CMessagePart::EncodeUuencode).
#pragma once

#include <cstddef>

// The bytes of one line: 45, announced by the length character "M", make 60
// characters.
constexpr size_t kUuencodeLineBytes = 45;
