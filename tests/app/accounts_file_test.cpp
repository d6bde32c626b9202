#include "app/accounts_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/account_settings.h"
#include "app/providers.h"
#include "app/switches.h"

namespace {

CSwitchCommandLineInfo Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "velsend");
  CSwitchCommandLineInfo table("-");
  table.ParseWords(words);
  return table;
}

SAccountsFile MustParse(const std::string& text) {
  SAccountsFile file;
  std::string fault;
  EXPECT_TRUE(ParseAccountsFile("cfg", text, file, fault)) << fault;
  return file;
}

std::string Switch(const CSwitchCommandLineInfo& table, const std::string& letter) {
  std::string value = "(none)";
  table.LookupSwitch(letter, value);
  return value;
}

std::string Option(const CSwitchCommandLineInfo& table, const std::string& name) {
  std::string value = "(none)";
  table.LongOptions().Lookup(name, value);
  return value;
}

TEST(AccountsFile, EachMistakeNamedWithItsLine) {
  struct Case {
    const char* name;
    const char* text;
    const char* fault;
  } cases[] = {
      {"unknown key", "[account a]\nhost = h\nprot = 25\n", "cfg:3: unknown key \"prot\""},
      {"key without value", "[account a]\n\nuser =\n", "cfg:3: key \"user\" has no value"},
      {"key without equals", "[account a]\nstarttls\n", "cfg:2: key \"starttls\" has no value"},
      {"bare word never repeated", "[account a]\nuser = me\nhunter2!secret\n",
       "cfg:3: not a \"key = value\" line"},
      {"key before a section", "# c\nhost = h\n", "cfg:2: key \"host\" comes before any section"},
      {"section of another kind", "[acount a]\n",
       "cfg:1: unknown section \"[acount a]\" (sections are [defaults] and [account NAME])"},
      {"account without name", "[account]\n",
       "cfg:1: unknown section \"[account]\" (sections are [defaults] and [account NAME])"},
      {"second defaults", "[defaults]\n[account a]\n[defaults]\n",
       "cfg:3: a second [defaults] section"},
      {"account twice", "[account a]\n[account b]\n[account a]\n",
       "cfg:3: account \"a\" is already defined at line 1"},
      {"key twice", "[account a]\nuser = x\nuser = y\n",
       "cfg:3: key \"user\" is already given at line 2"},
      {"default outside defaults", "[account a]\ndefault = a\n",
       "cfg:2: key \"default\" belongs in [defaults]"},
      {"default names no account", "[defaults]\ndefault = b\n[account a]\n",
       "cfg:2: default account \"b\" is not defined"},
      {"flag takes yes or no", "[account a]\ntls = true\n", "cfg:2: key \"tls\" takes yes or no"},
      {"port out of range", "[account a]\nport = 65536\n",
       "cfg:2: invalid port \"65536\" (1 to 65535)"},
      {"port in host", "[account a]\nhost = relay:25\n",
       "cfg:2: the port goes in the port key, not in host"},
      {"timeout as the option refuses", "[account a]\ntimeout = 0\n",
       "cfg:2: invalid value for timeout: 0"},
      {"max-recipients as the option refuses", "[defaults]\nmax-recipients = 0\n",
       "cfg:2: invalid value for max-recipients: 0"},
      {"oauth flow", "[account a]\noauth = password\n",
       "cfg:2: invalid value for oauth: password"},
      {"mechanism", "[account a]\nauth = NTLM\n", "cfg:2: unknown mechanism \"NTLM\""},
      {"originator", "[account a]\nfrom = not an address\n",
       "cfg:2: invalid address \"not an address\""},
      {"provider", "[account a]\nprovider = ses\n",
       "cfg:2: unknown provider \"ses\" (known: m365, outlook, gmail, ses:REGION, sendgrid, "
       "mailgun, postmark, fastmail, zoho, zoho-eu)"},
      {"what chooses the run is no key", "[account a]\ndry-run = yes\n",
       "cfg:2: unknown key \"dry-run\""},
      {"nor is signing in", "[account a]\noauth-login = yes\n",
       "cfg:2: unknown key \"oauth-login\""},
      {"CR LF lines count too", "[account a]\r\nhost = h\r\nbad = 1\r\n",
       "cfg:3: unknown key \"bad\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SAccountsFile file;
    std::string fault;
    EXPECT_FALSE(ParseAccountsFile("cfg", c.text, file, fault));
    EXPECT_EQ(fault, c.fault);
  }
}

TEST(AccountsFile, CommentsBlanksAndByteOrderMark) {
  const SAccountsFile file = MustParse(
      "\xEF\xBB\xBF# accounts\n\n[defaults]\n  default = b  \n[ account b ]\n"
      "\thost=relay.example\t\nstarttls = yes\n# password = none\n");
  EXPECT_EQ(file.defaultAccount, "b");
  ASSERT_NE(file.Find("b"), nullptr);
  ASSERT_EQ(file.Find("b")->entries.size(), 2u);
  EXPECT_EQ(file.Find("b")->entries[0].value, "relay.example");
  EXPECT_EQ(file.Find("b")->entries[1].line, 7);
  EXPECT_EQ(file.passwordLine, 0);
}

const char kFile[] =
    "[defaults]\n"
    "default = work\n"
    "from = ops@example.org\n"
    "timeout = 30\n"
    "starttls = yes\n"
    "password-file = /run/default.pw\n"
    "[account work]\n"
    "host = relay.example\n"
    "port = 2525\n"
    "user = ops\n"
    "[account tls]\n"
    "host = ::1\n"
    "tls = yes\n"
    "ipv6 = yes\n"
    "password-command = pass show relay\n"
    "[account m365]\n"
    "provider = m365\n"
    "user = me@example.org\n"
    "starttls = no\n"
    "oauth = device\n"
    "oauth-client-id = 1234\n";

TEST(AccountSettings, LayersCommandLineAccountDefaultsProvider) {
  const SAccountsFile file = MustParse(kFile);
  struct Case {
    std::vector<std::string> words;
    const char* host;
    const char* user;
    const char* timeout;
    bool starttls;
    bool tls;
    const char* passwordFile;
    const char* passwordCommand;
  } cases[] = {
      // default = work; the account over [defaults].
      {{"--account"}, "relay.example:2525", "ops", "30", true, false, "/run/default.pw",
       "(none)"},
      // The command line over both; -h replaces the host, the port stays.
      {{"--account=work", "-hother", "--timeout=5", "-nroot"}, "other:2525", "root", "5", true,
       false, "/run/default.pw", "(none)"},
      {{"--account=work", "-hother:25"}, "other:25", "ops", "30", true, false,
       "/run/default.pw", "(none)"},
      // One TLS mode and one password source: the higher one replaces the lower.
      {{"--account=tls"}, "[::1]", "(none)", "30", false, true, "(none)", "pass show relay"},
      {{"--account=tls", "--starttls", "--password-file=/x"}, "[::1]", "(none)", "30", true,
       false, "/x", "(none)"},
      // The provider below the account: "starttls = no" leaves no TLS mode
      // from [defaults], and the provider's STARTTLS stands under it.
      {{"--account=m365"}, "smtp.office365.com:587", "me@example.org", "30", false, false,
       "/run/default.pw", "(none)"},
      {{"--account=m365", "--provider=gmail"}, "smtp.gmail.com:465", "me@example.org", "30",
       false, true, "/run/default.pw", "(none)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.size() > 1 ? c.words[0] + " " + c.words[1] : c.words[0]);
    CAccountSettings settings;
    std::string fault;
    ASSERT_TRUE(settings.Resolve(Parse(c.words), &file, "cfg", fault)) << fault;
    const CSwitchCommandLineInfo& s = settings.Switches();
    EXPECT_EQ(Switch(s, "h"), c.host);
    EXPECT_EQ(Switch(s, "n"), c.user);
    EXPECT_EQ(Switch(s, "o"), "ops@example.org");
    EXPECT_EQ(Option(s, "timeout"), c.timeout);
    EXPECT_EQ(s.LongOptions().Has("starttls"), c.starttls);
    EXPECT_EQ(s.LongOptions().Has("tls"), c.tls);
    EXPECT_EQ(Option(s, "password-file"), c.passwordFile);
    EXPECT_EQ(Option(s, "password-command"), c.passwordCommand);
    bool usage = false;
    EXPECT_EQ(s.LongOptions().Fault(usage), "");
  }
}

TEST(AccountSettings, OAuthAccountCarriesItsNameAndProvider) {
  const SAccountsFile file = MustParse(kFile);
  CAccountSettings settings;
  std::string fault;
  ASSERT_TRUE(settings.Resolve(Parse({"--account=m365"}), &file, "cfg", fault)) << fault;
  EXPECT_EQ(Option(settings.Switches(), "account"), "m365");
  EXPECT_EQ(Option(settings.Switches(), "provider"), "m365");
  EXPECT_EQ(Option(settings.Switches(), "oauth"), "device");
  EXPECT_EQ(Option(settings.Switches(), "oauth-client-id"), "1234");
  // The account given by "default =" is named too.
  ASSERT_TRUE(settings.Resolve(Parse({"--account"}), &file, "cfg", fault)) << fault;
  EXPECT_EQ(Option(settings.Switches(), "account"), "work");
}

TEST(AccountSettings, UnknownOrMissingAccount) {
  const SAccountsFile file = MustParse(kFile);
  CAccountSettings settings;
  std::string fault;
  EXPECT_FALSE(settings.Resolve(Parse({"--account=wrok"}), &file, "cfg", fault));
  EXPECT_EQ(fault, "cfg: unknown account \"wrok\" (accounts: work, tls, m365)");
  const SAccountsFile noDefault = MustParse("[account a]\nhost = h\n");
  EXPECT_FALSE(settings.Resolve(Parse({"--account"}), &noDefault, "cfg", fault));
  EXPECT_EQ(fault, "cfg: no account named, and [defaults] names none with \"default =\"");
}

TEST(AccountSettings, DryRunShowsWhereEachSettingCameFromNeverASecret) {
  const SAccountsFile file =
      MustParse("[account a]\nprovider = sendgrid\npassword = hunter2\ncacert = ca.pem\n");
  CAccountSettings settings;
  std::string fault;
  ASSERT_TRUE(settings.Resolve(Parse({"--account=a", "--timeout=9"}), &file, "cfg", fault));
  EXPECT_EQ(settings.DescribeConnection(),
            "Connection of account a, provider sendgrid:\n"
            "  relay         smtp.sendgrid.net (provider sendgrid)\n"
            "  port          587 (provider sendgrid)\n"
            "  TLS           STARTTLS (provider sendgrid)\n"
            "  verification  certificate and name, against ca.pem (account a)\n"
            "  mechanism     the best the relay offers (built-in)\n"
            "  user          apikey (provider sendgrid)\n"
            "  password      given (account a)\n");
  EXPECT_EQ(Switch(settings.Switches(), "p"), "hunter2");

  ASSERT_TRUE(settings.Resolve(Parse({"--provider=ses:eu-west-1", "-h[::1]:25", "--insecure"}),
                               nullptr, "", fault));
  EXPECT_EQ(settings.DescribeConnection(),
            "Connection of provider ses:eu-west-1:\n"
            "  relay         ::1 (command line)\n"
            "  port          25 (command line)\n"
            "  TLS           STARTTLS (provider ses:eu-west-1)\n"
            "  verification  off (command line)\n"
            "  mechanism     the best the relay offers (built-in)\n"
            "  user          none, no authentication (built-in)\n");
}

TEST(Providers, NamesAndRegions) {
  struct Case {
    const char* value;
    bool known;
    const char* host;
    long port;
  } cases[] = {
      {"m365", true, "smtp.office365.com", 587},
      {"gmail", true, "smtp.gmail.com", 465},
      {"ses:us-east-1", true, "email-smtp.us-east-1.amazonaws.com", 587},
      {"zoho-eu", true, "smtp.zoho.eu", 465},
      {"ses", false, "", 0},            // the region is required
      {"ses:", false, "", 0},
      {"ses:EU-WEST-1", false, "", 0},  // part of a host name: lower case only
      {"ses:eu..west", false, "", 0},
      {"ses:-eu", false, "", 0},
      {"gmail:x", false, "", 0},        // no region where none is taken
      {"Gmail", false, "", 0},
      {"zoho-", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    SProvider row;
    std::string host;
    ASSERT_EQ(FindProvider(c.value, row, host), c.known);
    if (!c.known) continue;
    EXPECT_EQ(host, c.host);
    EXPECT_EQ(row.port, c.port);
  }
}

TEST(Providers, TableListsEveryName) {
  const std::string text = ProviderTableText();
  for (const SProvider* p = ProviderTable(); p->name; ++p) {
    EXPECT_NE(text.find(std::string("\n") + p->name + " "), std::string::npos) << p->name;
    EXPECT_NE(ProviderNames().find(p->name), std::string::npos) << p->name;
  }
}

}  // namespace
