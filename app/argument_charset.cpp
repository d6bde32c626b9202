#include "app/argument_charset.h"

#include <cstdio>

#include "app/send_driver.h"
#include "mime/charset_table.h"
#include "platform/code_page.h"
#include "platform/standard_input.h"
#include "platform/text_encoding.h"

namespace {

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

constexpr const char* kTextSwitches[] = {"o", "r", "c", "C", "R", "s"};

// The name a part shows: the last path component, as the part writer takes it.
std::vector<std::string> ShownFileNames(const CSwitchCommandLineInfo& switches) {
  std::vector<std::string> names;
  std::string value;
  if (!switches.LookupSwitch("f", value)) return names;
  std::vector<std::string> entries;
  SplitList(value, entries, ',');
  for (const std::string& entry : entries) {
    const SFileEntry parsed = ParseFileEntry(entry);
    if (!parsed.fileName.empty()) names.push_back(parsed.fileName);
  }
  return names;
}

}  // namespace

SArgumentCharset ChooseArgumentCharset(const std::vector<std::string>& texts,
                                       const std::string& requested, unsigned defaultCodePage,
                                       unsigned labelCodePage, const TextConverter& convert) {
  SArgumentCharset choice;
  std::string converted;
  if (!requested.empty()) {
    choice.charset = requested;
    choice.codePage = CodePageForCharset(requested);
    for (const std::string& text : texts) {
      if (IsAscii(text)) continue;
      if (choice.codePage == 0 || !convert(text, choice.codePage, converted)) {
        choice.ok = false;
        choice.refused = text;
        return choice;
      }
    }
    return choice;
  }
  choice.codePage = defaultCodePage;
  std::string labelled;
  for (const std::string& text : texts) {
    if (IsAscii(text)) continue;
    const bool fits = convert(text, defaultCodePage, converted) &&
                      (labelCodePage == 0 || labelCodePage == defaultCodePage ||
                       (convert(text, labelCodePage, labelled) && labelled == converted));
    if (!fits) {
      choice.charset = "UTF-8";
      choice.codePage = 65001;
      return choice;
    }
  }
  return choice;
}

bool WriteArgumentsInCharset(CSwitchCommandLineInfo& switches, std::string& headerCharset) {
  if (!platform::ArgumentsAreUnicode()) return true;
  std::vector<std::string> texts;
  std::string value;
  for (const char* letter : kTextSwitches) {
    if (switches.LookupSwitch(letter, value)) texts.push_back(value);
  }
  for (const std::string& name : ShownFileNames(switches)) texts.push_back(name);
  std::string requested;
  switches.LookupSwitch("l", requested);

  const unsigned ansi = platform::DefaultCodePage();
  const unsigned label = CodePageForCharset(DefaultCharset(ansi, platform::LocaleCodeSet()));
  const SArgumentCharset choice =
      ChooseArgumentCharset(texts, requested, ansi, label, platform::TextInCodePage);
  if (!choice.ok) {
    std::fprintf(stderr, "Cannot write %s in charset %s\n", choice.refused.c_str(),
                 requested.c_str());
    std::fflush(stderr);
    return false;
  }
  for (const char* letter : kTextSwitches) {
    std::string converted;
    if (switches.LookupSwitch(letter, value) &&
        platform::TextInCodePage(value, choice.codePage, converted)) {
      switches.ReplaceSwitch(letter, converted);
    }
  }
  headerCharset = choice.charset;
  // The message text typed on a console is labelled with the parts'
  // charset: -l's, else the default.
  platform::TypeInCodePage(requested.empty() ? platform::DefaultCodePage()
                                             : CodePageForCharset(requested));
  return true;
}
