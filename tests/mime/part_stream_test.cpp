#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "mime/header_values.h"
#include "mime/part_stream.h"
#include "smtp/smtp_client.h"
#include "support/fake_environment.h"
#include "support/line_collector.h"
#include "support/lines.h"
#include "support/memory_source.h"
#include "support/memory_stream.h"

namespace {

namespace fs = std::filesystem;

const std::string kTypes = VELSEND_TEST_DATA_DIR "/mime.types";

enum Mode { kMime, kUuencode, kForceUuencode };

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    m_path = fs::temp_directory_path() / ("velsend-stream-" + std::to_string(random()));
    fs::create_directories(m_path);
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
  }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(m_path / name, std::ios::binary) << bytes;
    return Path(name);
  }
  std::string Path(const std::string& name) const { return (m_path / name).string(); }

 private:
  fs::path m_path;
};

CFakeEnvironment& TestEnvironment() {
  static CFakeEnvironment environment = [] {
    CFakeEnvironment e;
    e.contentTypeTable = kTypes;
    return e;
  }();
  return environment;
}

struct Client {
  std::shared_ptr<CMemoryStream::Shared> peer = MakePeer();
  CSmtpClient client;
  Client(Mode mode, bool quiet) : client(quiet, TestEnvironment()) {
    client.m_originatorAddress = "ann@example.org";
    client.m_recipients = {"bob@b.example"};
    client.m_uuencodeMode = mode != kMime;
    client.m_forceUuencode = mode == kForceUuencode;
  }
  // Runs the transaction against a relay that accepts it: the result, and
  // the trace written meanwhile.
  bool Send(std::string& trace) {
    client.AttachStream(std::make_unique<CMemoryStream>(peer));
    for (const char* reply : {"250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"}) {
      peer->chunks.push_back(reply);
    }
    testing::internal::CaptureStderr();
    const bool sent = client.SendMail();
    trace = testing::internal::GetCapturedStderr();
    return sent;
  }
};

// The lines the encoders give the bytes in memory, chosen as for a file.
void EncodeInMemory(CMessagePart& part, const std::string& bytes, Mode mode) {
  CMemorySource source(bytes);
  if (mode == kForceUuencode) {
    part.EncodeUuencode(source);
  } else if (mode == kUuencode) {
    if (!part.EncodeSevenBit(source, true)) part.EncodeUuencode(source);
  } else if (StartsWithIgnoringCase(part.m_contentType, "text/")) {
    if (!part.EncodeSevenBit(source, false) && !part.EncodeQuotedPrintable(source, true)) {
      part.EncodeBase64(source);
    }
  } else {
    part.EncodeBase64(source);
  }
}

std::string Lines(const std::string& line, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line + std::to_string(i) + "\n";
  return text;
}

// A file encoded as it is sent puts on the wire, and in the trace, exactly
// what the same bytes encoded in memory beforehand give: sizes at the
// encoders' line boundaries, line limits, bare breaks, leading dots, lines
// that look like a delimiter, and files of several blocks.
TEST(PartStream, WireAndTraceAsWhenEncodedInMemory) {
  const std::string delimiterLines =
      "--[=_00000000]: ++++ Section Boundry ++++\r\n"
      "--[=_00000001]: ++++ Section Boundry ++++ and more\nx";
  std::string sparseHigh;
  for (int i = 0; i < 2000; ++i) {
    sparseHigh += std::string(150, static_cast<char>('a' + i % 26));
    if (i % 50 == 0) sparseHigh += "\xE9 ";
    sparseHigh += "\n";
  }
  struct Content {
    const char* name;
    std::string bytes;
  } contents[] = {
      {"empty", ""},
      {"one", "x"},
      {"57", Pattern(57)},
      {"58", Pattern(58)},
      {"59", Pattern(59)},
      {"lines 76 77", std::string(76, 'a') + "\r\n" + std::string(77, 'b') + "\n"},
      {"escaped 76 77", "\xE9" + std::string(75, 'a') + "\n" + std::string(77, 'b') + " \n"},
      {"998", std::string(998, 'x') + "\nend"},
      {"999", std::string(999, 'x') + "\n"},
      {"breaks only", "\r\n\n\r\r\n\n\n\r"},
      {"dots", ".\n..\n.x\r\n."},
      {"delimiters", delimiterLines},
      {"blocks of 7bit", Lines(".line ", 20000)},
      {"blocks of quoted-printable", sparseHigh},
      {"blocks of binary", Pattern(300001)},
  };
  for (const Content& content : contents) {
    ScratchDir dir;
    const std::string text = dir.Write("c.txt", content.bytes);
    const std::string binary = dir.Write("c.bin", content.bytes);
    for (Mode mode : {kMime, kUuencode, kForceUuencode}) {
      for (bool quiet : {true, false}) {
        SCOPED_TRACE(std::string(content.name) + " mode " + std::to_string(mode) +
                     (quiet ? " quiet" : " traced"));
        Client streamed(mode, quiet);
        ASSERT_TRUE(streamed.client.AddPart(text, false, "k", true));
        ASSERT_TRUE(streamed.client.AddPart(binary, true, "k", false));

        Client inMemory(mode, quiet);
        inMemory.client.m_parts = streamed.client.m_parts;
        for (CMessagePart& part : inMemory.client.m_parts) {
          ASSERT_TRUE(part.m_plan.has_value());
          part.m_plan.reset();
          EncodeInMemory(part, content.bytes, mode);
        }

        std::string streamedTrace, inMemoryTrace;
        EXPECT_TRUE(streamed.Send(streamedTrace));
        EXPECT_TRUE(inMemory.Send(inMemoryTrace));
        EXPECT_TRUE(streamed.peer->sent == inMemory.peer->sent);
        EXPECT_TRUE(streamedTrace == inMemoryTrace);
        EXPECT_EQ(streamed.client.m_boundaryCounter, inMemory.client.m_boundaryCounter);
        EXPECT_EQ(quiet, streamedTrace.empty());
        if (content.bytes == delimiterLines && mode == kMime) {
          EXPECT_EQ(streamed.client.m_boundaryCounter, 2u);
        }
      }
    }
  }
}

