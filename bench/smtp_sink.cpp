// A fast SMTP sink for the benchmarks: accepts one client at a time on
// 127.0.0.1, answers every command so that common clients complete a
// transaction, reads each message to its final "." and reports its size.
//
//   bench_sink --port-file F [--log F] [--save F] [--cert F --key F]
//                                        serve until SIGTERM; the chosen port
//                                        goes to the port file, one line per
//                                        message ("<data bytes>") to the log,
//                                        and with --save each message's data
//                                        (as received) to that file
//   bench_sink --self-test MiB [--cert F --key F]
//                                        serve one message pushed by an own
//                                        client thread and print MiB/s
//
// With a certificate and its key (PEM), EHLO offers STARTTLS and the
// dialogue continues over TLS after "220 ready"; the self-test then pushes
// its message over TLS too.
//
// Data bytes are the bytes between the 354 reply and the final ".\r\n",
// counted as received (dot-stuffing included).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr size_t kReceiveBlock = 4 << 20;
constexpr std::string_view kEnd = "\r\n.\r\n";
// OpenSSL's read-ahead buffer: the socket is read in blocks of this size
// rather than one TLS record (at most 16 KiB) at a time. 1 MiB cost twice
// the CPU time of 64 KiB here (OpenSSL moves the buffered bytes about).
constexpr long kTlsReadAhead = 64 << 10;

// One side of a connection: the socket, and the TLS session once there is one.
struct Link {
  int fd = -1;
  SSL* ssl = nullptr;

  ~Link() {
    if (ssl) {
      SSL_shutdown(ssl);
      SSL_free(ssl);
    }
  }

