// The bounds of --password-command with cmd.exe commands (the POSIX side
// has its own shell twins).
#include "app/password_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

long long ElapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

TEST(PasswordCommand, BoundedInTimeAndOutput) {
  struct Case {
    const char* command;
    bool found;
    const char* result;  // the password, or the reason
  } cases[] = {
      {"for /l %i in (0,0,1) do @rem", false, "the password command did not end in time"},
      {"for /l %i in (0,0,1) do @echo yyyyyyyyyyyyyyyyyyyyyyyyyyyyyy", false,
       "the password command wrote more than 64 KiB"},
      {"echo tok3n", true, "tok3n"},
      // Standard input is empty, never the message text.
      {"more", false, "the password command wrote no password"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const auto start = std::chrono::steady_clock::now();
    std::string password;
    std::string reason;
    EXPECT_EQ(RunPasswordCommand(c.command, 1000, password, reason), c.found);
    EXPECT_EQ(c.found ? password : reason, c.result);
    EXPECT_LT(ElapsedMs(start), 10000);
  }
}

}  // namespace
