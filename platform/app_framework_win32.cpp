#include "platform/app_framework.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/wide_text_win32.h"

// The runtime's own splitter of the wide command line: the same quoting
// rules as the argv it gives main, so a word splits as it always did.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment,
                              int expandWildcards, int* startInfo);

namespace platform {

// The words come from the wide command line, converted to UTF-8, so that a
// subject or a file name outside the ANSI code page arrives whole instead
// of as question marks.
bool InitApplicationFramework(int argc, char** argv) {
  if (GetModuleHandleA(nullptr) == nullptr) return false;
  int count = 0;
  wchar_t** words = nullptr;
  wchar_t** environment = nullptr;
  int startInfo = 0;
  if (__wgetmainargs(&count, &words, &environment, 0, &startInfo) == 0 && words != nullptr &&
      count == argc) {
    std::vector<std::string>& store = CommandLineWordStore();
    store.clear();
    for (int i = 0; i < count; ++i) store.push_back(Utf8FromWide(words[i]));
    return true;
  }
  // The system's own splitter, whose rules differ only for runs of quotes.
  wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
  if (split == nullptr) {
    CommandLineWordStore().assign(argv, argv + argc);
    return true;
  }
  std::vector<std::string>& store = CommandLineWordStore();
  store.clear();
  for (int i = 0; i < count; ++i) store.push_back(Utf8FromWide(split[i]));
  LocalFree(split);
  return true;
}

const char* SwitchPrefixes() { return "-/"; }

}  // namespace platform
