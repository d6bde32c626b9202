#include "app/long_options.h"

#include "net/line_socket.h"

namespace {

constexpr SLongOption kOptions[] = {
    {"starttls", nullptr, "Secure the connection with STARTTLS after the greeting"},
    {"tls", nullptr, "Use TLS from the start (default port 465, \"submissions\")"},
    {"timeout", "SECONDS", "Longest wait for the relay, 1 to 86400 (default: 300, data 600)"},
    {"cacert", "FILE", "Trust the certificates of this PEM file, not the system's"},
    {"insecure", nullptr, "Do not verify the relay's certificate and name"},
    {"password-file", "FILE", "Take the password (or token) from the first line of FILE"},
    {"password-command", "COMMAND", "Take it from the first line COMMAND writes (system shell)"},
    {"ipv4", nullptr, "Connect to the relay's IPv4 addresses only"},
    {"ipv6", nullptr, "Connect to the relay's IPv6 addresses only"},
    {"help", nullptr, "Display usage and these options"},
    {nullptr, nullptr, nullptr},
};

const SLongOption* Find(const std::string& name) {
  for (const SLongOption* option = kOptions; option->name; ++option) {
    if (name == option->name) return option;
  }
  return nullptr;
}

}  // namespace

const SLongOption* LongOptionTable() { return kOptions; }

void CLongOptions::Parse(const std::string& word) {
  const size_t equals = word.find('=');
  const std::string name = word.substr(2, equals == std::string::npos ? equals : equals - 2);
  const bool hasValue = equals != std::string::npos;
  const std::string value = hasValue ? word.substr(equals + 1) : std::string();
  if (!m_fault.empty()) return;
  const SLongOption* option = Find(name);
  // Only the name is shown: a mistyped option's value may be a secret.
  if (option == nullptr) {
    m_fault = "Unknown option --" + name + "\n";
  } else if (option->value && value.empty()) {
    m_fault = "Option --" + name + " needs a value\n";
  } else if (!option->value && hasValue) {
    m_fault = "Option --" + name + " takes no value\n";
  }
  if (!m_fault.empty()) {
    m_faultShowsUsage = true;
    return;
  }
  int seconds = 0;
  if (name == "timeout" && !ParseTimeoutSeconds(value, seconds)) {
    m_fault = "Invalid value for --timeout: " + value + "\n";
    return;
  }
  m_values[name] = value;
}

bool CLongOptions::Lookup(const std::string& name, std::string& value) const {
  auto it = m_values.find(name);
  if (it == m_values.end()) return false;
  value = it->second;
  return true;
}

std::string CLongOptions::Fault(bool& showUsage) const {
  showUsage = m_faultShowsUsage;
  if (!m_fault.empty()) return m_fault;
  if (Has("tls") && Has("starttls")) {
    showUsage = true;
    return "Options --tls and --starttls exclude each other\n";
  }
  if (Has("ipv4") && Has("ipv6")) {
    showUsage = true;
    return "Options --ipv4 and --ipv6 exclude each other\n";
  }
  return std::string();
}

bool CLongOptions::Timeouts(SLineTimeouts& timeouts) const {
  std::string text;
  int seconds = 0;
  if (!Lookup("timeout", text) || !ParseTimeoutSeconds(text, seconds)) return false;
  const int ms = seconds * 1000;
  timeouts = SLineTimeouts{ms, ms, 2 * ms, ms};
  return true;
}

bool ParseTimeoutSeconds(const std::string& text, int& seconds) {
  constexpr int kMost = 86400;
  if (text.empty() || text.size() > 6) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMost) return false;
  seconds = value;
  return true;
}
