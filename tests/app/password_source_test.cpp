#include "app/password_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/switches.h"
#include "shell_commands.h"

namespace {

TEST(PasswordSource, FirstLine) {
  struct Case {
    std::string text;
    const char* line;
  } cases[] = {
      {"secret", "secret"},
      {"secret\n", "secret"},
      {"secret\r\n", "secret"},
      {"secret\r\nnext\n", "secret"},
      {"sec ret \n", "sec ret "},  // blanks belong to the password
      {"secret\r", "secret"},      // a CR alone ends a line too
      {"secret\rnext", "secret"},
      {"\nsecret\n", ""},
      {"\rsecret\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FirstLine(c.text), c.line) << c.text;
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = testing::TempDir() + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr);
  if (file) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  return path;
}

TEST(PasswordSource, File) {
  const std::string token(4096, 'k');
  struct Case {
    const char* name;
    std::string bytes;
    bool found;
    std::string password;
  } cases[] = {
      {"pw-plain", "s3cret", true, "s3cret"},
      {"pw-lf", "s3cret\nsecond line\n", true, "s3cret"},
      {"pw-crlf", "s3cret\r\n", true, "s3cret"},
      {"pw-cr", "s3cret\r", true, "s3cret"},
      {"pw-cr-lines", "s3cret\rsecond\r", true, "s3cret"},
      {"pw-token", token + "\n", true, token},
      {"pw-empty", "", false, ""},
      {"pw-empty-line", "\nlater\n", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile(c.name, c.bytes);
    std::string password;
    std::string reason;
    std::string warning;
    EXPECT_EQ(ReadPasswordFile(path, password, reason, warning), c.found);
    if (c.found) {
      EXPECT_EQ(password, c.password);
    } else {
      EXPECT_EQ(reason, path + " holds no password on its first line");
    }
    std::remove(path.c_str());
  }
  std::string password;
  std::string reason;
  std::string warning;
  const std::string missing = testing::TempDir() + "pw-missing";
  EXPECT_FALSE(ReadPasswordFile(missing, password, reason, warning));
  EXPECT_TRUE(reason.starts_with("can't open " + missing + ": ")) << reason;
  // A directory (as a FIFO or a device) is refused before it is opened.
  const std::string directory = testing::TempDir() + "pw-directory";
  std::filesystem::create_directory(directory);
  EXPECT_FALSE(ReadPasswordFile(directory, password, reason, warning));
  EXPECT_EQ(reason, directory + " is not a regular file");
  std::filesystem::remove(directory);
}

// A NUL would cut the password short in one mechanism and not in another:
// refused, whichever source brought it.
TEST(PasswordSource, NulIsRefused) {
  const std::string path = WriteFile("pw-nul", std::string("s3\0cret\n", 8));
  for (const std::string& word :
       {"--password-file=" + path, "--password-command=" + ShowFileCommand(path)}) {
    SCOPED_TRACE(word);
    CSwitchCommandLineInfo switches("-");
    switches.ParseParam(word);
    std::string password;
    std::string reason;
    std::string warning;
    EXPECT_EQ(ObtainPassword(switches, true, 10000, password, reason, warning),
              PasswordOutcome::kFailed);
    EXPECT_EQ(reason, "the password holds a NUL byte");
    EXPECT_EQ(password, "");
  }
  std::remove(path.c_str());
}

// Commands both systems' shells run alike, then those of this system's
// shell; each ends, or is ended, well within the bound.
TEST(PasswordSource, Command) {
  std::vector<SCommandCase> cases = {
      {"echo tok3n", true, "tok3n"},
      {"echo first&& echo second", true, "first"},
      {"exit 3", false, "the password command exited with status 3"},
      {"echo tok3n&& exit 1", false, "the password command exited with status 1"},
      {"exit 0", false, "the password command wrote no password"},
  };
  for (const SCommandCase& c : ShellOnlyCommandCases()) cases.push_back(c);
  for (const SCommandCase& c : cases) {
    SCOPED_TRACE(c.command);
    const auto start = std::chrono::steady_clock::now();
    std::string password;
    std::string reason;
    EXPECT_EQ(RunPasswordCommand(c.command, 1000, password, reason), c.found);
    EXPECT_EQ(c.found ? password : reason, c.result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
}

TEST(PasswordSource, AtMostOneSource) {
  struct Case {
    std::vector<std::string> words;
    bool fault;
  } cases[] = {
      {{"-nann"}, false},
      {{"-pX"}, false},
      {{"--password-file=f"}, false},
      {{"--password-command=c"}, false},
      {{"-pX", "--password-file=f"}, true},
      {{"-p", "--password-command=c"}, true},  // an empty -p names one too
      {{"--password-file=f", "--password-command=c"}, true},
  };
  for (const Case& c : cases) {
    CSwitchCommandLineInfo switches("-");
    for (const std::string& word : c.words) switches.ParseParam(word);
    EXPECT_EQ(PasswordSourceFault(switches).empty(), !c.fault) << c.words.size();
  }
}

}  // namespace
