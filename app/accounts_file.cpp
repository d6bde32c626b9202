#include "app/accounts_file.h"

#include <cstdio>

#include "app/long_options.h"
#include "app/providers.h"
#include "app/switches.h"
#include "mime/address.h"
#include "platform/config_file.h"
#include "platform/error_text.h"
#include "platform/file.h"
#include "smtp/smtp_client.h"

namespace {

struct SSwitchKey {
  const char* key;
  const char* letter;  // nullptr: the port, which joins the host
};
constexpr SSwitchKey kSwitchKeys[] = {
    {"host", "h"}, {"port", nullptr}, {"from", "o"},
    {"user", "n"}, {"auth", "m"},     {"password", "p"},
};

// Long options that choose what a run does, or how it reports to its caller,
// rather than how it connects or what it sends: never a key.
constexpr const char* kNotKeys[] = {"help",    "version",     "account", "config",
                                    "providers", "dry-run",   "oauth-login", "report",
                                    "exit-codes"};

std::string Trim(const std::string& text) {
  const char* blanks = " \t";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A word that may be shown as a mistyped key: a line without "=" may well
// be a password on its own, which no error line may repeat.
bool LooksLikeKey(const std::string& word) {
  if (word.empty() || word.size() > 40) return false;
  for (char c : word) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
          c == '-' || c == '_')) {
      return false;
    }
  }
  return true;
}

bool IsPort(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  long port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + (c - '0');
  }
  return port >= 1 && port <= 65535;
}

// The reason value is refused for key; empty when it is accepted. The long
// options are checked by their own parser, so that the file refuses what
// the command line refuses.
std::string ValueFault(const std::string& name, const SAccountKey& key, const std::string& value) {
  switch (key.kind) {
    case SAccountKey::kFlag:
      if (value == "yes" || value == "no") return std::string();
      return "key " + Quoted(name) + " takes yes or no";
    case SAccountKey::kPort:
      if (IsPort(value)) return std::string();
      return "invalid port " + Quoted(value) + " (1 to 65535)";
    case SAccountKey::kDefault:
      return std::string();
    case SAccountKey::kValue: {
      if (name == "provider") {
        SProvider row;
        std::string host;
        if (FindProvider(value, row, host)) return std::string();
        return "unknown provider " + Quoted(value) + " (known: " + ProviderNames() + ")";
      }
      CLongOptions probe;
      probe.Parse("--" + name + "=" + value);
      bool showUsage = false;
      if (probe.Fault(showUsage).empty()) return std::string();
      return "invalid value for " + name + ": " + value;
    }
    case SAccountKey::kSwitch:
      break;
  }
  if (name == "host") {
    std::string host;
    long port = 0;
    if (!SplitHostPort(value, host, port) || host.empty()) return "invalid host " + Quoted(value);
    if (port != 0 || (value.find(':') != std::string::npos && value.front() != '[' &&
                      value.find(':') == value.rfind(':'))) {
      return "the port goes in the port key, not in host";
    }
  } else if (name == "from") {
    std::string address;
    std::string display;
    CSmtpClient::SplitAddress(value, address, display);
    if (!IsValidAddress(address)) return "invalid address " + Quoted(value);
  } else if (name == "auth") {
    if (ParseAuthMethod(value) == 0) return "unknown mechanism " + Quoted(value);
  }
  return std::string();
}

}  // namespace

bool FindAccountKey(const std::string& name, SAccountKey& key) {
  for (const SSwitchKey& k : kSwitchKeys) {
    if (name != k.key) continue;
    key.kind = k.letter ? SAccountKey::kSwitch : SAccountKey::kPort;
    key.letter = k.letter ? k.letter : "";
    return true;
  }
  if (name == "default") {
    key.kind = SAccountKey::kDefault;
    return true;
  }
  for (const char* not_key : kNotKeys) {
    if (name == not_key) return false;
  }
  for (const SLongOption* option = LongOptionTable(); option->name; ++option) {
    if (name != option->name) continue;
    key.kind = option->value ? SAccountKey::kValue : SAccountKey::kFlag;
    key.letter.clear();
    return true;
  }
  return false;
}

const SAccountSection* SAccountsFile::Find(const std::string& name) const {
  for (const SAccountSection& section : accounts) {
    if (section.name == name) return &section;
  }
  return nullptr;
}

