// The message as BDAT chunks when the relay offers CHUNKING (RFC 3030).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "smtp/smtp_client.h"
#include "support/message_fixture.h"

namespace {

struct ChunkedTransaction : SClientOnPeer {
  explicit ChunkedTransaction(bool pipelining = true, int recipients = 3,
                              std::vector<std::string> lines = {"body\r\n", ".dot\r\n"}) {
    client.m_identified = true;
    client.m_ehloKeywords["CHUNKING"] = "";
    if (pipelining) client.m_ehloKeywords["PIPELINING"] = "";
    client.m_originatorAddress = "a@x";
    for (int i = 0; i < recipients; ++i) {
      client.m_recipients.push_back("r" + std::to_string(i) + "@x");
    }
    client.m_parts = {Part("7bit", lines)};
  }
  void Reply(const std::vector<std::string>& replies) {
    for (const std::string& reply : replies) peer->chunks.push_back(reply + "\r\n");
  }
  // The message exactly as written, not dot-stuffed.
  std::string Message() {
    struct CCollect : CTextSink {
      void Write(std::string_view text) override { bytes.append(text); }
      std::string bytes;
    } collect;
    client.DivertSends(&collect);
    client.m_dotStuffing = false;
    client.WriteMessageData();
    client.m_dotStuffing = true;
    client.DivertSends(nullptr);
    return collect.bytes;
  }
};

const std::string kEnvelope =
    "MAIL FROM:<a@x>\r\nRCPT TO:<r0@x>\r\nRCPT TO:<r1@x>\r\nRCPT TO:<r2@x>\r\n";

struct SChunk {
  size_t size;
  bool last;
  std::string bytes;
};

// The BDAT chunks of text from at, up to the first line that is not BDAT;
// rest receives what follows them.
std::vector<SChunk> ParseChunks(const std::string& text, size_t at, std::string* rest = nullptr) {
  std::vector<SChunk> chunks;
  while (text.compare(at, 5, "BDAT ") == 0) {
    const size_t end = text.find("\r\n", at);
    const std::string command = text.substr(at + 5, end - at - 5);
    SChunk chunk;
    chunk.size = std::stoul(command);
    chunk.last = command.ends_with(" LAST");
    chunk.bytes = text.substr(end + 2, chunk.size);
    at = end + 2 + chunk.size;
    chunks.push_back(chunk);
  }
  if (rest) *rest = text.substr(at);
  return chunks;
}

// Pipelined, the envelope goes as one group without DATA; the message then
// goes as one chunk marked LAST, with QUIT in the same write: two round
// trips, and the chunk only once every recipient's reply is known.
TEST(Chunking, EnvelopeGroupThenOneLastChunkWithQuit) {
  ChunkedTransaction t;
  const std::string message = t.Message();
  t.Reply({"250 ok", "250 ok", "250 ok", "250 ok", "250 queued"});
  ASSERT_TRUE(t.client.SendMail());
  ASSERT_EQ(t.peer->sentBeforeReads.size(), 2u);
  EXPECT_EQ(t.peer->sentBeforeReads[0], kEnvelope);
  EXPECT_EQ(t.peer->sentBeforeReads[1],
            "BDAT " + std::to_string(message.size()) + " LAST\r\n" + message + "QUIT\r\n");
  // Neither dot-stuffed nor ended with ".".
  EXPECT_NE(message.find("\r\n.dot\r\n"), std::string::npos);
  EXPECT_EQ(message.find("\r\n..dot"), std::string::npos);
  t.Reply({"221 bye"});
  EXPECT_TRUE(t.client.Quit());
  EXPECT_EQ(t.client.m_recipientCursor, 3);
}

// Without PIPELINING every command, the chunk included, waits for the reply
// to the one before; QUIT waits for the chunk's reply. Under --no-chunking
// the relay's CHUNKING is not used at all.
TEST(Chunking, NotPipelinedOrTurnedOff) {
  {
    ChunkedTransaction t(/*pipelining=*/false);
    const std::string message = t.Message();
    t.Reply({"250 ok", "250 ok", "250 ok", "250 ok", "250 queued"});
    ASSERT_TRUE(t.client.SendMail());
    const std::vector<std::string> expected = {
        "MAIL FROM:<a@x>\r\n", "RCPT TO:<r0@x>\r\n", "RCPT TO:<r1@x>\r\n", "RCPT TO:<r2@x>\r\n",
        "BDAT " + std::to_string(message.size()) + " LAST\r\n" + message};
    EXPECT_EQ(t.peer->sentBeforeReads, expected);
  }
  {
    ChunkedTransaction t;
    SClientOptions settings = t.client.Options();
    settings.chunking = false;
    t.client.SetOptions(settings);
    t.Reply({"250 ok", "250 ok", "250 ok", "250 ok", "354 go", "250 queued"});
    ASSERT_TRUE(t.client.SendMail());
    EXPECT_EQ(t.peer->sentBeforeReads.at(0), kEnvelope + "DATA\r\n");
    EXPECT_NE(t.peer->sent.find("\r\n..dot\r\n"), std::string::npos);
    EXPECT_TRUE(t.peer->sent.ends_with("\r\n.\r\nQUIT\r\n"));
    EXPECT_EQ(t.peer->sent.find("BDAT"), std::string::npos);
  }
}

// A refusal before the data stops at once: no chunk at all has gone, so the
// relay holds nothing it could deliver. A refused chunk fails the run as a
// refused end of data does.
TEST(Chunking, EveryReplyPositionRefused) {
  struct Case {
    const char* what;
    bool pipelining;
    std::vector<std::string> replies;
    int cursor;
    bool chunkSent;
  } cases[] = {
      {"MAIL", true, {"550 no", "503 no", "503 no", "503 no"}, 0, false},
      {"first RCPT", true, {"250 ok", "550 no", "250 ok", "250 ok"}, 0, false},
      {"second RCPT", true, {"250 ok", "250 ok", "550 no", "250 ok"}, 1, false},
      {"452 to the first RCPT", true, {"250 ok", "452 full", "250 ok", "250 ok"}, 0, false},
      {"last RCPT", true, {"250 ok", "250 ok", "250 ok", "553 no"}, 2, false},
      {"relay closes mid-group", true, {"250 ok", "250 ok"}, 1, false},
      {"the last chunk", true, {"250 ok", "250 ok", "250 ok", "250 ok", "554 no"}, 3, true},
      {"the last chunk, one at a time", false, {"250 ok", "250 ok", "250 ok", "250 ok", "552 big"},
       3, true},
      {"relay closes before the chunk's reply", true, {"250 ok", "250 ok", "250 ok", "250 ok"}, 3,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ChunkedTransaction t(c.pipelining);
    t.Reply(c.replies);
    EXPECT_FALSE(t.client.SendMail());
    if (c.pipelining) {
      EXPECT_EQ(t.peer->sentBeforeReads.at(0), kEnvelope);
    }
    if (!c.chunkSent) {
      EXPECT_EQ(t.peer->sent, kEnvelope);
    } else {
      EXPECT_NE(t.peer->sent.find(" LAST\r\n"), std::string::npos);
    }
    // Pipelined, QUIT goes with the last chunk; it ends the session either way.
    EXPECT_EQ(t.peer->sent.find("QUIT") != std::string::npos, c.pipelining && c.chunkSent);
    EXPECT_EQ(t.client.m_recipientCursor, c.cursor);
  }
}

TEST(Chunking, RepliesSplitAcrossPackets) {
  ChunkedTransaction t;
  t.peer->chunks = {"25", "0 ok\r\n250 o", "k\r", "\n250 ok\r\n250 ok", "\r\n", "250 qu",
                    "eued\r\n"};
  EXPECT_TRUE(t.client.SendMail());
  EXPECT_EQ(t.client.m_recipientCursor, 3);
}

// A large message goes as one chunk per send block, in order, only the last
// marked LAST; together they are the message byte for byte. Pipelined they
// go without waiting; one at a time each waits for its reply, and a refused
// chunk ends the data without a LAST chunk, so nothing can be delivered.
TEST(Chunking, LargeMessageInChunksThatFollowTheSendBlocks) {
  const std::vector<std::string> lines(12000, std::string(98, 'x') + "\r\n");
  for (const bool pipelining : {true, false}) {
    SCOPED_TRACE(pipelining ? "pipelined" : "one at a time");
    ChunkedTransaction t(pipelining, 1, lines);
    const std::string message = t.Message();
    t.Reply({"250 ok", "250 ok"});
    for (int i = 0; i < 5; ++i) t.Reply({"250 chunk"});
    ASSERT_TRUE(t.client.SendMail());
    const std::string& sent = t.peer->sent;
    const size_t first = sent.find("BDAT ");
    ASSERT_NE(first, std::string::npos);
    std::string rest;
    const std::vector<SChunk> chunks = ParseChunks(sent, first, &rest);
    ASSERT_EQ(chunks.size(), 5u);  // 1.2 MB in blocks of at least 256 KiB
    std::string joined;
    for (size_t i = 0; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].last, i + 1 == chunks.size());
      EXPECT_EQ(chunks[i].bytes.size(), chunks[i].size);
      joined += chunks[i].bytes;
    }
    EXPECT_EQ(joined, message);
    EXPECT_EQ(rest, pipelining ? "QUIT\r\n" : "");
    // Pipelined, every chunk goes in one write after the envelope's replies.
    EXPECT_EQ(t.peer->sentBeforeReads.size(), pipelining ? 2u : 7u);
  }
  {
    ChunkedTransaction t(/*pipelining=*/false, 1, lines);
    t.Reply({"250 ok", "250 ok", "250 chunk", "452 no room"});
    EXPECT_FALSE(t.client.SendMail());
    const std::vector<SChunk> chunks = ParseChunks(t.peer->sent, t.peer->sent.find("BDAT "));
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_FALSE(chunks[1].last);
    EXPECT_EQ(t.peer->sent.find(" LAST"), std::string::npos);
  }
}

