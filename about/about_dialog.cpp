#include "about/about_dialog.h"

#include "about/about_text.h"
#include "about/version_info.h"
#include "platform/about_window.h"
#include "platform/shell.h"
#include "platform/terminal.h"
#include "product_config.h"

void RunAboutChoice(const std::function<int()>& readKey,
                    const std::function<bool(const std::string&)>& open, std::FILE* out,
                    const std::string& mailAddress, const std::string& infoAddress) {
  for (;;) {
    std::fputs("\n[E]mail support, [O]pen product info, [Q]uit: ", out);
    std::fflush(out);
    const int key = readKey();
    // The terminal does not echo in raw mode: show the letter chosen.
    if (key > 0x20 && key < 0x7F) std::fputc(key, out);
    std::fputc('\n', out);
    std::fflush(out);
    switch (key) {
      case 'E':
      case 'e':
        open(mailAddress);
        break;
      case 'O':
      case 'o':
        open(infoAddress);
        break;
      case 'Q':
      case 'q':
      case '\r':
      case '\n':
      case 0x1B:  // Escape
      case 0x03:  // Ctrl-C
      case 0x04:  // Ctrl-D
      case platform::kKeyEndOfInput:
        return;
      default:
        break;
    }
  }
}

// Without a terminal to answer, the display is written and the run ends:
// standard input may hold anything and is never read here.
void RunAboutDialog() {
  CVersionInfo info;
  const AboutContent content = ReadAboutContent(info, VELSEND_DOC_URL);
  if (platform::ShowAboutWindow(content)) return;  // the desktop's window, where there is one
  const std::string text = RenderAboutText(content);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  if (!platform::IsInteractiveTerminal()) return;
  RunAboutChoice(platform::ReadKey, platform::ShellOpen, stdout, SupportMailAddress(content),
                 ProductInfoAddress(content));
}
