#include "app/long_options.h"

#include "app/exit_codes.h"
#include "app/providers.h"
#include "app/recipient_limit.h"
#include "app/retry_policy.h"
#include "base/ascii_text.h"
#include "net/line_socket.h"
#include "oauth/oauth_config.h"

namespace {

bool IsTimeout(const std::string& text) {
  int seconds = 0;
  return ParseTimeoutSeconds(text, seconds);
}

bool IsRecipientLimit(const std::string& text) {
  int limit = 0;
  return ParseRecipientLimit(text, limit);
}

bool IsPriority(const std::string& text) {
  return text == "high" || text == "normal" || text == "low";
}

bool IsOAuthFlow(const std::string& text) {
  OAuthFlow flow;
  return ParseOAuthFlow(text, flow);
}

bool IsRetryCount(const std::string& text) {
  int count = 0;
  return ParseRetryCount(text, count);
}

bool IsRetryDelay(const std::string& text) {
  int seconds = 0;
  return ParseRetryDelay(text, seconds);
}

bool IsExitConvention(const std::string& text) {
  ExitConvention convention;
  return ParseExitConvention(text, convention);
}

bool IsProviderName(const std::string& text) {
  SProvider row;
  std::string host;
  return FindProvider(text, row, host);
}

using G = EOptionGroup;
constexpr SLongOption kOptions[] = {
    {"starttls", nullptr, G::kConnection, "Secure the connection with STARTTLS",
     "clear text (465: --tls)", nullptr},
    {"tls", nullptr, G::kConnection, "Use TLS from the start (port 465)",
     "off", nullptr},
    {"timeout", "SECONDS", G::kConnection, "Longest wait for the relay, 1 to 86400",
     "300 (data: 600)", IsTimeout},
    {"cacert", "FILE", G::kConnection, "Trust the certificates of this PEM file",
     "the system's store", nullptr},
    {"insecure", nullptr, G::kConnection, "Do not verify the relay's certificate and name",
     "verify", nullptr},
    {"ipv4", nullptr, G::kConnection, "Connect to the relay's IPv4 addresses only", "both",
     nullptr},
    {"ipv6", nullptr, G::kConnection, "Connect to the relay's IPv6 addresses only", "both",
     nullptr},
    {"helo", "NAME", G::kConnection, "Announce NAME with HELO and EHLO", "the local host name",
     IsValidHeloName},
    // Outcomes a script can act on: retries of temporary failures, the
    // report and the exit status convention.
    {"retry", "N", G::kConnection,
     "Tries after a temporary failure, 0 to 100", "0",
     IsRetryCount},
    {"retry-delay", "SECONDS", G::kConnection,
     "First wait between tries, 0 to 600, doubling", "30", IsRetryDelay},
    {"no-chunking", nullptr, G::kConnection, "Send the message with DATA, never BDAT",
     "BDAT where offered", nullptr},
    // Accounts and providers: app/accounts_file.h, app/providers.h.
    {"account", "[NAME]", G::kConnection,
     "Relay settings of this account (alone: the default)", nullptr, nullptr},
    {"config", "FILE", G::kConnection, "The accounts file",
     "VELSEND_CONFIG, then the one in FILES", nullptr},
    {"provider", "NAME", G::kConnection, "Relay settings of a service (--providers)",
     nullptr, IsProviderName},
    {"providers", nullptr, G::kConnection, "List the services --provider knows",
     nullptr, nullptr},
    {"password-file", "FILE", G::kAuthentication,
     "Password or token: first line of FILE", "-p, VELSEND_PASSWORD",
     nullptr},
    {"password-command", "COMMAND", G::kAuthentication,
     "Password or token: COMMAND's output", "-p, VELSEND_PASSWORD",
     nullptr},
    // OAuth 2.0: velsend signs in and refreshes the token itself (also
    // account keys of the same names).
    {"oauth", "FLOW", G::kAuthentication,
     "OAuth 2.0: device, browser or client-credentials", "off", IsOAuthFlow},
    {"oauth-login", nullptr, G::kAuthentication, "Sign in once and store the tokens; send nothing",
     nullptr, nullptr},
    {"oauth-client-id", "ID", G::kAuthentication, "The application's client id", nullptr,
     nullptr},
    {"oauth-tenant", "TENANT", G::kAuthentication, "Microsoft tenant", "organizations", nullptr},
    {"oauth-client-secret-file", "FILE", G::kAuthentication,
     "Client secret: first line of FILE (default: none)", nullptr, nullptr},
    {"oauth-client-secret-command", "COMMAND", G::kAuthentication,
     "Client secret: COMMAND's output (default: none)", nullptr, nullptr},
    {"oauth-scope", "SCOPE", G::kAuthentication, "Scopes to ask for", "the provider's", nullptr},
    {"oauth-authorize-url", "URL", G::kAuthentication, "Authorization endpoint",
     "the provider's", nullptr},
    {"oauth-token-url", "URL", G::kAuthentication, "Token endpoint", "the provider's", nullptr},
    {"oauth-device-url", "URL", G::kAuthentication, "Device authorization endpoint",
     "the provider's", nullptr},
    {"oauth-token-file", "FILE", G::kAuthentication, "Where the tokens are kept",
     "STATE/velsend/ACCOUNT.token", nullptr},
    {"oauth-cacert", "FILE", G::kAuthentication,
     "Trust this PEM file for the token endpoints", "system's", nullptr},
    {"dry-run", nullptr, G::kMessage,
     "Show the message and envelope instead of sending",
     "send", nullptr},
    // The message's composition beyond -f (app/compose_options.h).
    {"text", "FILE", G::kMessage, "Message text from FILE (-: standard input)",
     "standard input", nullptr},
    {"html", "FILE", G::kMessage, "HTML version of the message text", "none", nullptr},
    {"inline", "FILE", G::kMessage, "File the HTML shows as cid:NAME (repeatable)", "none",
     nullptr},
    {"header", "\"NAME: VALUE\"", G::kMessage, "Add a header field (repeatable)", "none",
     nullptr},
    {"priority", "LEVEL", G::kMessage, "high, normal or low (X-Priority, Importance)", "none",
     IsPriority},
    {"read-receipt", nullptr, G::kMessage, "Ask for a read receipt to the originator", "none",
     nullptr},
    {"max-recipients", "N", G::kMessage,
     "Recipients per transaction, 1 to 1000000", "no limit",
     IsRecipientLimit},
    {"progress", nullptr, G::kOutput, "Show how far the message data has gone",
     "off", nullptr},
    {"report", "FILE", G::kOutput, "Write how the run ended as JSON to FILE (-: stdout)",
     nullptr, nullptr},
    {"exit-codes", "STYLE", G::kOutput, "Exit status convention: classic or sysexits",
     "classic", IsExitConvention},
    {"version", nullptr, G::kOutput, "Display the version, TLS library and features", nullptr,
     nullptr},
    {"help", nullptr, G::kOutput, "Display usage and these options", nullptr, nullptr},
    {nullptr, nullptr, G::kOutput, nullptr, nullptr, nullptr},
};

const SLongOption* Find(const std::string& name) {
  for (const SLongOption* option = kOptions; option->name; ++option) {
    if (name == option->name) return option;
  }
  return nullptr;
}

}  // namespace

