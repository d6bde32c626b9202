// --password-command with POSIX shell commands: the bounds of the table in
// password_source_test.cpp, and what only a POSIX shell can show.
#include "app/password_source.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "shell_commands.h"

namespace {

long long ElapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace

std::vector<SCommandCase> ShellOnlyCommandCases() {
  return {
      {"sleep 30", false, "the password command did not end in time"},
      // Its own output closed, the shell still runs.
      {"echo tok3n; exec >&-; sleep 30", false, "the password command did not end in time"},
      {"yes", false, "the password command wrote more than 64 KiB"},
      {"head -c 65537 /dev/zero", false, "the password command wrote more than 64 KiB"},
      {"printf 'tok3n\\r'", true, "tok3n"},
      {"kill -9 $$", false, "the password command did not end normally"},
      // Standard input is empty, never the message text.
      {"cat", false, "the password command wrote no password"},
  };
}

std::string ShowFileCommand(const std::string& path) { return "cat '" + path + "'"; }

namespace {

// The shell ends while a process it left running holds its output: the
// shell is waited for, not the end of the output.
TEST(PasswordCommand, EndsWithTheShellNotWithItsOutput) {
  const std::string pidFile = testing::TempDir() + "pw-command-pid";
  const std::string holder = "sh -c 'echo $$ > " + pidFile + "; exec sleep 20'";
  for (const std::string& command :
       {"echo tok3n; " + holder + " &", "echo tok3n; (" + holder + " &)"}) {
    SCOPED_TRACE(command);
    const auto start = std::chrono::steady_clock::now();
    std::string password;
    std::string reason;
    EXPECT_TRUE(RunPasswordCommand(command, 10000, password, reason)) << reason;
    EXPECT_EQ(password, "tok3n");
    EXPECT_LT(ElapsedMs(start), 5000);
    // Left running, as a shell leaves its background processes; stopped here.
    for (int i = 0; i < 100; ++i) {
      std::ifstream file(pidFile);
      long pid = 0;
      if (file >> pid && pid > 0) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::remove(pidFile.c_str());
  }
}

// What the command started is ended with it: nothing of it is left writing.
TEST(PasswordCommand, TimedOutCommandEndsWithWhatItStarted) {
  const std::string marker = testing::TempDir() + "pw-command-marker";
  std::remove(marker.c_str());
  std::string password;
  std::string reason;
  EXPECT_FALSE(RunPasswordCommand("(sleep 0.5; echo late > '" + marker + "') & sleep 30", 200,
                                  password, reason));
  EXPECT_EQ(reason, "the password command did not end in time");
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  std::FILE* file = std::fopen(marker.c_str(), "rb");
  EXPECT_EQ(file, nullptr) << "a process the command started outlived it";
  if (file) std::fclose(file);
}

}  // namespace
