#include "about/about_dialog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/terminal.h"

namespace {

struct Outcome {
  std::vector<std::string> opened;
  size_t keysRead = 0;
  size_t prompts = 0;
};

// Plays keys to the choice loop; opening succeeds as openSucceeds says.
Outcome Play(const std::vector<int>& keys, bool openSucceeds = true) {
  Outcome outcome;
  std::FILE* out = std::tmpfile();
  EXPECT_NE(out, nullptr);
  if (!out) return outcome;
  RunAboutChoice(
      [&] { return outcome.keysRead < keys.size() ? keys[outcome.keysRead++] : 'x'; },
      [&](const std::string& address) {
        outcome.opened.push_back(address);
        return openSucceeds;
      },
      out, "MAILTO:m", "http://i");
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(out);
  const std::string prompt = "[E]mail support, [O]pen product info, [Q]uit: ";
  for (size_t pos = 0; (pos = text.find(prompt, pos)) != std::string::npos; pos += prompt.size()) {
    ++outcome.prompts;
  }
  return outcome;
}

TEST(AboutChoice, KeysOpenOrClose) {
  const std::string mail = "MAILTO:m", info = "http://i";
  struct Case {
    const char* name;
    std::vector<int> keys;
    std::vector<std::string> opened;
  } cases[] = {
      {"E then q", {'E', 'q'}, {mail}},
      {"lower case e, o, then Q", {'e', 'o', 'O', 'Q'}, {mail, info, info}},
      {"Enter", {'\r'}, {}},
      {"line feed", {'\n'}, {}},
      {"Escape", {0x1B}, {}},
      {"Ctrl-C", {0x03}, {}},
      {"Ctrl-D", {0x04}, {}},
      {"end of input", {platform::kKeyEndOfInput}, {}},
      {"other keys are ignored", {'x', ' ', platform::kKeyUnknown, 'O', 'q'}, {info}},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Play(c.keys);
    EXPECT_EQ(outcome.opened, c.opened) << c.name;
    EXPECT_EQ(outcome.keysRead, c.keys.size()) << c.name;
    EXPECT_EQ(outcome.prompts, c.keys.size()) << c.name;
  }
}

TEST(AboutChoice, FailedOpenOffersTheChoiceAgain) {
  const Outcome outcome = Play({'E', 'O', 'q'}, false);
  EXPECT_EQ(outcome.opened, (std::vector<std::string>{"MAILTO:m", "http://i"}));
  EXPECT_EQ(outcome.prompts, 3u);
}

}  // namespace
