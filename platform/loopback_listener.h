// The loopback redirect of a browser sign-in (RFC 8252 section 7.3): a
// listener on 127.0.0.1 at a free port that takes one browser request at a
// time and answers it with a short page.
#pragma once

#include <string>

namespace platform {

class CLoopbackListener {
 public:
  CLoopbackListener() = default;
  ~CLoopbackListener();
  CLoopbackListener(const CLoopbackListener&) = delete;
  CLoopbackListener& operator=(const CLoopbackListener&) = delete;

  // Listens on 127.0.0.1 at a port the system picks.
  bool Open();
  int Port() const { return m_port; }
  // Waits at most timeoutMs (0: no bound) for a request and reads it up to
  // its blank line; requestLine receives its first line. False on timeout.
  bool Next(int timeoutMs, std::string& requestLine);
  // Answers the request Next returned with an HTML page and closes it.
  void Answer(int status, const std::string& html);

 private:
  long long m_listener = -1;
  long long m_connection = -1;
  int m_port = 0;
};

// True when a graphical session is there to show a browser.
bool HasDesktop();

}  // namespace platform