bool ParseAccountsFile(const std::string& path, const std::string& text, SAccountsFile& file,
                       std::string& fault) {
  file = SAccountsFile();
  SAccountSection* section = nullptr;
  bool sawDefaults = false;
  int number = 0;
  size_t start = 0;
  // A byte-order mark some editors write before UTF-8.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  auto fail = [&](const std::string& reason) {
    fault = path + ":" + std::to_string(number) + ": " + reason;
    return false;
  };
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;

    if (line[0] == '[') {
      const std::string inside = line.back() == ']' ? Trim(line.substr(1, line.size() - 2)) : "";
      if (inside == "defaults") {
        if (sawDefaults) return fail("a second [defaults] section");
        sawDefaults = true;
        file.defaults.line = number;
        section = &file.defaults;
        continue;
      }
      const std::string name = inside.compare(0, 8, "account ") == 0 ? Trim(inside.substr(8)) : "";
      if (name.empty() || name.find_first_of(" \t") != std::string::npos) {
        return fail("unknown section " + Quoted(line) +
                    " (sections are [defaults] and [account NAME])");
      }
      if (const SAccountSection* earlier = file.Find(name)) {
        return fail("account " + Quoted(name) + " is already defined at line " +
                    std::to_string(earlier->line));
      }
      file.accounts.push_back(SAccountSection{name, number, {}});
      section = &file.accounts.back();
      continue;
    }

    const size_t equals = line.find('=');
    const std::string name = Trim(line.substr(0, equals));
    const std::string value = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
    SAccountKey key;
    if (!FindAccountKey(name, key)) {
      if (equals == std::string::npos && !LooksLikeKey(name)) {
        return fail("not a \"key = value\" line");
      }
      return fail("unknown key " + Quoted(LooksLikeKey(name) ? name : "..."));
    }
    if (equals == std::string::npos || value.empty()) {
      return fail("key " + Quoted(name) + " has no value");
    }
    if (section == nullptr) return fail("key " + Quoted(name) + " comes before any section");
    if (key.kind == SAccountKey::kDefault && section != &file.defaults) {
      return fail("key \"default\" belongs in [defaults]");
    }
    for (const SAccountEntry& entry : section->entries) {
      if (entry.key == name) {
        return fail("key " + Quoted(name) + " is already given at line " +
                    std::to_string(entry.line));
      }
    }
    const std::string reason = ValueFault(name, key, value);
    if (!reason.empty()) return fail(reason);
    if (key.kind == SAccountKey::kDefault) {
      file.defaultAccount = value;
      file.defaultLine = number;
      continue;
    }
    if (name == "password" && file.passwordLine == 0) file.passwordLine = number;
    section->entries.push_back(SAccountEntry{name, value, number});
  }
  if (!file.defaultAccount.empty() && !file.Find(file.defaultAccount)) {
    number = file.defaultLine;
    return fail("default account " + Quoted(file.defaultAccount) + " is not defined");
  }
  return true;
}

bool LoadAccountsFile(const std::string& path, SAccountsFile& file, std::string& fault) {
  // Far beyond any accounts file; keeps a wrong path from filling memory.
  constexpr size_t kLargest = 1024 * 1024;
  if (platform::KindOfFile(path) == platform::FileKind::kDirectory) {
    fault = "Cannot read " + path + ": it is a directory";
    return false;
  }
  std::FILE* stream = platform::OpenForReading(path);
  if (stream == nullptr) {
    fault = "Cannot read " + path + ": " + platform::ErrorNumberText(platform::LastErrorNumber());
    return false;
  }
  std::string text;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0 && text.size() <= kLargest) {
    text.append(buffer, got);
  }
  const bool failed = std::ferror(stream) != 0;
  const int error = platform::LastErrorNumber();
  std::fclose(stream);
  if (failed) {
    fault = "Cannot read " + path + ": " + platform::ErrorNumberText(error);
    return false;
  }
  if (text.size() > kLargest) {
    fault = "Cannot read " + path + ": larger than 1 MB";
    return false;
  }
  return ParseAccountsFile(path, text, file, fault);
}

std::string PasswordExposureFault(const std::string& path, const SAccountsFile& file) {
  if (file.passwordLine == 0) return std::string();
  const platform::EFileAccess access = platform::FileReadAccess(path);
  if (access == platform::EFileAccess::kOwnerOnly) return std::string();
  std::string fault = path + ":" + std::to_string(file.passwordLine) + ": ";
  fault += access == platform::EFileAccess::kUnknown
               ? "a password key, but the file's permissions cannot be read"
               : "a password key in a file other users can read or change";
  fault += "\nMake it private (" + platform::OwnerOnlyCommand(path) +
           "), or use password-file or password-command";
  return fault;
}
