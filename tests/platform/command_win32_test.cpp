#include "platform/command.h"

#include <gtest/gtest.h>

namespace {

// cmd.exe's endless loops: one silent, one that writes without end.
TEST(RunShellCommand, BoundedInTimeAndOutput) {
  struct Case {
    const char* command;
    platform::CommandOutcome outcome;
  } cases[] = {
      {"echo tok3n", platform::CommandOutcome::kRan},
      {"for /L %i in (1,0,2) do @rem", platform::CommandOutcome::kTimedOut},
      {"for /L %i in (1,0,2) do @echo xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
       platform::CommandOutcome::kTooLong},
  };
  for (const Case& c : cases) {
    std::string output;
    int status = 0;
    EXPECT_EQ(platform::RunShellCommand(c.command, 64 * 1024, 1500, output, status), c.outcome)
        << c.command;
  }
}

}  // namespace
