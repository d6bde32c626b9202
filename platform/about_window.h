// The version information display as a window of the desktop, where the
// platform has one.
#pragma once

#include "about/about_text.h"

namespace platform {

// Shows content in a modal window with its Email and Open actions and
// returns true when the user has closed it; returns false at once where the
// platform has no such window, and the caller shows the text form instead.
bool ShowAboutWindow(const AboutContent& content);

}  // namespace platform
