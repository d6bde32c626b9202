#include "platform/terminal.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

namespace platform {
namespace {

// The settings to give back if a signal ends the process during a read.
struct termios g_saved;
volatile sig_atomic_t g_rawActive = 0;

constexpr int kEndSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

void RestoreAndReraise(int signo) {
  if (g_rawActive) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
  signal(signo, SIG_DFL);
  raise(signo);
}

// Raw mode for the life of the object; the destructor restores the
// terminal and the previous signal dispositions.
class RawMode {
 public:
  RawMode() {
    if (tcgetattr(STDIN_FILENO, &g_saved) != 0) return;
    struct sigaction action {};
    action.sa_handler = RestoreAndReraise;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kEndSignals); ++i) {
      sigaction(kEndSignals[i], &action, &m_previous[i]);
    }
    struct termios raw = g_saved;
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    g_rawActive = 1;
    m_active = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    if (!m_active) Restore();
  }
  ~RawMode() {
    if (m_active) Restore();
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  void Restore() {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    g_rawActive = 0;
    for (size_t i = 0; i < std::size(kEndSignals); ++i) {
      sigaction(kEndSignals[i], &m_previous[i], nullptr);
    }
  }

  bool m_active = false;
  struct sigaction m_previous[std::size(kEndSignals)] {};
};

int ReadByte() {
  unsigned char byte = 0;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &byte, 1);
    if (n == 1) return byte;
    if (n == 0 || errno != EINTR) return kKeyEndOfInput;
  }
}

// True when more bytes arrive right behind the first: keys such as the
// arrows send an escape sequence, which must not count as Escape.
bool DrainSequence() {
  bool more = false;
  struct pollfd fd {STDIN_FILENO, POLLIN, 0};
  while (poll(&fd, 1, 30) == 1 && (fd.revents & POLLIN)) {
    unsigned char byte = 0;
    if (read(STDIN_FILENO, &byte, 1) != 1) break;
    more = true;
  }
  return more;
}

}  // namespace

bool IsInteractiveTerminal() { return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO); }

bool IsStandardErrorTerminal() { return isatty(STDERR_FILENO); }

int ReadKey() {
  RawMode raw;
  const int key = ReadByte();
  if (key == 0x1B && DrainSequence()) return kKeyUnknown;
  return key;
}

}  // namespace platform
