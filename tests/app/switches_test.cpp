#include "app/switches.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

CSwitchCommandLineInfo Parse(std::vector<std::string> words, const char* prefixes = "-",
                             bool* allSwitches = nullptr) {
  words.insert(words.begin(), "velsend");
  CSwitchCommandLineInfo table(prefixes);
  const bool ok = table.ParseWords(words);
  if (allSwitches) *allSwitches = ok;
  return table;
}

TEST(SwitchTable, StoresValueGluedToLetter) {
  bool ok = false;
  CSwitchCommandLineInfo t = Parse({"-sMonthly report", "/oann", "-h", "-q", "-X1"}, "-/", &ok);
  EXPECT_TRUE(ok);
  std::string v = "unchanged";
  EXPECT_TRUE(t.LookupSwitch("s", v));
  EXPECT_EQ(v, "Monthly report");
  EXPECT_TRUE(t.LookupSwitch("o", v));
  EXPECT_EQ(v, "ann");
  EXPECT_TRUE(t.LookupSwitch("h", v));  // present, empty
  EXPECT_EQ(v, "");
  EXPECT_TRUE(t.HasSwitch("q"));
  EXPECT_TRUE(t.HasSwitch("X"));
  v = "unchanged";
  EXPECT_FALSE(t.LookupSwitch("r", v));
  EXPECT_EQ(v, "unchanged");
}

TEST(SwitchTable, LettersAreCaseSensitiveAndLaterWordsWin) {
  CSwitchCommandLineInfo t = Parse({"-rA", "-rB", "-cx", "-Cy", "-O1"});
  std::string v;
  ASSERT_TRUE(t.LookupSwitch("r", v));
  EXPECT_EQ(v, "B");
  ASSERT_TRUE(t.LookupSwitch("c", v));
  EXPECT_EQ(v, "x");
  ASSERT_TRUE(t.LookupSwitch("C", v));
  EXPECT_EQ(v, "y");
  EXPECT_FALSE(t.HasSwitch("o"));
}

TEST(SwitchTable, ValueMayStartWithAPrefix) {
  bool ok = false;
  CSwitchCommandLineInfo t = Parse({"-s-/x", "--x"}, "-/", &ok);
  EXPECT_TRUE(ok);
  std::string v;
  ASSERT_TRUE(t.LookupSwitch("s", v));
  EXPECT_EQ(v, "-/x");
  // "--x" is a long option, never the switch "-".
  EXPECT_FALSE(t.HasSwitch("-"));
  bool showUsage = false;
  EXPECT_EQ(t.LongOptions().Fault(showUsage), "Unknown option --x\n");
}