// What can happen to a file between its first reading and its sending. A
// file is sent only when it still holds the bytes first read; bytes added
// past them are not read. A changed file never has all its lines sent.
TEST(PartStream, FileChangedSinceItWasPlannedIsRefused) {
  auto rewrite = [](const std::string& path, const std::function<void(std::string&)>& edit) {
    std::string bytes;
    {
      std::ifstream in(path, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    edit(bytes);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  };
  struct Case {
    const char* name;
    const char* file;
    std::function<void(const std::string&)> change;
    bool sent;
  } cases[] = {
      {"unchanged", "f.bin", [](const std::string&) {}, true},
      {"appended", "f.bin",
       [&](const std::string& p) { rewrite(p, [](std::string& b) { b += "more"; }); }, true},
      {"appended 7bit", "f.txt",
       [&](const std::string& p) { rewrite(p, [](std::string& b) { b += "\xE9\xE9"; }); }, true},
      {"first byte flipped", "f.bin",
       [&](const std::string& p) { rewrite(p, [](std::string& b) { b[0] ^= 1; }); }, false},
      {"last byte flipped", "f.bin",
       [&](const std::string& p) { rewrite(p, [](std::string& b) { b.back() ^= 1; }); }, false},
      {"one byte shorter", "f.bin",
       [&](const std::string& p) { rewrite(p, [](std::string& b) { b.pop_back(); }); }, false},
      {"emptied", "f.bin",
       [&](const std::string& p) { rewrite(p, [](std::string& b) { b.clear(); }); }, false},
      {"high byte in 7bit text", "f.txt",
       [&](const std::string& p) { rewrite(p, [](std::string& b) { b[100] = '\xE9'; }); }, false},
      {"line break moved in 7bit text", "f.txt",
       [&](const std::string& p) { rewrite(p, [](std::string& b) { std::swap(b[7], b[8]); }); },
       false},
      {"removed", "f.bin", [](const std::string& p) { fs::remove(p); }, false},
      {"replaced by a directory", "f.bin",
       [](const std::string& p) {
         fs::remove(p);
         fs::create_directory(p);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const bool text = std::string(c.file) == "f.txt";
    const std::string bytes = text ? Lines("line ", 30000) : Pattern(200000);
    const std::string path = dir.Write(c.file, bytes);
    CSmtpClient client(true, TestEnvironment());
    ASSERT_TRUE(client.AddPart(path, false, "", true));
    const CMessagePart& part = client.m_parts[0];
    const std::string before = SentLines(part);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(part.m_plan->size, bytes.size());

    // Where the system keeps writers out, as if one had had the file open.
    client.m_parts[0].m_plan->writeGuard.reset();
    c.change(path);
    CLineCollector collector;
    const bool sent = StreamPlannedPart(part, collector);
    EXPECT_EQ(sent, c.sent);
    if (sent) {
      EXPECT_TRUE(collector.bytes == before);
      EXPECT_EQ(collector.count, part.LineCount());
    } else {
      EXPECT_LT(collector.count, part.LineCount());
    }
  }
}

// The data of a message whose file changed ends without its final ".", and
// nothing of the parts after it is sent; the file is named.
TEST(PartStream, ChangedFileLeavesTheDataUnfinished) {
  ScratchDir dir;
  const std::string changing = dir.Write("big.bin", Pattern(300000));
  const std::string after = dir.Write("after.txt", "never sent\n");
  Client c(kMime, true);
  ASSERT_TRUE(c.client.AddPart(changing, true, "", false));
  ASSERT_TRUE(c.client.AddPart(after, true, "", false));
  c.client.m_parts[0].m_plan->writeGuard.reset();
  std::ofstream(changing, std::ios::binary | std::ios::in | std::ios::out).seekp(250000) << '!';

  std::string trace;
  EXPECT_FALSE(c.Send(trace));
  EXPECT_EQ(c.client.m_outcome.detail, changing);
  const std::string& sent = c.peer->sent;
  const size_t data = sent.find("DATA\r\n");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(sent.find("\r\n.\r\n", data), std::string::npos);
  EXPECT_EQ(sent.find("never sent"), std::string::npos);
  EXPECT_NE(sent.find("Content-Transfer-Encoding: base64"), std::string::npos);
}

}  // namespace