  bool Send(std::string_view text) {
    while (!text.empty()) {
      int chunk = static_cast<int>(std::min<size_t>(text.size(), 1 << 30));
      ssize_t n = ssl ? SSL_write(ssl, text.data(), chunk)
                      : ::send(fd, text.data(), static_cast<size_t>(chunk), MSG_NOSIGNAL);
      if (n <= 0) return false;
      text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  // Blocks for at least one byte; over TLS, then also takes every record
  // already read ahead, so that the data is scanned in large chunks.
  ssize_t Receive(char* into, size_t size) {
    if (!ssl) return ::recv(fd, into, size, 0);
    size_t got = 0;
    do {
      int want = static_cast<int>(std::min<size_t>(size - got, 1 << 30));
      int n = SSL_read(ssl, into + got, want);
      if (n <= 0) return got > 0 ? static_cast<ssize_t>(got) : -1;
      got += static_cast<size_t>(n);
    } while (got < size && SSL_has_pending(ssl));
    return static_cast<ssize_t>(got);
  }
};

SSL_CTX* MakeContext(bool server, const char* cert, const char* key) {
  SSL_CTX* ctx = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
  if (!ctx) return nullptr;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_read_ahead(ctx, 1);
  SSL_CTX_set_default_read_buffer_len(ctx, kTlsReadAhead);
  if (server && (SSL_CTX_use_certificate_chain_file(ctx, cert) != 1 ||
                 SSL_CTX_use_PrivateKey_file(ctx, key, SSL_FILETYPE_PEM) != 1)) {
    ERR_print_errors_fp(stderr);
    SSL_CTX_free(ctx);
    return nullptr;
  }
  return ctx;
}

// Where "\r\n.\r\n" lies wholly within text, or npos. A "." is rare in
// message data (never in base64), so memchr for it beats memmem for the
// whole end, whose "\r\n" matches on every line.
size_t FindEnd(std::string_view text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  for (const char* dot = begin + 2; dot < end; ++dot) {
    dot = static_cast<const char*>(std::memchr(dot, '.', static_cast<size_t>(end - dot)));
    if (dot == nullptr || end - dot < 3) break;
    if (dot[-2] == '\r' && dot[-1] == '\n' && dot[1] == '\r' && dot[2] == '\n') {
      return static_cast<size_t>(dot - 2 - begin);
    }
  }
  return std::string_view::npos;
}

bool StartsWithWord(std::string_view line, std::string_view word) {
  if (line.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char c = line[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  return true;
}

// Serves one connection; calls report(bytes) for every message. With a
// server context, STARTTLS is offered (once) and taken.
template <typename Report>
void Serve(int fd, Report report, std::string* capture = nullptr, SSL_CTX* tls = nullptr) {
  Link link{fd};
  // Every reply is one write; without this, a reply written right after
  // TLS 1.3's session tickets waits for the client's delayed ACK (40 ms).
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::vector<char> buffer(kReceiveBlock);
  std::string pending;       // command bytes not yet ending in a line break
  bool inData = false;
  bool startTls = false;     // "220 ready" sent: the handshake comes next
  size_t dataBytes = 0;
  std::string tail;          // the last bytes of data, to find an end split across reads
  if (!link.Send("220 bench-sink ESMTP\r\n")) return;

  auto command = [&](std::string_view line) -> bool {
    if (StartsWithWord(line, "EHLO")) {
      return link.Send(tls && !link.ssl ? "250-bench-sink\r\n250-8BITMIME\r\n250 STARTTLS\r\n"
                                          : "250-bench-sink\r\n250 8BITMIME\r\n");
    }
    if (StartsWithWord(line, "STARTTLS") && tls && !link.ssl) {
      startTls = true;
      return link.Send("220 ready\r\n");
    }
    if (StartsWithWord(line, "HELO")) return link.Send("250 bench-sink\r\n");
    if (StartsWithWord(line, "MAIL") || StartsWithWord(line, "RCPT") ||
        StartsWithWord(line, "RSET") || StartsWithWord(line, "NOOP")) {
      return link.Send("250 OK\r\n");
    }
    if (StartsWithWord(line, "DATA")) {
      inData = true;
      dataBytes = 0;
      if (capture) capture->clear();
      // The data begins at the start of a line, as if after CR LF.
      tail = "\r\n";
      return link.Send("354 go ahead\r\n");
    }
    if (StartsWithWord(line, "QUIT")) {
      link.Send("221 bye\r\n");
      return false;
    }
    return link.Send("502 not here\r\n");
  };

  for (;;) {
    if (startTls) {
      // Whatever the client sent after STARTTLS in clear text is dropped.
      startTls = false;
      pending.clear();
      link.ssl = SSL_new(tls);
      if (!link.ssl || SSL_set_fd(link.ssl, fd) != 1 || SSL_accept(link.ssl) != 1) {
        ERR_print_errors_fp(stderr);
        return;
      }
    }
    ssize_t n = link.Receive(buffer.data(), buffer.size());
    if (n <= 0) return;
    std::string_view chunk(buffer.data(), static_cast<size_t>(n));
    while (!chunk.empty() && !startTls) {
      if (inData) {
        // The end may be split across reads: look in the tail joined with
        // the head of this chunk first. A match there always reaches into
        // the chunk, the tail being shorter than the end.
        size_t consumed = std::string_view::npos;
        std::string joint = tail;
        joint.append(chunk.substr(0, 4));
        size_t at = joint.find(kEnd);
        if (at != std::string::npos) {
          consumed = at + kEnd.size() - tail.size();
        } else {
          size_t hit = FindEnd(chunk);
          if (hit != std::string_view::npos) consumed = hit + kEnd.size();
        }
        if (consumed == std::string_view::npos) {
          dataBytes += chunk.size();
          if (capture) capture->append(chunk);
          tail.append(chunk.substr(chunk.size() - std::min<size_t>(4, chunk.size())));
          tail.erase(0, tail.size() - std::min<size_t>(4, tail.size()));
          break;
        }
        // Everything up to the CR LF before the "." is message data.
        dataBytes += consumed - 3;
        if (capture) {
          capture->append(chunk.substr(0, consumed));
          capture->resize(capture->size() - 3);
        }
        chunk.remove_prefix(consumed);
        inData = false;
        report(dataBytes);
        char reply[64];
        std::snprintf(reply, sizeof reply, "250 OK %zu bytes\r\n", dataBytes);
        if (!link.Send(reply)) return;
        continue;
      }
      size_t lf = chunk.find('\n');
      if (lf == std::string_view::npos) {
        pending.append(chunk);
        if (pending.size() > 65536) return;
        break;
      }
      pending.append(chunk.substr(0, lf + 1));
      chunk.remove_prefix(lf + 1);
      std::string line;
      line.swap(pending);
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      if (!command(line)) return;
    }
  }
}


int Listen(uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 8) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

int RunServer(const char* portFile, const char* logFile, const char* saveFile, SSL_CTX* tls) {
  uint16_t port = 0;
  int listener = Listen(port);
  if (listener < 0) {
    std::perror("bench_sink: listen");
    return 1;
  }
  std::FILE* log = logFile ? std::fopen(logFile, "a") : stdout;
  if (!log) {
    std::perror("bench_sink: log");
    return 1;
  }
  // Written last, to a temporary name first: the port file's presence means
  // the sink is ready.
  std::string temporary = std::string(portFile) + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "w");
  if (!out) return 1;
  std::fprintf(out, "%u\n", port);
  std::fclose(out);
  std::rename(temporary.c_str(), portFile);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  while (!g_stop) {
    int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;  // EINTR on the stop signal
    std::string capture;
    Serve(
        client,
        [&](size_t bytes) {
          if (saveFile) {
            std::FILE* save = std::fopen(saveFile, "wb");
            if (save) {
              std::fwrite(capture.data(), 1, capture.size(), save);
              std::fclose(save);
            }
          }
          std::fprintf(log, "%zu\n", bytes);
          std::fflush(log);
        },
        saveFile ? &capture : nullptr, tls);
    ::close(client);
  }
  ::close(listener);
  return 0;
}

// Pushes one message of the given size in large writes and reports the rate
// the sink took it at, so that it is known never to be the bottleneck. With
// a server context the message goes over STARTTLS.
int RunSelfTest(long mebibytes, SSL_CTX* tls) {
  uint16_t port = 0;
  int listener = Listen(port);
  if (listener < 0) return 1;
  size_t received = 0;
  std::thread server([&] {
    int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    Serve(client, [&](size_t bytes) { received = bytes; }, nullptr, tls);
    ::close(client);
  });

  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  // Lines shaped like base64 output.
  std::string block;
  while (block.size() < (1 << 20)) {
    block.append(76, 'Q');
    block.append("\r\n");
  }
  // Whole lines only, so that the message ends with CR LF before the ".".
  const size_t total = (static_cast<size_t>(mebibytes) << 20) / 78 * 78;
  char reply[256];
  std::string replies;
  SSL_CTX* clientTls = tls ? MakeContext(false, nullptr, nullptr) : nullptr;
  bool ok = true;
  size_t sent = 0;
  auto start = std::chrono::steady_clock::now();
  {
    Link link{fd};
    if (clientTls) {
      // The sink's own certificate is not checked: only its speed is measured.
      ok = link.Send("EHLO self\r\nSTARTTLS\r\n");
      while (ok && replies.find("220 ready\r\n") == std::string::npos) {
        ssize_t n = link.Receive(reply, sizeof reply);
        if (n <= 0) ok = false;
        else replies.append(reply, static_cast<size_t>(n));
      }
      ok = ok && (link.ssl = SSL_new(clientTls)) != nullptr && SSL_set_fd(link.ssl, fd) == 1 &&
           SSL_connect(link.ssl) == 1;
      replies.clear();
    }
    ok = ok && link.Send("EHLO self\r\nMAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\n");
    while (ok && sent < total) {
      size_t n = std::min(block.size(), total - sent);
      ok = link.Send(std::string_view(block).substr(0, n));
      sent += n;
    }
    ok = ok && link.Send(".\r\nQUIT\r\n");
    for (ssize_t n; ok && (n = link.Receive(reply, sizeof reply)) > 0;) {
      replies.append(reply, static_cast<size_t>(n));
    }
  }
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
  server.join();
  ::close(listener);
  if (clientTls) SSL_CTX_free(clientTls);
  if (!ok) ERR_print_errors_fp(stderr);
  std::printf("sink took %zu bytes of %zu%s in %.3f s: %.0f MiB/s\n", received, sent,
              tls ? " over TLS" : "", seconds, static_cast<double>(sent) / (1 << 20) / seconds);
  return ok && received == sent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* portFile = nullptr;
  const char* logFile = nullptr;
  const char* saveFile = nullptr;
  const char* certFile = nullptr;
  const char* keyFile = nullptr;
  long selfTest = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string_view flag = argv[i];
    if (flag == "--port-file") portFile = argv[i + 1];
    else if (flag == "--log") logFile = argv[i + 1];
    else if (flag == "--save") saveFile = argv[i + 1];
    else if (flag == "--cert") certFile = argv[i + 1];
    else if (flag == "--key") keyFile = argv[i + 1];
    else if (flag == "--self-test") selfTest = std::atol(argv[i + 1]);
  }
  if ((!portFile && selfTest <= 0) || (certFile == nullptr) != (keyFile == nullptr)) {
    std::fprintf(stderr,
                 "usage: %s --port-file FILE [--log FILE] [--save FILE] [--cert FILE --key FILE]\n"
                 "       %s --self-test MiB [--cert FILE --key FILE]\n",
                 argv[0], argv[0]);
    return 2;
  }
  // A client that closes first must not kill the sink when TLS says goodbye.
  std::signal(SIGPIPE, SIG_IGN);
  SSL_CTX* tls = nullptr;
  if (certFile && !(tls = MakeContext(true, certFile, keyFile))) {
    std::fprintf(stderr, "bench_sink: cannot load %s and %s\n", certFile, keyFile);
    return 1;
  }
  int status =
      selfTest > 0 ? RunSelfTest(selfTest, tls) : RunServer(portFile, logFile, saveFile, tls);
  if (tls) SSL_CTX_free(tls);
  return status;
}
