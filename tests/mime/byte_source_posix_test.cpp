#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "mime/byte_source.h"
#include "mime/message_part.h"
#include "support/memory_source.h"

namespace {

std::string Pattern(size_t n) {
  std::string bytes;
  for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>(i * 131 >> 2));
  return bytes;
}

// Reads the rest of a source in blocks of size, mixing in single bytes.
std::string Drain(CByteSource& source, size_t size) {
  std::string out;
  std::string block(size, '\0');
  for (;;) {
    int c = source.ReadByte();
    if (c < 0) break;
    out.push_back(static_cast<char>(c));
    size_t n = source.Read(block.data(), size);
    out.append(block, 0, n);
    if (n < size) break;
  }
  return out;
}

TEST(ByteSourceTest, ReadsAcrossRefillsAndRewinds) {
  const std::string bytes = Pattern(200000);  // several buffer fills
  CMemorySource source(bytes);
  EXPECT_EQ(source.PeekByte(), static_cast<unsigned char>(bytes[0]));
  EXPECT_TRUE(Drain(source, 57) == bytes);
  EXPECT_EQ(source.ReadByte(), -1);
  EXPECT_FALSE(source.Failed());
  EXPECT_TRUE(source.Rewind());
  EXPECT_TRUE(Drain(source, 45) == bytes);
}

TEST(ByteSourceTest, ReadErrorEndsInputAndIsReported) {
  const std::string bytes = Pattern(3000);
  CMemorySource source(bytes);
  source.FailAfter(1000);
  EXPECT_TRUE(Drain(source, 100) == bytes.substr(0, 1000));
  EXPECT_TRUE(source.Failed());
  EXPECT_TRUE(source.Rewind());
  EXPECT_FALSE(source.Failed());
}

// The encoders take a failed read for the end of input; the source keeps the
// failure so that the part can be refused rather than sent cut short.
TEST(ByteSourceTest, EncodersLeaveAMidFileErrorVisible) {
  using Encode = bool (*)(CMessagePart&, CByteSource&);
  const Encode encoders[] = {
      [](CMessagePart& p, CByteSource& s) { return p.EncodeSevenBit(s, false); },
      [](CMessagePart& p, CByteSource& s) { return p.EncodeQuotedPrintable(s, false); },
      [](CMessagePart& p, CByteSource& s) { return p.EncodeBase64(s); },
      [](CMessagePart& p, CByteSource& s) { return p.EncodeUuencode(s); },
  };
  std::string text;
  for (int i = 0; i < 2000; ++i) text.append("line of text\r\n");
  for (Encode encode : encoders) {
    CMemorySource source(text);
    source.FailAfter(10000);
    CMessagePart part;
    EXPECT_TRUE(encode(part, source));
    EXPECT_TRUE(source.Failed());
    EXPECT_FALSE(part.m_lines.empty());
  }
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velsend-XXXXXX").string();
    if (mkdtemp(pattern.data())) m_path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

TEST(FileSourceTest, OpensOnlyRegularFiles) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string bytes = Pattern(100000);
  const std::string file = (dir.path() / "data.bin").string();
  std::ofstream(file, std::ios::binary) << bytes;

  CFileSource source;
  EXPECT_FALSE(source.Open(dir.path().string()));
  EXPECT_FALSE(source.Open((dir.path() / "missing").string()));
  ASSERT_TRUE(source.Open(file));
  EXPECT_TRUE(Drain(source, 57) == bytes);
  EXPECT_TRUE(source.Rewind());
  EXPECT_TRUE(Drain(source, 45) == bytes);
  EXPECT_FALSE(source.Failed());
  EXPECT_FALSE(source.IsStandardInput());
}

// Standard input hands over what has arrived without waiting to fill its
// buffer: a typed text must not stall until the typist closes the input.
TEST(StandardInputTest, DeliversWhatHasArrived) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const int savedInput = dup(STDIN_FILENO);
  ASSERT_GE(savedInput, 0);
  ASSERT_GE(dup2(pipeEnds[0], STDIN_FILENO), 0);
  close(pipeEnds[0]);

  std::atomic<bool> lineRead{false};
  bool closedBeforeRead = false;
  std::thread typist([&] {
    EXPECT_EQ(write(pipeEnds[1], "hi\n", 3), 3);
    for (int i = 0; i < 500 && !lineRead; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    closedBeforeRead = !lineRead;
    EXPECT_EQ(write(pipeEnds[1], ".\nrest", 6), 6);
    close(pipeEnds[1]);
  });

  CByteSource& input = StandardInput();
  std::string first;
  for (int i = 0; i < 3; ++i) first.push_back(static_cast<char>(input.ReadByte()));
  lineRead = true;
  CMessagePart part;
  part.EncodeQuotedPrintable(input, false);
  typist.join();
  dup2(savedInput, STDIN_FILENO);
  close(savedInput);

  EXPECT_EQ(first, "hi\n");
  EXPECT_FALSE(closedBeforeRead);
  EXPECT_TRUE(part.m_lines.empty());
  EXPECT_TRUE(input.IsStandardInput());
  EXPECT_FALSE(input.Failed());
  EXPECT_FALSE(input.Rewind());
}

}  // namespace
