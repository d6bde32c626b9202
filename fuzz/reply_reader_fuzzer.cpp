// Arbitrary bytes from a relay through ReadLine and ReadReply.
//
// Input: one flag byte, then the bytes the peer sends. Bit 0 of the flag
// makes the peer fall silent (a timeout) instead of closing at the end; bits
// 1-6 choose how the bytes are cut into receives; with bit 7 each of the
// first five bytes 0x01 stands for 16 KiB of "x", so that small inputs reach
// the 64 KiB line limit (and the fuzzer stays fast on them).
//
// Oracle: the lines equal those of a plain model of the line rules (a CR or
// LF ends a line, the byte after it is dropped when it is CR or LF too), so
// nothing is lost, invented or read past; none is longer than 64 KiB, and a
// longer one ends input; the replies judged by ReadReply equal those the
// model's lines give, however the bytes are cut into receives. (The bound on
// a whole reply, 1 MiB, lies beyond what these inputs reach.)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "smtp/smtp_client.h"
#include "support/memory_stream.h"

namespace {

constexpr size_t kMaxLine = CLineSocket::kMaxLineLength;
constexpr size_t kExpansion = 16 * 1024;
constexpr int kMaxExpansions = 5;

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

// The offset of the next CR or LF at or after from, or the end; memchr
// keeps the model fast on the 64 KiB lines.
size_t NextBreak(const std::string& bytes, size_t from) {
  const char* begin = bytes.data() + from;
  size_t run = bytes.size() - from;
  if (const void* cr = std::memchr(begin, '\r', run)) run = static_cast<const char*>(cr) - begin;
  if (const void* lf = std::memchr(begin, '\n', run)) run = static_cast<const char*>(lf) - begin;
  return from + run;
}

std::vector<std::string> ModelLines(const std::string& bytes, bool silentAtEnd) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t end = NextBreak(bytes, i);
    if (end - i > kMaxLine) return lines;  // an overlong line ends input
    if (end == bytes.size()) {
      // A line cut short by the peer's close is handed out; one cut by a
      // timeout is not.
      if (!silentAtEnd) lines.push_back(bytes.substr(i));
      return lines;
    }
    lines.push_back(bytes.substr(i, end - i));
    i = end + 1;
    if (i < bytes.size() && IsBreak(bytes[i])) ++i;
  }
  return lines;
}

// The bytes cut into receives of pseudo-random sizes from seed; seed 0 sends
// everything as one chunk (the client still reads 512 bytes at a time).
std::deque<std::string> Chunks(const std::string& bytes, unsigned seed) {
  std::deque<std::string> chunks;
  if (seed == 0) {
    if (!bytes.empty()) chunks.push_back(bytes);
    return chunks;
  }
  uint32_t state = seed * 2654435761u + 1;
  for (size_t at = 0; at < bytes.size();) {
    state = state * 1103515245u + 12345u;
    // Tiny receives near the start only: tens of thousands of them across a
    // 64 KiB line would slow every run and find nothing the start does not.
    size_t size = 1 + (state >> 16) % (seed % 4 == 0 && at < 4096 ? 3 : 700);
    chunks.push_back(bytes.substr(at, size));
    at += size;
  }
  return chunks;
}

std::shared_ptr<CMemoryStream::Shared> Peer(const std::string& bytes, unsigned seed,
                                            bool silentAtEnd) {
  auto peer = MakePeer(Chunks(bytes, seed));
  peer->timeoutAtEnd = silentAtEnd;
  return peer;
}

std::vector<std::string> ReadAllLines(const std::string& bytes, unsigned seed, bool silentAtEnd) {
  CLineSocket socket(true, fuzz::OfflineResolver());
  socket.AttachStream(std::make_unique<CMemoryStream>(Peer(bytes, seed, silentAtEnd)));
  std::vector<std::string> lines;
  std::string line;
  // Each line takes at least one byte, so this bounds a reader that never ends.
  for (size_t guard = 0; guard <= bytes.size() + 1; ++guard) {
    long length = socket.ReadLine(line);
    if (length < 0) {
      FUZZ_CHECK(line.empty());
      FUZZ_CHECK(socket.ReadLine(line) == -1);  // input stays ended
      return lines;
    }
    FUZZ_CHECK(static_cast<size_t>(length) == line.size());
    FUZZ_CHECK(line.size() <= kMaxLine);
    lines.push_back(line);
  }
  FUZZ_CHECK(!"ReadLine never reported the end of input");
  return lines;
}

const char* const kPrefixes[] = {"2", "250", "354", "235", "334"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Three digits, then nothing, a blank or a hyphen.
bool IsReplyLine(const std::string& line) {
  return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
         (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

// A reply ends at the first line without a hyphen in the fourth place; it
// is accepted when every line is a reply line with the first line's code and
// the last begins with the prefix.
bool ModelReply(const std::vector<std::string>& lines, size_t& next, const char* prefix) {
  std::string line = next < lines.size() ? lines[next++] : std::string();
  const std::string code = line.substr(0, 3);
  bool wellFormed = IsReplyLine(line);
  while (line.size() >= 4 && line[3] == '-') {
    line = next < lines.size() ? lines[next++] : std::string();
    wellFormed = wellFormed && IsReplyLine(line) && line.substr(0, 3) == code;
  }
  const std::string expected(prefix);
  return wellFormed && line.size() >= expected.size() &&
         line.compare(0, expected.size(), expected) == 0;
}

}  // namespace


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool silentAtEnd = data[0] & 1;
  const unsigned seed = (data[0] >> 1) & 0x3F;
  std::string bytes;
  int expansions = (data[0] & 0x80) ? kMaxExpansions : 0;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 1 && expansions > 0) {
      --expansions;
      bytes.append(kExpansion, 'x');
    } else {
      bytes.push_back(static_cast<char>(data[i]));
    }
  }

  const std::vector<std::string> model = ModelLines(bytes, silentAtEnd);
  FUZZ_CHECK(ReadAllLines(bytes, seed, silentAtEnd) == model);

  CSmtpClient client(true, fuzz::OfflineEnvironment());
  client.AttachStream(std::make_unique<CMemoryStream>(Peer(bytes, seed, silentAtEnd)));
  size_t next = 0;
  size_t replies = 0;
  // One reply more than the model holds: past the end every reply fails.
  do {
    const char* prefix = kPrefixes[replies % (sizeof kPrefixes / sizeof kPrefixes[0])];
    const bool exhausted = next >= model.size();
    FUZZ_CHECK(client.ReadReply(prefix) == ModelReply(model, next, prefix));
    ++replies;
    if (exhausted) break;
  } while (true);
  return 0;
}