const SLongOption* LongOptionTable() { return kOptions; }

const char* OptionGroupHeading(EOptionGroup group) {
  switch (group) {
    case EOptionGroup::kConnection: return "Connection and TLS";
    case EOptionGroup::kAuthentication: return "Authentication";
    case EOptionGroup::kMessage: return "Message";
    case EOptionGroup::kOutput: return "Output";
  }
  return "";
}

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
  } else if (option->value && value.empty() && option->value[0] != '[') {
    m_fault = "Option --" + name + " needs a value\n";
  } else if (!option->value && hasValue) {
    m_fault = "Option --" + name + " takes no value\n";
  }
  if (!m_fault.empty()) {
    m_faultShowsUsage = true;
    return;
  }
  if (option->valid && !option->valid(value)) {
    m_fault = "Invalid value for --" + name + ": " + value + "\n";
    return;
  }
  m_values[name] = value;
  m_repeated[name].push_back(value);
}

std::vector<std::string> CLongOptions::Values(const std::string& name) const {
  auto it = m_repeated.find(name);
  return it == m_repeated.end() ? std::vector<std::string>() : it->second;
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
  return ParseBoundedDecimal(text, 6, 1, 86400, seconds);
}

bool IsValidHeloName(const std::string& name) {
  if (name.size() > 255) return false;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    // An address literal: its inside is printable, without brackets,
    // backslashes or blanks (RFC 5321 dcontent).
    for (size_t i = 1; i + 1 < name.size(); ++i) {
      const char c = name[i];
      if (c <= ' ' || c > '~' || c == '[' || c == ']' || c == '\\') return false;
    }
    return true;
  }
  size_t label = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    const char c = i < name.size() ? name[i] : '.';
    if (c == '.') {
      if (label == 0 || label > 63 || name[i - 1] == '-') return false;
      label = 0;
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               (c == '-' && label > 0)) {
      ++label;
    } else {
      return false;
    }
  }
  return true;
}
