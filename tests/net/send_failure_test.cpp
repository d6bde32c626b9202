// A connection whose send failed stays failed: the peer has lost bytes, and
// a peer that stopped reading must not cost one send timeout per line. The
// trace shows only what left, never a text that did not.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/line_socket.h"
#include "support/memory_stream.h"

namespace {

TEST(LineSocketSendFailure, LaterSendsFailWithoutReachingThePeer) {
  struct Step {
    const char* text;  // nullptr: FlushSends
    bool result;
  };
  struct Case {
    const char* what;
    bool gather;
    long capacity;
    std::deque<std::string> unasked;  // waiting from the peer before any send
    std::vector<Step> steps;
    std::string reaches;
    std::string trace;
  } cases[] = {
      // "x" would fit what is left, yet it would follow a gap in the data.
      {"direct send beyond what the peer takes", false, 10, {},
       {{"12345", true}, {"too long!", false}, {"x", false}, {"y", false}}, "12345",
       "--> 12345"},
      {"gathered block beyond what the peer takes", true, 10, {},
       {{"12345", true}, {"678901", true}, {nullptr, false}, {"x", false}, {nullptr, false}}, "",
       ""},
      {"gathered block while the peer talks unasked", true, -1, {"250 early\r\n"},
       {{"data", true}, {nullptr, false}, {"x", false}}, "",
       "the peer replied before it was asked\n"},
      {"gathered block that leaves", true, -1, {},
       {{"12345", true}, {"678901", true}, {nullptr, true}}, "12345678901",
       "--> 12345--> 678901"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto peer = MakePeer(c.unasked);
    peer->sendCapacity = c.capacity;
    peer->answersAhead = true;
    CLineSocket socket(false);
    socket.AttachStream(std::make_unique<CMemoryStream>(peer));
    testing::internal::CaptureStderr();
    socket.GatherSends(c.gather);
    for (const Step& step : c.steps) {
      SCOPED_TRACE(step.text ? step.text : "flush");
      EXPECT_EQ(step.text ? socket.SendText(step.text) : socket.FlushSends(), step.result);
    }
    socket.GatherSends(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.trace);
    EXPECT_EQ(peer->sent, c.reaches);
  }
}

TEST(LineSocketSendFailure, NewConnectionStartsClean) {
  CLineSocket socket(true);
  EXPECT_FALSE(socket.SendFormatted("QUIT\r\n"));  // no connection at all
  auto first = MakePeer();
  first->sendCapacity = 0;
  socket.AttachStream(std::make_unique<CMemoryStream>(first));
  EXPECT_FALSE(socket.SendText("lost"));
  auto next = MakePeer();
  socket.AttachStream(std::make_unique<CMemoryStream>(next));
  EXPECT_TRUE(socket.SendFormatted("%s", "again"));
  EXPECT_EQ(next->sent, "again");
}

}  // namespace
