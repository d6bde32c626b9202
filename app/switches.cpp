#include "app/switches.h"

#include <cstdlib>

#include "base/ascii_text.h"
#include "net/ip_address.h"
#include "smtp/auth_mechanisms.h"
#include "platform/app_framework.h"

namespace {
constexpr char kPasswordLetter = 'p';
}  // namespace

bool CSwitchCommandLineInfo::IsSwitch(const std::string& word) const {
  // A prefix alone names no switch.
  return word.size() >= 2 && m_prefixes.find(word[0]) != std::string::npos;
}

bool CSwitchCommandLineInfo::ParseParam(const std::string& word) {
  if (word.size() >= 2 && word[0] == '-' && word[1] == '-') {
    m_longOptions.Parse(word);  // a faulty one is reported before anything runs
    return true;
  }
  if (!IsSwitch(word)) return false;
  m_switches[word.substr(1, 1)] = word.substr(2);
  return true;
}

// A word that is not a switch is most often a value typed apart from its
// letter ("-f report.pdf") or, on POSIX, a path; ignoring it would lose it
// silently.
bool CSwitchCommandLineInfo::ParseWords(const std::vector<std::string>& words) {
  for (size_t i = 1; i < words.size(); ++i) {
    if (ParseParam(words[i])) continue;
    const std::string& before = words[i - 1];
    m_unexpectedWord = words[i];
    m_unexpectedWordIsSecret =
        i > 1 && before.size() == 2 && IsSwitch(before) && before[1] == kPasswordLetter;
    return false;
  }
  return true;
}

std::string CSwitchCommandLineInfo::UnexpectedWordAsShown() const {
  return m_unexpectedWordIsSecret ? "***" : m_unexpectedWord;
}

bool CSwitchCommandLineInfo::HasSwitch(const std::string& letter) const {
  return m_switches.count(letter) != 0;
}

bool CSwitchCommandLineInfo::LookupSwitch(const std::string& letter, std::string& value) const {
  auto it = m_switches.find(letter);
  if (it == m_switches.end()) return false;
  value = it->second;
  return true;
}

CSwitchCommandLineInfo& SwitchTable() {
  static CSwitchCommandLineInfo table;
  return table;
}

bool HasSwitch(const std::string& letter) { return SwitchTable().HasSwitch(letter); }

bool LookupSwitch(const std::string& letter, std::string& value) {
  return SwitchTable().LookupSwitch(letter, value);
}

bool ParseSwitches() { return SwitchTable().ParseWords(platform::CommandLineWords()); }

int SplitList(const std::string& text, std::vector<std::string>& list, char separator) {
  list.clear();
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != separator) continue;
    list.push_back(text.substr(start, i - start));
    start = i + 1;
  }
  if (start < text.size()) list.push_back(text.substr(start));
  return static_cast<int>(list.size());
}

EHostPort SplitHostPort(const std::string& value, std::string& host, long& port) {
  std::string name = value;
  std::string portText;
  if (!value.empty() && value[0] == '[') {
    const size_t close = value.find(']');
    platform::SAddress address;
    if (close == std::string::npos || !ParseIPv6Literal(value.substr(1, close - 1), address)) {
      return EHostPort::kInvalidHost;
    }
    const std::string rest = value.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return EHostPort::kInvalidHost;
    name = value.substr(1, close - 1);
    if (!rest.empty()) portText = rest.substr(1);
  } else {
    const size_t colon = value.rfind(':');
    // Two or more colons: an IPv6 literal, whose last group is no port.
    if (colon != std::string::npos && value.find(':') == colon) {
      name = value.substr(0, colon);
      portText = value.substr(colon + 1);
    }
  }
  long number = 0;
  // A typo such as "smtps" taken for the default port would send in clear
  // text what was meant for TLS.
  if (!ParsePort(portText, number)) return EHostPort::kInvalidPort;
  host = name;
  port = number;
  return EHostPort::kValid;
}

bool ParsePort(const std::string& text, long& port) {
  if (text.empty()) {
    port = 0;
    return true;
  }
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return false;
  for (size_t k = i; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
  }
  // strtol reads what atol reads but saturates instead of overflowing.
  port = std::strtol(text.c_str(), nullptr, 10);
  return true;
}

int ParseAuthMethod(const std::string& value) { return AuthMechanismFromName(value); }
