#include "app/switches.h"

#include <cctype>
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

void CSwitchCommandLineInfo::ReplaceSwitch(const std::string& letter, const std::string& value) {
  const auto found = m_switches.find(letter);
  if (found != m_switches.end()) found->second = value;
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

namespace {

// The port as atol reads it (leading blanks and a sign taken, saturating
// instead of overflowing), but with nothing left after the digits: "smtps"
// or "25x" must never become port 0 (the default) or 25 and send in clear
// text. Empty is the default port.
bool ReadPort(const std::string& value, long& port) {
  // The number ends at a NUL, as it ends the C string atol reads.
  const std::string text = value.substr(0, value.find('\0'));
  port = 0;
  if (text.empty()) return true;
  char* end = nullptr;
  port = std::strtol(text.c_str(), &end, 10);
  const bool digits = end != text.c_str() && std::isdigit(static_cast<unsigned char>(end[-1]));
  return digits && *end == '\0';
}

// An IPv6 literal, with or without the zone of a link-local address
// ("fe80::1%eth0"), which the lookup then takes as the bare form.
bool IsBracketedAddress(const std::string& inside) {
  const size_t percent = inside.find('%');
  platform::SAddress address;
  if (!ParseIPv6Literal(inside.substr(0, percent), address)) return false;
  if (percent == std::string::npos) return true;
  const std::string zone = inside.substr(percent + 1);
  if (zone.empty()) return false;
  for (char c : zone) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') {
      return false;
    }
  }
  return true;
}

}  // namespace

bool SplitHostPort(const std::string& value, std::string& host, long& port,
                   std::string* badPort) {
  if (!value.empty() && value[0] == '[') {
    const size_t close = value.find(']');
    if (close == std::string::npos || !IsBracketedAddress(value.substr(1, close - 1))) {
      return false;
    }
    const std::string rest = value.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return false;
    long number = 0;
    if (!rest.empty() && !ReadPort(rest.substr(1), number)) {
      if (badPort) *badPort = rest.substr(1);
      return false;
    }
    host = value.substr(1, close - 1);
    port = number;
    return true;
  }
  const size_t colon = value.rfind(':');
  if (colon != std::string::npos && value.find(':') != colon) {
    host = value;
    port = 0;
    return true;
  }
  if (colon == std::string::npos) {
    host = value;
    port = 0;
    return true;
  }
  long number = 0;
  if (!ReadPort(value.substr(colon + 1), number)) {
    if (badPort) *badPort = value.substr(colon + 1);
    return false;
  }
  host = value.substr(0, colon);
  port = number;
  return true;
}

int ParseAuthMethod(const std::string& value) { return AuthMechanismFromName(value); }
