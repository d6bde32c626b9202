#include "platform/command.h"

#include <gtest/gtest.h>

namespace {

// cmd.exe's endless loops: one silent, one that writes without end.
TEST(RunShellCommand, BoundedInTimeAndOutput) {
  // The writer's limit is small and its time long: cmd.exe under a busy
  // Wine may echo only a few hundred lines a second.
  struct Case {
    const char* command;
    size_t limit;
    int timeoutMs;
    platform::CommandOutcome outcome;
  } cases[] = {
      {"echo tok3n", 64 * 1024, 10000, platform::CommandOutcome::kRan},
      {"for /L %i in (1,0,2) do @rem", 64 * 1024, 1500, platform::CommandOutcome::kTimedOut},
      {"for /L %i in (1,0,2) do @echo xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 4096, 30000,
       platform::CommandOutcome::kTooLong},
  };
  for (const Case& c : cases) {
    std::string output;
    int status = 0;
    EXPECT_EQ(platform::RunShellCommand(c.command, c.limit, c.timeoutMs, output, status),
              c.outcome)
        << c.command;
  }
}

}  // namespace
