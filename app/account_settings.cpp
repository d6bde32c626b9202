#include "app/account_settings.h"

#include <vector>

#include "app/providers.h"
#include "platform/config_file.h"

namespace {

const char* const kCommandLine = "command line";

// Keys of which one at most holds: the TLS modes, the address families and
// the password sources.
const std::vector<std::vector<std::string>>& ExclusiveGroups() {
  static const std::vector<std::vector<std::string>> groups = {
      {"tls", "starttls"},
      {"ipv4", "ipv6"},
      {"password", "password-file", "password-command"},
  };
  return groups;
}

SSettings FromSection(const SAccountSection& section, const std::string& origin) {
  SSettings settings;
  for (const SAccountEntry& entry : section.entries) {
    SAccountKey key;
    FindAccountKey(entry.key, key);
    SSetting setting{entry.value, true, origin};
    if (key.kind == SAccountKey::kFlag) setting.on = entry.value == "yes";
    settings[entry.key] = setting;
  }
  return settings;
}

SSettings FromCommandLine(const CSwitchCommandLineInfo& commandLine) {
  SSettings settings;
  std::string value;
  for (const char* name : {"from", "user", "auth", "password"}) {
    SAccountKey key;
    FindAccountKey(name, key);
    if (commandLine.LookupSwitch(key.letter, value)) settings[name] = {value, true, kCommandLine};
  }
  if (commandLine.LookupSwitch("h", value)) {
    // A -h the split refuses is kept whole, host and port, so that the
    // run refuses it as it always did.
    std::string host;
    long port = 0;
    const bool split = SplitHostPort(value, host, port);
    settings["host"] = {split ? host : value, true, kCommandLine};
    if (port != 0 || !split) settings["port"] = {std::to_string(port), true, kCommandLine};
  }
  const CLongOptions& options = commandLine.LongOptions();
  for (const SLongOption* option = LongOptionTable(); option->name; ++option) {
    SAccountKey key;
    if (!FindAccountKey(option->name, key) || !options.Lookup(option->name, value)) continue;
    settings[option->name] = {value, true, kCommandLine};
  }
  return settings;
}

SSettings FromProvider(const std::string& value) {
  SSettings settings;
  SProvider row;
  std::string host;
  if (!FindProvider(value, row, host)) return settings;
  const std::string origin = "provider " + value;
  settings["host"] = {host, true, origin};
  settings["port"] = {std::to_string(row.port), true, origin};
  settings[row.tls == EProviderTls::kStartTls ? "starttls" : "tls"] = {"", true, origin};
  if (row.user) settings["user"] = {row.user, true, origin};
  return settings;
}

std::string AccountNames(const SAccountsFile& file) {
  std::string names;
  for (const SAccountSection& section : file.accounts) {
    names += (names.empty() ? "" : ", ") + section.name;
  }
  return names.empty() ? std::string("none") : names;
}

}  // namespace

void LayerSettings(SSettings& lower, const SSettings& upper) {
  for (const auto& [name, setting] : upper) {
    if (setting.on) {
      for (const std::vector<std::string>& group : ExclusiveGroups()) {
        bool inGroup = false;
        for (const std::string& member : group) inGroup = inGroup || member == name;
        if (!inGroup) continue;
        for (const std::string& member : group) {
          if (member != name) lower.erase(member);
        }
      }
    }
    lower[name] = setting;
  }
}

bool CAccountSettings::Wanted(const CSwitchCommandLineInfo& commandLine) {
  const CLongOptions& options = commandLine.LongOptions();
  return options.Has("account") || options.Has("config") || options.Has("provider");
}

bool CAccountSettings::Resolve(const CSwitchCommandLineInfo& commandLine,
                               const std::string& configPath, std::string& fault) {
  const CLongOptions& options = commandLine.LongOptions();
  if (!options.Has("account") && !options.Has("config")) {
    return Resolve(commandLine, nullptr, std::string(), fault);
  }
  std::string path = configPath;
  options.Lookup("config", path);
  if (path.empty()) {
    fault = "No accounts file: give --config=FILE or set VELSEND_CONFIG";
    return false;
  }
  SAccountsFile file;
  if (!LoadAccountsFile(path, file, fault)) return false;
  fault = PasswordExposureFault(path, file);
  if (!fault.empty()) return false;
  return Resolve(commandLine, &file, path, fault);
}

