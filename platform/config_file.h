// Where the accounts file lives by default, and whether a file can be read
// by its owner alone (a password may only stand in such a file).
#pragma once

#include <string>

namespace platform {

// $XDG_CONFIG_HOME/velsend/config, else $HOME/.config/velsend/config;
// %APPDATA%\velsend\config on Windows. Empty when the variables it needs
// are unset.
std::string DefaultConfigPath();

enum class EFileAccess { kOwnerOnly, kOthersMayRead, kUnknown };
// kOthersMayRead when a user other than the owner (a group, everyone) may
// read path: a POSIX mode bit, or an ACL entry on Windows granting read to
// someone other than the owner, the system and the administrators.
// kUnknown when the file's permissions cannot be read.
EFileAccess FileReadAccess(const std::string& path);

// How a user makes path readable by its owner alone, as a command line.
std::string OwnerOnlyCommand(const std::string& path);

}  // namespace platform