// Several transactions (452 after an accepted recipient): each gets the same
// chunked message; QUIT goes with the last chunk of the last only.
TEST(Chunking, RecipientLimitSendsTheSameChunksAgain) {
  ChunkedTransaction t;
  const std::string message = t.Message();
  t.Reply({"250 ok", "250 ok", "452 full", "452 full", "250 queued"});
  t.Reply({"250 ok", "250 ok", "250 ok", "250 queued"});
  ASSERT_TRUE(t.client.SendMail());
  const std::string chunk = "BDAT " + std::to_string(message.size()) + " LAST\r\n" + message;
  const std::vector<std::string> expected = {
      kEnvelope, chunk, "MAIL FROM:<a@x>\r\nRCPT TO:<r1@x>\r\nRCPT TO:<r2@x>\r\n",
      chunk + "QUIT\r\n"};
  EXPECT_EQ(t.peer->sentBeforeReads, expected);
  EXPECT_EQ(t.client.m_recipientCursor, 3);
}

class CRecordingWatcher : public CSendWatcher {
 public:
  void Sent(uint64_t bytes) override { counts.push_back(bytes); }
  void Expect(uint64_t bytes) override { expected = bytes; }
  std::vector<uint64_t> counts;
  uint64_t expected = 0;
};

// SIZE and --progress count the message as it goes: not dot-stuffed, no
// end-of-data line, the BDAT commands not counted.
TEST(Chunking, SizeAndProgressCountTheChunkedMessage) {
  ChunkedTransaction t(true, 1, {".a\r\n", "..b\r\n", "c\r\n"});
  const std::string message = t.Message();
  EXPECT_EQ(t.client.MessageDataSize(), message.size());
  t.client.m_ehloKeywords.erase("CHUNKING");
  EXPECT_EQ(t.client.MessageDataSize(), message.size() + 2 + 3);
  t.client.m_ehloKeywords["CHUNKING"] = "";

  CRecordingWatcher watcher;
  SClientOptions settings = t.client.Options();
  settings.dataWatcher = &watcher;
  t.client.SetOptions(settings);
  t.Reply({"250 ok", "250 ok", "250 queued"});
  ASSERT_TRUE(t.client.SendMail());
  EXPECT_EQ(watcher.expected, message.size());
  ASSERT_FALSE(watcher.counts.empty());
  EXPECT_EQ(watcher.counts.back(), message.size());
}

}  // namespace
