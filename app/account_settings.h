// The relay settings of a run, layered: the command line over the account,
// the account over [defaults], those over the provider's, and all of them
// over the built-in defaults. The result is one switch table as if every
// setting had been typed, so the send run reads it as it reads the command
// line.
#pragma once

#include <map>
#include <string>

#include "app/accounts_file.h"
#include "app/switches.h"

// One key's value and where it came from ("command line", "account NAME",
// "[defaults]", "provider NAME").
struct SSetting {
  std::string value;
  bool on = true;  // a flag key's "no" is kept, off, to override what lies below
  std::string origin;
};
using SSettings = std::map<std::string, SSetting>;  // by key name

class CAccountSettings {
 public:
  // True when the command line asks for an account, a file or a provider.
  static bool Wanted(const CSwitchCommandLineInfo& commandLine);

  // Resolves the settings of commandLine: reads the accounts file when
  // --account or --config is given (path from configPath when --config is
  // not: platform::ConfigFilePath()), applies the provider. False with fault (one or two lines, no line
  // end) when the file or a name in it is wrong.
  bool Resolve(const CSwitchCommandLineInfo& commandLine, const std::string& configPath,
               std::string& fault);
  // Same, from a file already parsed (filePath only names it).
  bool Resolve(const CSwitchCommandLineInfo& commandLine, const SAccountsFile* file,
               const std::string& filePath, std::string& fault);

  // The command line with every setting from below filled in.
  const CSwitchCommandLineInfo& Switches() const { return m_switches; }
  const SSettings& Settings() const { return m_settings; }

  // The connection a dry run would make, a line each for the relay, port,
  // TLS mode, verification, mechanism and user, each with its origin. Never
  // a secret.
  std::string DescribeConnection() const;

 private:
  CSwitchCommandLineInfo m_switches;
  SSettings m_settings;
  std::string m_account;  // the account used; empty when none
};

// Merges upper over lower: a key set above replaces the same key below, and
// a flag turned on above removes its exclusive peers (tls and starttls, the
// password sources) below.
void LayerSettings(SSettings& lower, const SSettings& upper);
