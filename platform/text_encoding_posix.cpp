#include "platform/text_encoding.h"

namespace platform {

// The words are the locale's bytes, and the locale's charset labels them.
bool ArgumentsAreUnicode() { return false; }

bool TextInCodePage(std::string_view text, unsigned, std::string& converted) {
  converted.assign(text);
  return true;
}

}  // namespace platform
