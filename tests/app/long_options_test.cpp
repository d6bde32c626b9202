#include "app/long_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/send_driver.h"
#include "app/switches.h"
#include "app/usage.h"
#include "net/line_socket.h"
#include "platform/tls.h"
#include "product_config.h"

namespace {

CSwitchCommandLineInfo Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "velsend");
  CSwitchCommandLineInfo table;
  table.ParseWords(words);
  return table;
}

TEST(LongOptions, FaultsStopTheRun) {
  struct Case {
    std::vector<std::string> words;
    const char* fault;
    bool usage;
  } cases[] = {
      {{"--starttls", "--tls=", "-q"}, "Option --tls takes no value\n", true},
      {{"--startls"}, "Unknown option --startls\n", true},
      {{"--pasword=hunter2"}, "Unknown option --pasword\n", true},  // never the value
      {{"--"}, "Unknown option --\n", true},
      {{"--TLS"}, "Unknown option --TLS\n", true},
      {{"--timeout"}, "Option --timeout needs a value\n", true},
      {{"--cacert="}, "Option --cacert needs a value\n", true},
      {{"--timeout=0"}, "Invalid value for --timeout: 0\n", false},
      {{"--bogus", "--timeout=0"}, "Unknown option --bogus\n", true},  // the first fault
      {{"--tls", "--starttls"}, "Options --tls and --starttls exclude each other\n", true},
      {{"--ipv6", "--ipv4"}, "Options --ipv4 and --ipv6 exclude each other\n", true},
      {{"--ipv4=yes"}, "Option --ipv4 takes no value\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words[0]);
    bool usage = false;
    EXPECT_EQ(Parse(c.words).LongOptions().Fault(usage), c.fault);
    EXPECT_EQ(usage, c.usage);
  }
}

TEST(LongOptions, ValuesAndSwitchesApart) {
  CSwitchCommandLineInfo table =
      Parse({"--cacert=a=b.pem", "--insecure", "-hrelay", "--timeout=5", "--timeout=7"});
  bool usage = false;
  EXPECT_EQ(table.LongOptions().Fault(usage), "");
  std::string value;
  EXPECT_TRUE(table.LongOptions().Lookup("cacert", value));
  EXPECT_EQ(value, "a=b.pem");
  EXPECT_TRUE(table.LongOptions().Has("insecure"));
  EXPECT_FALSE(table.LongOptions().Has("tls"));
  // A long option is never the switch "-".
  EXPECT_FALSE(table.HasSwitch("-"));
  EXPECT_TRUE(table.LookupSwitch("h", value));
  EXPECT_EQ(value, "relay");
  SLineTimeouts timeouts;
  ASSERT_TRUE(table.LongOptions().Timeouts(timeouts));
  EXPECT_EQ(timeouts.connectMs, 7000);
  EXPECT_EQ(timeouts.replyMs, 7000);
  EXPECT_EQ(timeouts.finalReplyMs, 14000);
  EXPECT_EQ(timeouts.sendMs, 7000);
  EXPECT_FALSE(Parse({}).LongOptions().Timeouts(timeouts));
}

TEST(LongOptions, TimeoutSeconds) {
  struct Case {
    const char* text;
    int seconds;  // 0: refused
  } cases[] = {
      {"1", 1},    {"86400", 86400}, {"030", 30},   {"0", 0},     {"86401", 0},
      {"", 0},     {"-5", 0},        {"+5", 0},     {" 5", 0},    {"5s", 0},
      {"0x10", 0}, {"4294967297", 0}, {"1.5", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int seconds = 0;
    EXPECT_EQ(ParseTimeoutSeconds(c.text, seconds), c.seconds != 0);
    EXPECT_EQ(seconds, c.seconds);
  }
}

TEST(LongOptions, FaultComesBeforeEveryOtherCheck) {
  // No originator either: the option is reported, with its own status.
  CSwitchCommandLineInfo table = Parse({"--startls", "-rb", "-sc", "-hd"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(SendFromCommandLine(table), ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string("Unknown option --startls\n") + UsageText());
}

TEST(LongOptions, HelpListsEveryOptionUnderItsGroup) {
  testing::internal::CaptureStdout();
  PrintHelp();
  const std::string help = testing::internal::GetCapturedStdout();
  ASSERT_EQ(help.compare(0, std::string(UsageText()).size(), UsageText()), 0);
  const std::string section = help.substr(std::string(UsageText()).size());
  // One line per option, under the heading of its group, with its default.
  for (const SLongOption* option = LongOptionTable(); option->name; ++option) {
    SCOPED_TRACE(option->name);
    const size_t at = section.find(std::string("\n  --") + option->name);
    ASSERT_NE(at, std::string::npos);
    const size_t heading = section.rfind(" options:\n", at);
    ASSERT_NE(heading, std::string::npos);
    const size_t headingStart = section.rfind('\n', heading) + 1;
    EXPECT_EQ(section.substr(headingStart, heading - headingStart),
              OptionGroupHeading(option->group));
    const std::string line = section.substr(at + 1, section.find('\n', at + 1) - at - 1);
    EXPECT_LE(line.size(), 100u);
    if (option->byDefault) {
      EXPECT_NE(line.find(std::string("(default: ") + option->byDefault + ")"), std::string::npos);
    }
  }
}

TEST(LongOptions, ValuesCheckedByTheirOption) {
  struct Case {
    const char* word;
    const char* fault;  // empty: accepted
  } cases[] = {
      {"--helo=mail.example.org", ""},
      {"--helo=vm", ""},
      {"--helo=[192.0.2.1]", ""},
      {"--helo=[IPv6:2001:db8::1]", ""},
      {"--helo=a-b.c9", ""},
      {"--helo=", "Option --helo needs a value\n"},
      {"--helo=a..b", "Invalid value for --helo: a..b\n"},
      {"--helo=.a", "Invalid value for --helo: .a\n"},
      {"--helo=a.", "Invalid value for --helo: a.\n"},
      {"--helo=-a.b", "Invalid value for --helo: -a.b\n"},
      {"--helo=a-.b", "Invalid value for --helo: a-.b\n"},
      {"--helo=my host", "Invalid value for --helo: my host\n"},
      {"--helo=a\r\nMAIL FROM:<x>", "Invalid value for --helo: a\r\nMAIL FROM:<x>\n"},
      {"--helo=ex_ample.org", "Invalid value for --helo: ex_ample.org\n"},
      {"--helo=[]", "Invalid value for --helo: []\n"},
      {"--helo=[1.2.3.4", "Invalid value for --helo: [1.2.3.4\n"},
      {"--helo=[1.2 .3.4]", "Invalid value for --helo: [1.2 .3.4]\n"},
      {"--dry-run", ""},
      {"--dry-run=yes", "Option --dry-run takes no value\n"},
      {"--progress", ""},
      {"--progress=1", "Option --progress takes no value\n"},
      {"--version", ""},
      {"--version=2", "Option --version takes no value\n"},
      // The account's name may be left out; the others need their value.
      {"--account", ""},
      {"--account=", ""},
      {"--account=work", ""},
      {"--config", "Option --config needs a value\n"},
      {"--provider=ses:eu-west-1", ""},
      {"--provider=gmial", "Invalid value for --provider: gmial\n"},
      {"--provider", "Option --provider needs a value\n"},
      {"--providers=all", "Option --providers takes no value\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    bool usage = false;
    EXPECT_EQ(Parse({c.word}).LongOptions().Fault(usage), c.fault);
  }
  // Length limits: a label of 63, a name of 255.
  const std::string label63(63, 'a');
  EXPECT_TRUE(IsValidHeloName(label63 + ".org"));
  EXPECT_FALSE(IsValidHeloName(label63 + "a.org"));
  std::string name = label63 + "." + label63 + "." + label63 + "." + std::string(63, 'b');
  EXPECT_EQ(name.size(), 255u);
  EXPECT_TRUE(IsValidHeloName(name));
  EXPECT_FALSE(IsValidHeloName(name + "b"));
}

TEST(LongOptions, VersionNamesProgramLibraryAndMechanisms) {
  const std::string text = VersionText();
  EXPECT_EQ(text.rfind(std::string("velsend ") + VELSEND_PRODUCT_VERSION + "\n", 0), 0u);
  EXPECT_NE(text.find("\nTLS library: " + platform::TlsLibraryVersion() + "\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nAuthentication mechanisms: PLAIN LOGIN"), std::string::npos);
}

}  // namespace
