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
  CSwitchCommandLineInfo table("-");
  EXPECT_TRUE(table.ParseWords(words));
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
      {{"-oa", "-rb", "-sc", "-hd", "-mDIGEST-MD5", "-f,"}, ERROR_INVALID_ESMTP_METHOD},
  };
  for (const Case& c : cases) {
    Outcome o = RunDriver(c.words);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.err, UsageText());  // usage alone, nothing naming the switch
  }
}

// Each refusal comes before any connection: the host names a relay that
// cannot be reached, which would give status 6 instead.
TEST(SendDriver, InvalidAddressesStopTheRun) {
  const std::string kNoRelay = "-h127.0.0.1:0";
  struct Case {
    std::vector<std::string> words;
    SendResult status;
    std::string err;
  } cases[] = {
      {{"-oann@example.test> RET=HDRS ENVID=x", "-rb", "-sc", kNoRelay}, ERROR_NO_ORIGINATOR,
       "Invalid address ann@example.test> RET=HDRS ENVID=x\n"},
      {{"-oAnn <ann@x NOTIFY=NEVER>"}, ERROR_NO_ORIGINATOR,  // checked before -r is looked for
       "Invalid address Ann <ann@x NOTIFY=NEVER>\n"},
      {{"-oa", "-rb,c d", "-sc", kNoRelay}, ERROR_NO_RECIPIENTS, "Invalid address c d\n"},
      {{"-oa", "-rb", "-sc", kNoRelay, "-cBob <b\tb@x>"}, ERROR_NO_RECIPIENTS,
       "Invalid address Bob <b\tb@x>\n"},
      {{"-oa", "-rb", "-sc", kNoRelay, "-Ce\x7f@x"}, ERROR_NO_RECIPIENTS,
       "Invalid address e\x7f@x\n"},
      {{"-oa", "-rb", "-sc", kNoRelay, "-cx", "-C,<a<b>"}, ERROR_NO_RECIPIENTS,
       "Invalid address <a<b>\n"},
      // Switches checked earlier keep their precedence.
      {{"-oa", "-rb", "-s", "-cx y"}, ERROR_NO_HOST, UsageText()},
      {{"-oa", "-rb", "-sc", kNoRelay, "-mX", "-cx y"}, ERROR_INVALID_ESMTP_METHOD, UsageText()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    Outcome o = RunDriver(c.words);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.err, c.err);
  }
}

TEST(ParseFileEntry, Markers) {
  struct Case {
    const char* entry;
    const char* fileName;
    char marker;
    bool attachment;
    bool withholdName;
  } cases[] = {
      {"report.pdf", "report.pdf", '\0', false, true},
      {"+report.pdf", "report.pdf", '+', true, false},
      {"#logo.gif", "logo.gif", '#', false, false},
      {"", "", '\0', false, true},     // the message text
      {"+", "", '+', true, false},      // the message text as an attachment
      {"#", "", '#', false, false},
      {"a+b#c", "a+b#c", '\0', false, true},  // a marker only counts first
      {"++x", "+x", '+', true, false},
      {"#+x", "+x", '#', false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    const SFileEntry e = ParseFileEntry(c.entry);
    EXPECT_EQ(e.fileName, c.fileName);
    EXPECT_EQ(e.marker, c.marker);
    EXPECT_EQ(e.attachment, c.attachment);
    EXPECT_EQ(e.withholdName, c.withholdName);
  }
}

}  // namespace