TEST(SwitchTable, WordsThatAreNotSwitches) {
  struct Case {
    const char* name;
    const char* prefixes;
    std::vector<std::string> words;
    const char* shown;  // nullptr: every word is a switch
  } cases[] = {
      {"value apart from its letter", "-", {"-f", "report.pdf"}, "report.pdf"},
      {"path on POSIX", "-", {"-f", "/srv/reports/q3.pdf"}, "/srv/reports/q3.pdf"},
      {"path-like switch on Windows", "-/", {"-f", "/srv/reports/q3.pdf"}, nullptr},
      {"dash prefix alone", "-", {"-oa", "-"}, "-"},
      {"slash prefix alone", "-/", {"/"}, "/"},
      {"empty word", "-", {"-oa", ""}, ""},
      {"first of several", "-", {"one", "two"}, "one"},
      {"after a bare password switch", "-", {"-p", "hunter2"}, "***"},
      {"after a bare Windows password switch", "-/", {"/p", "hunter2"}, "***"},
      {"after a password with its value", "-", {"-px", "hunter2"}, "hunter2"},
      {"after another bare switch", "-", {"-n", "ann"}, "ann"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool ok = true;
    CSwitchCommandLineInfo t = Parse(c.words, c.prefixes, &ok);
    EXPECT_EQ(ok, c.shown == nullptr);
    if (c.shown) {
      EXPECT_EQ(t.UnexpectedWordAsShown(), c.shown);
    }
  }
  // The Windows reading of the path is a switch; POSIX stores nothing of it.
  EXPECT_TRUE(Parse({"/srv"}, "-/").HasSwitch("s"));
  EXPECT_FALSE(Parse({"/srv"}, "-").HasSwitch("s"));
}

TEST(SwitchTable, ProgramNameIsSkipped) {
  CSwitchCommandLineInfo table("-");
  EXPECT_TRUE(table.ParseWords({"-oFromName"}));
  EXPECT_FALSE(table.HasSwitch("o"));
}

TEST(SplitList, Cases) {
  struct Case {
    const char* text;
    std::vector<std::string> items;
  } cases[] = {
      {"a,b", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {",a", {"", "a"}},
      {"a,", {"a"}},
      {",", {""}},
      {",,", {"", ""}},
      {"", {}},
      {" a , b ", {" a ", " b "}},
      {"x", {"x"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> list = {"stale"};
    EXPECT_EQ(SplitList(c.text, list, ','), static_cast<int>(c.items.size())) << c.text;
    EXPECT_EQ(list, c.items) << c.text;
  }
}

TEST(SplitHostPort, Cases) {
  static const char kBadPort[] = "(bad port)";
  struct Case {
    const char* value;
    const char* host;  // nullptr: refused as a host, kBadPort: as a port
    long port;
  } cases[] = {
      {"relay", "relay", 0},          {"relay:", "relay", 0},
      {"relay:0", "relay", 0},        {"relay:587", "relay", 587},
      {"relay:-7", "relay", -7},      {"", "", 0},
      {":25", "", 25},                {"relay:+465", "relay", 465},
      {"relay: 25", "relay", 25},     {"relay:\t-7", "relay", -7},
      {"relay:99999999999999999999", "relay", LONG_MAX},
      {"192.0.2.1:2525", "192.0.2.1", 2525},
      // What is not a number is refused, not taken for the default port.
      {"relay:abc", kBadPort, 0},     {"relay:smtps", kBadPort, 0},
      {"relay:25x", kBadPort, 0},     {"relay: 25x", kBadPort, 0},
      {"relay: ", kBadPort, 0},       {"relay:+", kBadPort, 0},
      {"relay:25 ", kBadPort, 0},     {"relay:0x19", kBadPort, 0},
      {"[::1]:abc", kBadPort, 0},     {"[::1]: ", kBadPort, 0},
      // Two or more colons: an IPv6 literal, never split at a colon.
      {"::1", "::1", 0},              {"2001:db8::25", "2001:db8::25", 0},
      {"a:b:2525", "a:b:2525", 0},
      // Brackets around an IPv6 literal, with or without a port.
      {"[::1]", "::1", 0},            {"[::1]:2571", "::1", 2571},
      {"[2001:db8::25]:587", "2001:db8::25", 587},
      {"[::ffff:192.0.2.1]:25", "::ffff:192.0.2.1", 25},
      {"[::1]:", "::1", 0},
      {"[::1", nullptr, 0},           {"[::1]2571", nullptr, 0},
      {"[]:25", nullptr, 0},          {"[relay]:25", nullptr, 0},
      {"[192.0.2.1]", nullptr, 0},    {"[::1]]:25", nullptr, 0},
      {"[1:2:3:4:5:6:7:8:9]", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::string host = "stale";
    long port = -1;
    const EHostPort expected = c.host == nullptr   ? EHostPort::kInvalidHost
                               : c.host == kBadPort ? EHostPort::kInvalidPort
                                                    : EHostPort::kValid;
    EXPECT_EQ(SplitHostPort(c.value, host, port), expected);
    if (expected != EHostPort::kValid) {
      EXPECT_EQ(host, "stale");
      EXPECT_EQ(port, -1);
      continue;
    }
    EXPECT_EQ(host, c.host);
    EXPECT_EQ(port, c.port);
  }
}

TEST(ParseAuthMethod, NamesInAnyCase) {
  EXPECT_EQ(ParseAuthMethod("PLAIN"), 1);
  EXPECT_EQ(ParseAuthMethod("plain"), 1);
  EXPECT_EQ(ParseAuthMethod("Login"), 2);
  EXPECT_EQ(ParseAuthMethod(""), 0);
  EXPECT_EQ(ParseAuthMethod("cram-md5"), 3);
  EXPECT_EQ(ParseAuthMethod("XOAuth2"), 4);
  EXPECT_EQ(ParseAuthMethod("oauthbearer"), 5);
  EXPECT_EQ(ParseAuthMethod("DIGEST-MD5"), 0);
  EXPECT_EQ(ParseAuthMethod("CRAM-MD"), 0);
  EXPECT_EQ(ParseAuthMethod("XOAUTH"), 0);
  EXPECT_EQ(ParseAuthMethod("PLAINX"), 0);
  EXPECT_EQ(ParseAuthMethod("PLAI"), 0);
}

}  // namespace