bool CAccountSettings::Resolve(const CSwitchCommandLineInfo& commandLine,
                               const SAccountsFile* file, const std::string& filePath,
                               std::string& fault) {
  SSettings settings;
  m_account.clear();
  if (file) {
    std::string name = file->defaultAccount;
    const bool named = commandLine.LongOptions().Lookup("account", name) && !name.empty();
    if (!named) name = file->defaultAccount;
    if (name.empty() && commandLine.LongOptions().Has("account")) {
      fault = filePath + ": no account named, and [defaults] names none with \"default =\"";
      return false;
    }
    settings = FromSection(file->defaults, "[defaults]");
    if (!name.empty()) {
      const SAccountSection* account = file->Find(name);
      if (!account) {
        fault = filePath + ": unknown account \"" + name + "\" (accounts: " +
                AccountNames(*file) + ")";
        return false;
      }
      LayerSettings(settings, FromSection(*account, "account " + name));
      m_account = name;
    }
  }
  LayerSettings(settings, FromCommandLine(commandLine));
  auto provider = settings.find("provider");
  if (provider != settings.end()) {
    SSettings below = FromProvider(provider->second.value);
    LayerSettings(below, settings);
    settings = below;
  }
  m_settings = settings;

  // Everything not typed is added as if it had been; the account's name
  // names its OAuth 2.0 tokens.
  m_switches = commandLine;
  if (!m_account.empty()) m_switches.ParseParam("--account=" + m_account);
  bool hostFromBelow = false;
  for (const auto& [name, setting] : settings) {
    if (setting.origin == kCommandLine || !setting.on) continue;
    SAccountKey key;
    if (!FindAccountKey(name, key)) continue;
    switch (key.kind) {
      case SAccountKey::kSwitch:
        if (key.letter == "h") {
          hostFromBelow = true;
        } else {
          m_switches.ParseParam("-" + key.letter + setting.value);
        }
        break;
      case SAccountKey::kPort:
        hostFromBelow = true;
        break;
      case SAccountKey::kFlag:
        m_switches.ParseParam("--" + name);
        break;
      case SAccountKey::kValue:
        m_switches.ParseParam("--" + name + "=" + setting.value);
        break;
      case SAccountKey::kDefault:
        break;
    }
  }
  auto host = settings.find("host");
  if (hostFromBelow && host != settings.end()) {
    std::string word = host->second.value;
    if (word.find(':') != std::string::npos && word.front() != '[') word = "[" + word + "]";
    auto port = settings.find("port");
    if (port != settings.end()) word += ":" + port->second.value;
    m_switches.ParseParam("-h" + word);
  }
  return true;
}

namespace {

std::string Line(const char* label, const std::string& value, const std::string& origin) {
  std::string text = std::string("  ") + label;
  text.resize(16, ' ');
  text += value;
  return text + " (" + origin + ")\n";
}

}  // namespace

std::string CAccountSettings::DescribeConnection() const {
  auto get = [this](const char* name, std::string& value, std::string& origin) {
    auto it = m_settings.find(name);
    if (it == m_settings.end() || !it->second.on) return false;
    value = it->second.value;
    origin = it->second.origin;
    return true;
  };
  std::string value;
  std::string origin;
  std::string text = "Connection";
  if (!m_account.empty()) text += " of account " + m_account;
  if (get("provider", value, origin)) {
    text += (m_account.empty() ? " of provider " : ", provider ") + value;
  }
  text += ":\n";
  text += get("host", value, origin) ? Line("relay", value, origin)
                                     : Line("relay", "none", "-h not given");
  std::string port;
  std::string portOrigin = "built-in";
  const bool portGiven = get("port", port, portOrigin) && port != "0";
  if (!portGiven) portOrigin = "built-in";
  std::string tls = "none, clear text";
  std::string tlsOrigin = "built-in";
  if (get("starttls", value, tlsOrigin)) {
    tls = "STARTTLS";
  } else if (get("tls", value, tlsOrigin)) {
    tls = "TLS from the start";
  } else if (portGiven && port == "465") {
    tls = "TLS from the start";
    tlsOrigin = portOrigin;
  }
  if (!portGiven) port = tls == "TLS from the start" ? "465" : "25";
  text += Line("port", port, portOrigin);
  text += Line("TLS", tls, tlsOrigin);
  if (tls.rfind("none", 0) == 0) {
    text += Line("verification", "none without TLS", "built-in");
  } else if (get("insecure", value, origin)) {
    text += Line("verification", "off", origin);
  } else if (get("cacert", value, origin)) {
    text += Line("verification", "certificate and name, against " + value, origin);
  } else {
    text += Line("verification", "certificate and name, against the system's store", "built-in");
  }
  std::string flow;
  std::string flowOrigin;
  const bool oauth = get("oauth", flow, flowOrigin);
  if (get("auth", value, origin)) {
    text += Line("mechanism", value, origin);
  } else if (oauth) {
    text += Line("mechanism", "XOAUTH2", flowOrigin);
  } else {
    text += Line("mechanism", "the best the relay offers", "built-in");
  }
  text += get("user", value, origin) ? Line("user", value, origin)
                                     : Line("user", "none, no authentication", "built-in");
  // Where the secret comes from, never the secret.
  if (oauth) {
    text += Line("password", "OAuth 2.0 access token (" + flow + " sign-in)", flowOrigin);
  }
  for (const char* source : {"password", "password-file", "password-command"}) {
    if (get(source, value, origin)) {
      text += Line("password", std::string("password") == source ? "given" : source, origin);
    }
  }
  return text;
}
