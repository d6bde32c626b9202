// The accounts file: sections "[account NAME]" and one optional "[defaults]"
// whose keys every account inherits, lines "key = value", "# comments".
// The keys are the long options' names (any option that takes a value or
// is a flag, except those that choose what a run does), plus a few for the
// one-letter switches: host (-h), port, from (-o), user (-n), auth (-m),
// password (-p). A flag key takes "yes" or "no".
#pragma once

#include <string>
#include <vector>

struct SAccountEntry {
  std::string key;
  std::string value;
  int line = 0;
};

struct SAccountSection {
  std::string name;  // empty for [defaults]
  int line = 0;
  std::vector<SAccountEntry> entries;
};

struct SAccountsFile {
  SAccountSection defaults;
  std::vector<SAccountSection> accounts;
  std::string defaultAccount;  // from "default = NAME" in [defaults]
  int defaultLine = 0;
  int passwordLine = 0;  // the first line with a password key; 0: none
  const SAccountSection* Find(const std::string& name) const;
};

// What a key stands for on the command line.
struct SAccountKey {
  enum EKind { kSwitch, kFlag, kValue, kPort, kDefault } kind;
  std::string letter;  // kSwitch: the switch's letter
};
// False for a name that is no key.
bool FindAccountKey(const std::string& name, SAccountKey& key);

// Parses text, the contents of the file at path, checking every key and
// value as its option would. False with fault set to "PATH:LINE: reason"
// at the first mistake.
bool ParseAccountsFile(const std::string& path, const std::string& text, SAccountsFile& file,
                       std::string& fault);

// Reads the file at path: false with "Cannot read PATH: cause" when it
// cannot be read, else as ParseAccountsFile.
bool LoadAccountsFile(const std::string& path, SAccountsFile& file, std::string& fault);

// The refusal of a password key in a file others may read (empty when the
// file is the owner's alone or holds no password), with how to fix it.
std::string PasswordExposureFault(const std::string& path, const SAccountsFile& file);
