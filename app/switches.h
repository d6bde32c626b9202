// The command line as a table of one-letter switches, and the small parsers
// for the values that need one (lists, host and port, method names).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/long_options.h"

class CSwitchCommandLineInfo {
 public:
  // Takes one command-line word. A word starting with "--" is a long option;
  // one starting with "-" or "/" stores the text after its letter under that
  // letter, replacing an earlier value; any other word, and a prefix with no
  // letter, is ignored.
  void ParseParam(const std::string& word);
  // Fills the table from the words of a command line, the program name first.
  void ParseWords(const std::vector<std::string>& words);
  void Clear() {
    m_switches.clear();
    m_longOptions = CLongOptions();
  }

  bool HasSwitch(const std::string& letter) const;
  // True when present; then value receives the switch's text, else it is left.
  bool LookupSwitch(const std::string& letter, std::string& value) const;
  const CLongOptions& LongOptions() const { return m_longOptions; }

 private:
  std::map<std::string, std::string> m_switches;
  CLongOptions m_longOptions;
};

// The process-wide switch table.
CSwitchCommandLineInfo& SwitchTable();
bool HasSwitch(const std::string& letter);
bool LookupSwitch(const std::string& letter, std::string& value);
// Fills the process-wide table from the process's command line.
void ParseSwitches();

// Splits text on separator. Each separator ends an item, empty ones included;
// a trailing separator adds no empty last item; items are not trimmed.
// Returns the number of items; list is emptied first.
int SplitList(const std::string& text, std::vector<std::string>& list, char separator);

// Splits "host[:port]" at the last ':'; the port is read like atol, 0 when
// absent or without digits (0 selects the default port).
void SplitHostPort(const std::string& value, std::string& host, long& port);

// AuthMethod value for an -m value: 1 PLAIN, 2 LOGIN (any letter case),
// 0 for anything else.
int ParseAuthMethod(const std::string& value);
