#include "net/line_socket.h"

#include <gtest/gtest.h>

#include <string>
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
  } cases[] = {
      {"CR LF", {"a\r\nbc\r\n"}, {"a", "bc"}},
      {"LF CR", {"a\n\rbc\n\r"}, {"a", "bc"}},
      {"CR CR", {"a\r\rbc\r\r"}, {"a", "bc"}},
      {"LF LF", {"a\n\nb\n"}, {"a", "b"}},
      {"lone CR and LF", {"a\rb\nc\r\n"}, {"a", "b", "c"}},
      {"empty line", {"a\r\n\r\nb\r\n"}, {"a", "", "b"}},
      {"all byte values are data", {std::string("\xff\xfe\x01x\0y\xff\r\n", 9)},
       {std::string("\xff\xfe\x01x\0y\xff", 7)}},
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
    EXPECT_EQ(testing::internal::GetCapturedStderr(), Received(c.lines));
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

TEST(LineSocketSend, FailureIsReportedAndStillTraced) {
  auto peer = MakePeer();
  peer->sendCapacity = 4;
  CLineSocket socket(false);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  testing::internal::CaptureStderr();
  EXPECT_TRUE(socket.SendText("ab"));
  EXPECT_FALSE(socket.SendText("cde"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "--> ab--> cde");

  CLineSocket unconnected(true);
  EXPECT_FALSE(unconnected.SendFormatted("QUIT\r\n"));
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
