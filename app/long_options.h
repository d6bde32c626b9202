// Long options: command-line words "--name" and "--name=value". Unlike the
// one-letter switches, a word that names no known option, or lacks the value
// its option needs, is a fault that stops the run.
#pragma once

#include <map>
#include <string>

struct SLineTimeouts;

struct SLongOption {
  const char* name;   // without the leading "--"
  const char* value;  // the value's placeholder in help ("SECONDS"); nullptr: takes none
  const char* help;
};

// Every long option, in the order --help lists them; ends with a nullptr name.
const SLongOption* LongOptionTable();

class CLongOptions {
 public:
  // Takes one word beginning with "--". A later word for the same option
  // replaces the earlier value; the first fault is kept.
  void Parse(const std::string& word);

  bool Has(const std::string& name) const { return m_values.count(name) != 0; }
  // True when present; then value receives its text, else it is left.
  bool Lookup(const std::string& name, std::string& value) const;

  // The line that stops the run, empty when there is none; showUsage tells
  // whether the usage text follows it.
  std::string Fault(bool& showUsage) const;

  // The waits set by --timeout; false when it was not given.
  bool Timeouts(SLineTimeouts& timeouts) const;

 private:
  std::map<std::string, std::string> m_values;
  std::string m_fault;
  bool m_faultShowsUsage = false;
};

// SECONDS of --timeout: a whole number from 1 to 86400, digits only.
bool ParseTimeoutSeconds(const std::string& text, int& seconds);
