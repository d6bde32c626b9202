#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "mime/byte_source.h"
#include "smtp/smtp_client.h"
#include "support/line_collector.h"
#include "support/fake_environment.h"
#include "support/memory_source.h"

namespace {

const std::string kTypes = VELSEND_TEST_DATA_DIR "/mime.types";
const char kPrompt[] = "Type Message, end with .<CR>\n";

std::string Repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

// A directory of its own for each test, removed with it.
class ScratchDir {
 public:
  ScratchDir() {
    static int serial = 0;
    m_path = std::filesystem::temp_directory_path() /
             ("velsend-parts-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(m_path);
  }
  ~ScratchDir() { std::filesystem::remove_all(m_path); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(m_path / name, std::ios::binary) << bytes;
    return Path(name);
  }
  std::string Path(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

TEST(SplitAddress, NameVerbatimAddressInBrackets) {
  struct Case {
    const char* entry;
    const char* address;
    const char* name;
  } cases[] = {
      {"John Smith <js>", "js", "John Smith "},
      {"js", "js", ""},
      {"<js", "js", ""},
      {"John <js> (office)", "js", "John "},
      {"a > b <c>d>", "c", "a > b "},  // only a ">" after the "<" closes
      {"", "", ""},
  };
  for (const Case& c : cases) {
    std::string address = "stale", name = "stale";
    EXPECT_TRUE(CSmtpClient::SplitAddress(c.entry, address, name));
    EXPECT_EQ(address, c.address) << c.entry;
    EXPECT_EQ(name, c.name) << c.entry;
  }
}

TEST(SetOriginator, SplitsIntoAddressAndName) {
  CSmtpClient client(true);
  client.SetOriginator("Me <me@example.org>");
  EXPECT_EQ(client.m_originatorAddress, "me@example.org");
  EXPECT_EQ(client.m_originatorName, "Me ");
}

TEST(Recipients, CcAndBccStartIndexes) {
  struct Case {
    int to, cc, bcc;
    int ccStart, bccStart;
  } cases[] = {
      {2, 1, 2, 2, 3},
      {2, 0, 1, 2, 2},  // the first Bcc also fixes the Cc start
      {1, 2, 0, 1, CSmtpClient::kUnsetStart},
      {3, 0, 0, CSmtpClient::kUnsetStart, CSmtpClient::kUnsetStart},
  };
  for (const Case& c : cases) {
    CSmtpClient client(true);
    std::vector<std::string> typed;
    for (int i = 0; i < c.to; ++i) typed.push_back("to" + std::to_string(i));
    for (int i = 0; i < c.cc; ++i) typed.push_back("cc <" + std::to_string(i) + ">");
    for (int i = 0; i < c.bcc; ++i) typed.push_back("bcc" + std::to_string(i));
    for (int i = 0; i < c.to; ++i) client.AddRecipient(typed[i]);
    for (int i = c.to; i < c.to + c.cc; ++i) client.AddCcRecipient(typed[i]);
    for (int i = c.to + c.cc; i < c.to + c.cc + c.bcc; ++i) client.AddBccRecipient(typed[i]);
    EXPECT_EQ(client.m_ccStart, c.ccStart);
    EXPECT_EQ(client.m_bccStart, c.bccStart);
    EXPECT_EQ(client.m_recipients, typed);  // as typed, in order
  }
}

TEST(LookupContentType, LastDotOfTheWholeName) {
  CFakeEnvironment environment;
  environment.contentTypeTable = kTypes;
  CSmtpClient client(true, environment);
  struct Case {
    const char* fileName;
    const char* type;
  } cases[] = {
      {"notes.TXT", "text/plain"},
      {"dir/notes.txt", "text/plain"},
      {"x.dir", "application/x-director"},
      {"archive.txt.sh", "application/x-sh"},
      {"C:\\my.dir\\README", "application/octet-stream"},
      {"a/b.dir/README", "application/octet-stream"},
      {"README", "application/octet-stream"},
      {"trailing.", "application/octet-stream"},
      {"data.xyz", "application/octet-stream"},
      {"", "application/octet-stream"},
  };
  for (const Case& c : cases) EXPECT_EQ(client.LookupContentType(c.fileName), c.type) << c.fileName;

  environment.contentTypeTable = VELSEND_TEST_DATA_DIR "/absent/mime.types";
  EXPECT_EQ(client.LookupContentType("report.PDF"), "application/pdf");
  EXPECT_EQ(client.LookupContentType("x.dir"), "application/octet-stream");
}

enum Mode { kMime, kUuencode, kForceUuencode };

TEST(AddPart, FileEncodingByModeAndType) {
  struct Case {
    Mode mode;
    const char* name;
    std::string bytes;
    const char* type;
    const char* encoding;
    std::string lines;
  } cases[] = {
      {kMime, "plain.txt", "one\ntwo", "text/plain", "7bit", "one\r\ntwo"},
      {kMime, "accents.txt", "caf\xE9\n", "text/plain", "quoted-printable", "caf=E9\r\n"},
      {kMime, "noisy.txt", std::string(102, '\xFF'), "text/plain", "base64",
       std::string(76, '/') + "\r\n" + std::string(60, '/') + "\r\n"},
      // Non-text types go to base64 even when they are ASCII, so that their
      // line breaks arrive unchanged.
      {kMime, "blob.bin", "abc\n", "application/octet-stream", "base64", "YWJjCg==\r\n"},
      {kMime, "run.sh", "a\nb", "application/x-sh", "base64", "YQpi\r\n"},
      {kMime, "README", "x\r\n", "application/octet-stream", "base64", "eA0K\r\n"},
      // A message or multipart body may only be 7bit here; one that is not
      // 7-bit text travels as opaque data.
      {kMime, "inner.eml", "From: a\nSubject: x\n\nbody", "message/rfc822", "7bit",
       "From: a\r\nSubject: x\r\n\r\nbody"},
      {kMime, "parts.mix", "--b\r\n\r\nx\r\n--b--\r\n", "MULTIPART/Mixed", "7bit",
       "--b\r\n\r\nx\r\n--b--\r\n"},
      {kMime, "latin.eml", "Subject: caf\xE9\n", "application/octet-stream", "base64",
       "U3ViamVjdDogY2Fm6Qo=\r\n"},
      {kMime, "long.eml", std::string(999, 'x'), "application/octet-stream", "base64",
       Repeat(Repeat("eHh4", 19) + "\r\n", 17) + Repeat("eHh4", 10) + "\r\n"},
      {kUuencode, "inner.eml", "From: a\n\nbody", "message/rfc822", "7bit", "From: a\r\n\r\nbody\r\n"},
      {kUuencode, "blob.bin", "abc\n", "application/octet-stream", "7bit", "abc\r\n"},
      {kUuencode, "plain.txt", "one\ntwo", "text/plain", "7bit", "one\r\ntwo\r\n"},
      {kUuencode, "high.txt", "\x80", "text/plain", "", "!@```\r\n"},
      {kForceUuencode, "plain.txt", "abc", "text/plain", "", "#86)C\r\n"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    const std::string path = dir.Write(c.name, c.bytes);
    CFakeEnvironment environment;
    environment.contentTypeTable = kTypes;
    CSmtpClient client(true, environment);
    client.m_uuencodeMode = c.mode != kMime;
    client.m_forceUuencode = c.mode == kForceUuencode;

    testing::internal::CaptureStderr();
    const bool added = client.AddPart(path, true, "Latin-X", false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.name;
    ASSERT_TRUE(added) << c.name;
    ASSERT_EQ(client.m_parts.size(), 1u);
    const CMessagePart& part = client.m_parts[0];
    EXPECT_EQ(part.m_contentType, c.type) << c.name;
    EXPECT_EQ(part.m_encoding, c.encoding) << c.name;
    EXPECT_EQ(part.m_uuencoded, c.mode != kMime && std::string(c.encoding).empty()) << c.name;
    EXPECT_EQ(SentLines(part), c.lines) << c.name;
    EXPECT_EQ(part.m_fileName, path);
    EXPECT_EQ(part.m_charset, "Latin-X");  // as typed, whatever the type
    EXPECT_TRUE(part.m_attachment);
    EXPECT_FALSE(part.m_withholdName);
  }
}

TEST(AddPart, MessageTextIsQuotedPrintableAfterThePrompt) {
  // The C locale; an empty charset request takes its default, UTF-8.
  std::optional<std::string> oldAll;
  if (const char* old = std::getenv("LC_ALL")) oldAll = old;
  setenv("LC_ALL", "C", 1);

  for (bool uuencode : {false, true}) {
    CMemorySource text("a=b\r\nsecond\n.\r\nnot text\r\n", true);
    CFakeEnvironment environment;
    environment.messageText = &text;
    CSmtpClient client(true, environment);
    client.m_uuencodeMode = uuencode;

    testing::internal::CaptureStderr();
    const bool added = client.AddPart("", false, "", true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kPrompt);
    ASSERT_TRUE(added);
    ASSERT_EQ(client.m_parts.size(), 1u);
    const CMessagePart& part = client.m_parts[0];
    EXPECT_EQ(part.m_contentType, "text/plain");
    EXPECT_EQ(part.m_encoding, "quoted-printable");
    EXPECT_EQ(std::string(part.m_lines.Bytes()), "a=3Db\r\nsecond\r\n");
    EXPECT_EQ(part.m_charset, "UTF-8");
    EXPECT_EQ(part.m_fileName, "");
    EXPECT_FALSE(part.m_attachment);
    EXPECT_TRUE(part.m_withholdName);
  }

  if (oldAll) {
    setenv("LC_ALL", oldAll->c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

TEST(AddPart, UnopenableFileAddsNothingAndKeepsEarlierParts) {
  ScratchDir dir;
  CFakeEnvironment environment;
  environment.contentTypeTable = kTypes;
  CSmtpClient client(true, environment);
  ASSERT_TRUE(client.AddPart(dir.Write("a.txt", "hello\n"), false, "", true));

  testing::internal::CaptureStderr();
  EXPECT_FALSE(client.AddPart(dir.Path("missing.bin"), true, "", false));
  EXPECT_FALSE(client.AddPart(dir.Path(""), true, "", false));  // the directory itself
  std::filesystem::create_directory(dir.Path("sub.txt"));
  EXPECT_FALSE(client.AddPart(dir.Path("sub.txt"), true, "", false));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  ASSERT_EQ(client.m_parts.size(), 1u);
  EXPECT_EQ(client.m_parts[0].m_fileName, dir.Path("a.txt"));
}

TEST(AddPart, ReadErrorOnTheFileIsAFailureNotAnEnd) {
  // /proc/self/mem opens as a regular file, and reading its first page fails.
  CFileSource probe;
  if (!probe.Open("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem to fail reads";
  probe.Close();

  ScratchDir dir;
  for (const char* name : {"mem.txt", "mem.bin"}) {
    std::filesystem::create_symlink("/proc/self/mem", dir.Path(name));
    for (bool uuencode : {false, true}) {
      CFakeEnvironment environment;
      environment.contentTypeTable = kTypes;
      CSmtpClient client(true, environment);
      client.m_uuencodeMode = uuencode;
      EXPECT_FALSE(client.AddPart(dir.Path(name), false, "", true)) << name << uuencode;
      EXPECT_TRUE(client.m_parts.empty());
    }
  }
}

// Fails the way a huge source does when memory runs out.
class ExhaustingSource : public CByteSource {
 protected:
  long ReadSource(char*, size_t) override { throw std::bad_alloc(); }
  bool RewindSource() override { return true; }
};

TEST(AddPart, MessageTextThatCannotBeReadWholeIsNotAdded) {
  CMemorySource broken("line one\r\nline two\r\n.\r\n", true);
  broken.FailAfter(12);
  CFakeEnvironment environment;
  environment.messageText = &broken;
  CSmtpClient client(true, environment);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(client.AddPart("", false, "", true));

  ExhaustingSource exhausting;
  environment.messageText = &exhausting;
  EXPECT_FALSE(client.AddPart("", false, "", true));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(kPrompt) + kPrompt);
  EXPECT_TRUE(client.m_parts.empty());
}

}  // namespace
