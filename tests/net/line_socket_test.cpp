#include "net/line_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/memory_stream.h"

namespace {

std::string Received(const std::vector<std::string>& lines) {
  std::string trace;
  for (const std::string& line : lines) trace += "<-- " + line + "\n";
  return trace;
}

// Reads lines until ReadLine reports the end of input.
std::vector<std::string> ReadAll(CLineSocket& socket) {
  std::vector<std::string> lines;
  std::string line;
  for (int guard = 0; guard < 100; ++guard) {
    long length = socket.ReadLine(line);
    if (length < 0) {
      EXPECT_TRUE(line.empty());
      break;
    }
    EXPECT_EQ(length, static_cast<long>(line.size()));
    lines.push_back(line);
  }
  return lines;
}

TEST(LineSocketReadLine, LineEnds) {
  struct Case {
    const char* what;
    std::deque<std::string> chunks;
    std::vector<std::string> lines;
    const char* trace = nullptr;  // when the lines are not traced as they are
  } cases[] = {
      {"CR LF", {"a\r\nbc\r\n"}, {"a", "bc"}},
      {"LF CR", {"a\n\rbc\n\r"}, {"a", "bc"}},
      {"CR CR", {"a\r\rbc\r\r"}, {"a", "bc"}},
      {"LF LF", {"a\n\nb\n"}, {"a", "b"}},
      {"lone CR and LF", {"a\rb\nc\r\n"}, {"a", "b", "c"}},
      {"empty line", {"a\r\n\r\nb\r\n"}, {"a", "", "b"}},
      {"all byte values are data", {std::string("\xff\xfe\x01x\0y\xff\r\n", 9)},
       {std::string("\xff\xfe\x01x\0y\xff", 7)}, "<-- \xff\xfe\\x01x\\x00y\xff\n"},
      {"line across receives", {"25", "0 o", "k\r\n"}, {"250 ok"}},
      {"CR LF split between receives", {"a\r", "\nb\r\n"}, {"a", "b"}},
      {"LF LF split between receives", {"a\n", "\nb\n"}, {"a", "b"}},
      {"split line end then text", {"a\r", "b\r\n"}, {"a", "b"}},
      {"split CR LF then an empty line", {"a\r", "\n\r\nb\r\n"}, {"a", "", "b"}},
      {"partial last line", {"1234567"}, {"1234567"}},
      {"nothing", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CLineSocket socket(false);
    socket.AttachStream(std::make_unique<CMemoryStream>(MakePeer(c.chunks)));
    testing::internal::CaptureStderr();
    std::vector<std::string> lines = ReadAll(socket);
    std::string line = "stale";
    EXPECT_EQ(socket.ReadLine(line), -1);  // input stays ended
    EXPECT_EQ(line, "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.trace ? c.trace : Received(c.lines));
    EXPECT_EQ(lines, c.lines);
  }
}

// A line end at the end of what has arrived must not wait for a companion
// byte: a peer that ends its replies with LF alone would stall the dialogue.
TEST(LineSocketReadLine, LineEndDoesNotWaitForMoreInput) {
  auto peer = MakePeer({"220 ready\n"});
  peer->timeoutAtEnd = true;  // any further receive would time out
  CLineSocket socket(false);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  std::string line;
  testing::internal::CaptureStderr();
  EXPECT_EQ(socket.ReadLine(line), 9);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "<-- 220 ready\n");
  EXPECT_EQ(line, "220 ready");
}

TEST(LineSocketReadLine, OverlongLineEndsInput) {
  const std::string longest(CLineSocket::kMaxLineLength, 'x');
  {
    CLineSocket socket(true);
    socket.AttachStream(std::make_unique<CMemoryStream>(MakePeer({longest + "\r\n250 ok\r\n"})));
    std::string line;
    EXPECT_EQ(socket.ReadLine(line), static_cast<long>(longest.size()));
    EXPECT_EQ(socket.ReadLine(line), 6);
  }
  CLineSocket socket(false);
  socket.AttachStream(std::make_unique<CMemoryStream>(MakePeer({longest + "y\r\n250 ok\r\n"})));
  std::string line;
  testing::internal::CaptureStderr();
  EXPECT_EQ(socket.ReadLine(line), -1);
  EXPECT_EQ(socket.ReadLine(line), -1);  // the rest is not read as a reply
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Line longer than 65536 bytes received\n");
  EXPECT_EQ(line, "");
}

TEST(LineSocketReadLine, TimeoutDropsPartialLineAndEndsInput) {
  auto peer = MakePeer({"250-first\r\n", "250 par"});
  peer->timeoutAtEnd = true;
  CLineSocket socket(false);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  std::string line;
  testing::internal::CaptureStderr();
  EXPECT_EQ(socket.ReadLine(line), 9);
  EXPECT_EQ(socket.ReadLine(line), -1);
  EXPECT_EQ(socket.ReadLine(line), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "<-- 250-first\nTimed out waiting for the peer\n");
}

// A relay must not drive the terminal: control bytes show as \xHH.
TEST(LineSocketReadLine, TraceShowsControlBytesEscaped) {
  struct Case {
    std::string line;
    const char* trace;
  } cases[] = {
      {"250 plain text, \\x41 and \xe9 too", "<-- 250 plain text, \\x41 and \xe9 too\n"},
      {"250 \x1b[2K\x1b[1AProgram Exiting[0]", "<-- 250 \\x1B[2K\\x1B[1AProgram Exiting[0]\n"},
      {std::string("a\0b\x01\x1f\x7f\x80\tc", 9), "<-- a\\x00b\\x01\\x1F\\x7F\x80\tc\n"},
      {"bell\x07 backspace\x08", "<-- bell\\x07 backspace\\x08\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trace);
    CLineSocket socket(false);
    socket.AttachStream(std::make_unique<CMemoryStream>(MakePeer({c.line + "\r\n"})));
    std::string line;
    testing::internal::CaptureStderr();
    EXPECT_EQ(socket.ReadLine(line), static_cast<long>(c.line.size()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.trace);
    EXPECT_EQ(line, c.line);  // the line itself is unchanged
  }
}

// A peer that never stops sending: every receive brings bytes, and takes a
// little time, like a fast relay streaming continuation lines.
class CEndlessStream : public CByteStream {
 public:
  bool SendAll(const char*, size_t, int) override { return true; }
  long Receive(char* buffer, size_t size, int) override {
    ++receives;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string line = "250-more\r\n";
    size_t n = 0;
    for (; n + line.size() <= size; n += line.size()) line.copy(buffer + n, line.size());
    return static_cast<long>(n);
  }
  int Close() override { return 0; }
  int receives = 0;
};

// Once the deadline has passed a read fails even though bytes are waiting.
TEST(LineSocketReadLine, DeadlineHoldsWhileThePeerKeepsSending) {
  auto owned = std::make_unique<CEndlessStream>();
  CEndlessStream* stream = owned.get();
  CLineSocket socket(true);
  socket.AttachStream(std::move(owned));
  socket.BeginReply(50);
  std::string line;
  int lines = 0;
  while (socket.ReadLine(line) >= 0 && lines < 100000) ++lines;
  // About 50 receives fit in 50 ms; without the deadline the line count is
  // reached (or the reply bound, some 2,500 receives).
  EXPECT_LT(stream->receives, 1000);
  EXPECT_GT(lines, 0);
}

// Bytes that wait before a command are found by a poll that costs no wait;
// the rest of a line end split across receives does not count.
TEST(LineSocketNothingWaiting, FindsUnaskedBytes) {
  struct Case {
    const char* what;
    std::deque<std::string> chunks;
    bool answersAhead;
    bool nothing;
    const char* next;  // the line read afterwards; nullptr: end of input
  } cases[] = {
      {"peer silent", {"250 ok\r\n", "250 later\r\n"}, false, true, "250 later"},
      {"left in the read buffer", {"250 ok\r\n250 later\r\n"}, false, false, "250 later"},
      {"waiting on the stream", {"250 ok\r\n", "250 later\r\n"}, true, false, "250 later"},
      {"rest of a line end", {"250 ok\r", "\n"}, true, true, nullptr},
      {"rest of a line end, then more", {"250 ok\r", "\n250 later\r\n"}, true, false,
       "250 later"},
      {"peer closed", {"250 ok\r\n"}, true, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto peer = MakePeer(c.chunks);
    CLineSocket socket(false);
    socket.AttachStream(std::make_unique<CMemoryStream>(peer));
    std::string line;
    ASSERT_EQ(socket.ReadLine(line), 6);
    peer->answersAhead = c.answersAhead;
    testing::internal::CaptureStderr();
    EXPECT_EQ(socket.NothingWaiting(), c.nothing);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              c.nothing ? "" : "the peer replied before it was asked\n");
    peer->answersAhead = false;
    EXPECT_EQ(socket.ReadLine(line), c.next ? static_cast<long>(std::string(c.next).size()) : -1);
    if (c.next) {
      EXPECT_EQ(line, c.next);
    }
  }
}

// A wrapper (a TLS session) takes over only an empty read buffer, and then
// carries every later send and receive.
TEST(LineSocketWrapStream, TakesOverOnlyWhenNothingWaits) {
  struct Case {
    const char* what;
    std::deque<std::string> chunks;
    bool wraps;
  } cases[] = {
      {"nothing waiting", {"220 go ahead\r\n"}, true},
      {"plain text behind the reply", {"220 go ahead\r\n250 injected\r\n"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto plain = MakePeer(c.chunks);
    plain->timeoutAtEnd = true;  // open, and silent
    auto wrapped = MakePeer({"250 through the wrapper\r\n"});
    CLineSocket socket(true);
    socket.AttachStream(std::make_unique<CMemoryStream>(plain));
    std::string line;
    ASSERT_EQ(socket.ReadLine(line), 12);
    bool handedOver = false;
    EXPECT_EQ(socket.WrapStream([&](std::unique_ptr<CByteStream> inner) {
      handedOver = inner != nullptr;
      return std::make_unique<CMemoryStream>(wrapped);
    }), c.wraps);
    EXPECT_EQ(handedOver, c.wraps);
    socket.SendText("EHLO x\r\n");
    EXPECT_EQ(wrapped->sent, c.wraps ? "EHLO x\r\n" : "");
    EXPECT_EQ(plain->sent, c.wraps ? "" : "EHLO x\r\n");
    socket.ReadLine(line);
    EXPECT_EQ(line, c.wraps ? "250 through the wrapper" : "250 injected");
  }
  CLineSocket socket(true);
  socket.AttachStream(std::make_unique<CMemoryStream>(MakePeer()));
  EXPECT_FALSE(socket.WrapStream([](std::unique_ptr<CByteStream>) { return nullptr; }));
  EXPECT_FALSE(socket.SendText("lost\r\n"));  // no stream is left
}

TEST(LineSocketSend, FormattedTextReachesPeerWhole) {
  struct Case {
    size_t length;
  } cases[] = {{0}, {1021}, {1022}, {1023}, {1024}, {5000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string text(c.length, 'a');
    for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('0' + i % 10);
    auto peer = MakePeer();
    CLineSocket socket(false);
    socket.AttachStream(std::make_unique<CMemoryStream>(peer));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(socket.SendFormatted("<%s|%d>\r\n", text.c_str(), 42));
    const std::string expected = "<" + text + "|42>\r\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "--> " + expected);
    EXPECT_EQ(peer->sent, expected);
  }
}

TEST(LineSocketSend, TraceMask) {
  struct Case {
    int position;
    const char* text;
    const char* trace;
  } cases[] = {
      {-1, "AUTH PLAIN AHUAcA==\r\n", "--> AUTH PLAIN AHUAcA==\r\n"},
      {11, "AUTH PLAIN AHUAcA==\r\n", "--> AUTH PLAIN *** SECRET! ***\r\n"},
      {0, "dXNlcg==\r\n", "--> *** SECRET! ***\r\n"},
      {0, "\r\n", "--> *** SECRET! ***\r\n"},
      {11, "AUTH PLAIN ", "--> AUTH PLAIN "},  // not longer than the position
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto peer = MakePeer();
    CLineSocket socket(false);
    socket.AttachStream(std::make_unique<CMemoryStream>(peer));
    socket.SetTraceMask(c.position);
    testing::internal::CaptureStderr();
    socket.SendFormatted("%s", c.text);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.trace);
    EXPECT_EQ(peer->sent, c.text);  // the bytes sent are never masked
  }
}

TEST(LineSocketClose, TracesOnlyAClosedConnection) {
  auto peer = MakePeer({"220 hi\r\n"});
  testing::internal::CaptureStderr();
  {
    CLineSocket socket(false);
    socket.Close();  // nothing to close yet
    socket.AttachStream(std::make_unique<CMemoryStream>(peer));
    EXPECT_TRUE(socket.Close());
    EXPECT_TRUE(socket.Close());
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Connection Closed [0]\n");
  EXPECT_TRUE(peer->closed);
}

TEST(LineSocketQuiet, WritesNothing) {
  auto peer = MakePeer({"220 hi\r\n", "250 par"});
  peer->timeoutAtEnd = true;
  testing::internal::CaptureStderr();
  {
    CLineSocket socket(true);
    socket.AttachStream(std::make_unique<CMemoryStream>(peer));
    std::string line;
    socket.SendFormatted("HELO %s\r\n", "x");
    socket.ReadLine(line);
    socket.ReadLine(line);
    socket.Open("127.0.0.1", "smtp", 25, 70000);  // closes, looks up, refuses the port
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(peer->sent, "HELO x\r\n");
}

}  // namespace
