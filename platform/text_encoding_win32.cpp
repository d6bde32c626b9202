#include "platform/text_encoding.h"

#include <windows.h>

#include "platform/wide_text_win32.h"

namespace platform {

bool ArgumentsAreUnicode() { return true; }

// Some code pages (the ISO-2022 family, UTF-7, GB18030) take no flags and
// no default character, so loss is found by converting back and comparing:
// that also catches the "best fit" letters Windows would substitute.
bool TextInCodePage(std::string_view text, unsigned codePage, std::string& converted) {
  converted.clear();
  if (text.empty()) return true;
  if (codePage == CP_UTF8) {
    const int size = static_cast<int>(text.size());
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0) <= 0) {
      return false;
    }
    converted.assign(text);
    return true;
  }
  const std::wstring wide = WideFromUtf8(text);
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  std::string bytes(n, '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), size, bytes.data(), n, nullptr, nullptr);
  const int back = MultiByteToWideChar(codePage, 0, bytes.data(), n, nullptr, 0);
  if (back != size) return false;
  std::wstring again(back, L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), n, again.data(), back);
  if (again != wide) return false;
  converted = std::move(bytes);
  return true;
}

}  // namespace platform
