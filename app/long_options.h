// Long options: command-line words "--name" and "--name=value". Unlike the
// one-letter switches, a word that names no known option, or lacks the value
// its option needs, is a fault that stops the run.
#pragma once

#include <map>
#include <string>
#include <vector>

struct SLineTimeouts;

// The headings --help lists the options under, in this order.
enum class EOptionGroup { kConnection, kAuthentication, kMessage, kOutput };
const char* OptionGroupHeading(EOptionGroup group);
constexpr EOptionGroup kOptionGroups[] = {EOptionGroup::kConnection,
                                          EOptionGroup::kAuthentication,
                                          EOptionGroup::kMessage, EOptionGroup::kOutput};

struct SLongOption {
  const char* name;   // without the leading "--"
  const char* value;  // the value's placeholder in help ("SECONDS"); nullptr: takes none;
                      // in brackets ("[NAME]"): the value may be left out
  EOptionGroup group;
  const char* help;
  const char* byDefault;  // what holds without the option; nullptr: nothing to say
  // Accepts a value; nullptr: any value does. A refused value stops the run
  // with "Invalid value for --name: value".
  bool (*valid)(const std::string& value);
};

// Every long option, in the order --help lists them within their group;
// ends with a nullptr name.
const SLongOption* LongOptionTable();

class CLongOptions {
 public:
  // Takes one word beginning with "--". A later word for the same option
  // replaces the earlier value; the first fault is kept.
  void Parse(const std::string& word);

  bool Has(const std::string& name) const { return m_values.count(name) != 0; }
  // True when present; then value receives its text, else it is left.
  bool Lookup(const std::string& name, std::string& value) const;
  // Every value given for name, in command-line order (options that may be
  // repeated, such as --header); empty when it was not given.
  std::vector<std::string> Values(const std::string& name) const;

  // The line that stops the run, empty when there is none; showUsage tells
  // whether the usage text follows it.
  std::string Fault(bool& showUsage) const;

  // The waits set by --timeout; false when it was not given.
  bool Timeouts(SLineTimeouts& timeouts) const;

 private:
  std::map<std::string, std::string> m_values;
  std::map<std::string, std::vector<std::string>> m_repeated;
  std::string m_fault;
  bool m_faultShowsUsage = false;
};

// SECONDS of --timeout: a whole number from 1 to 86400, digits only.
bool ParseTimeoutSeconds(const std::string& text, int& seconds);

// NAME of --helo: a domain name (letters, digits and inner hyphens in
// labels of at most 63, 255 in all) or an address literal in brackets.
bool IsValidHeloName(const std::string& name);
