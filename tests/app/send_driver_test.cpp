#include "app/send_driver.h"

#include <gtest/gtest.h>

#include "app/switches.h"
#include "app/usage.h"

namespace {

struct Outcome {
  SendResult status;
  std::string err;
};

Outcome RunDriver(std::vector<std::string> words) {
  words.insert(words.begin(), "velsend");
  CSwitchCommandLineInfo table;
  table.ParseWords(words);
  testing::internal::CaptureStderr();
  SendResult status = SendFromCommandLine(table);
  return {status, testing::internal::GetCapturedStderr()};
}

TEST(SendDriver, ValidationOrderAndStatuses) {
  struct Case {
    std::vector<std::string> words;
    SendResult status;
  } cases[] = {
      {{}, ERROR_NO_ORIGINATOR},
      {{"-rb", "-sc", "-hd"}, ERROR_NO_ORIGINATOR},
      {{"-oa", "-sc", "-hd"}, ERROR_NO_RECIPIENTS},
      {{"-oa", "-r", "-hd"}, ERROR_NO_SUBJECT},
      {{"-oa", "-rb", "-hd", "-mBAD"}, ERROR_NO_SUBJECT},  // -s is checked first
      {{"-oa", "-rb", "-s"}, ERROR_NO_HOST},
      {{"-oa", "-rb", "-sc", "-hd", "-m"}, ERROR_INVALID_ESMTP_METHOD},
      {{"-oa", "-rb", "-sc", "-hd", "-mCRAM-MD5", "-f,"}, ERROR_INVALID_ESMTP_METHOD},
  };
  for (const Case& c : cases) {
    Outcome o = RunDriver(c.words);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.err, UsageText());  // usage alone, nothing naming the switch
  }
}

}  // namespace
