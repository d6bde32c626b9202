// The command line as a table of one-letter switches, and the small parsers
// for the values that need one (lists, host and port, method names).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/long_options.h"
#include "platform/app_framework.h"

class CSwitchCommandLineInfo {
 public:
  // prefixes: the bytes that start a switch; the system's own by default.
  explicit CSwitchCommandLineInfo(std::string prefixes = platform::SwitchPrefixes())
      : m_prefixes(std::move(prefixes)) {}

  // Takes one command-line word. A word starting with "--" is a long option
  // (see CLongOptions), whatever the system's prefixes. A word starting with
  // a prefix byte and a letter stores the text after its letter under that
  // letter, replacing an earlier value. Both return true. Any other word, a
  // prefix alone included, stores nothing and returns false.
  bool ParseParam(const std::string& word);
  // Fills the table from the words of a command line, the program name
  // first. Stops at the first word that is not a switch and returns false.
  bool ParseWords(const std::vector<std::string>& words);

  bool HasSwitch(const std::string& letter) const;
  // True when present; then value receives the switch's text, else it is left.
  bool LookupSwitch(const std::string& letter, std::string& value) const;
  const CLongOptions& LongOptions() const { return m_longOptions; }

  // The word that stopped ParseWords as it may be shown: masked when it
  // follows a password switch with nothing glued to it, being most likely
  // the password itself.
  std::string UnexpectedWordAsShown() const;

 private:
  bool IsSwitch(const std::string& word) const;

  std::string m_prefixes;
  std::map<std::string, std::string> m_switches;
  std::string m_unexpectedWord;
  bool m_unexpectedWordIsSecret = false;
  CLongOptions m_longOptions;
};

// The process-wide switch table.
CSwitchCommandLineInfo& SwitchTable();
bool HasSwitch(const std::string& letter);
bool LookupSwitch(const std::string& letter, std::string& value);
// Fills the process-wide table from the process's command line; false when
// a word is not a switch.
bool ParseSwitches();

// Splits text on separator. Each separator ends an item, empty ones included;
// a trailing separator adds no empty last item; items are not trimmed.
// Returns the number of items; list is emptied first.
int SplitList(const std::string& text, std::vector<std::string>& list, char separator);

// Splits "host[:port]" at the last ':', "[IPv6]" or "[IPv6]:port" at the
// bracket; a host with two or more colons is an IPv6 literal, never split.
// The port is read like atol (0 when absent, which selects the default
// port), but only when nothing follows its digits. kInvalidHost for a
// bracket form that is not one of these, kInvalidPort for a port that is
// not a number; host and port are then left as they were.
enum class EHostPort { kValid, kInvalidHost, kInvalidPort };
EHostPort SplitHostPort(const std::string& value, std::string& host, long& port);
// The port text after the colon: empty is 0; else optional blanks and a
// sign, then decimal digits up to the end, saturated like strtol. False for
// anything else ("smtps", "25x", " ").
bool ParsePort(const std::string& text, long& port);

// AuthMethod value for an -m value: an AuthMechanism (any letter case),
// 0 for anything else.
int ParseAuthMethod(const std::string& value);
