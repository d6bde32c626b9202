#include "platform/about_window.h"

namespace platform {

// A console program here has no desktop window of its own: the caller shows
// the text form on the terminal.
bool ShowAboutWindow(const AboutContent&) { return false; }

}  // namespace platform
