// Where the accounts file lives, and whether a file can be read by its owner
// alone (a password may only stand in such a file).
#pragma once

#include <string>

namespace platform {

// VELSEND_CONFIG when set; else $XDG_CONFIG_HOME/velsend/config (an
// absolute XDG_CONFIG_HOME only), else $HOME/.config/velsend/config;
// %APPDATA%\velsend\config on Windows. Empty when the variables it needs
// are unset. The program's own text (UTF-8 on Windows).
std::string ConfigFilePath();

enum class EFileAccess { kOwnerOnly, kOthersMayRead, kUnknown };
// kOthersMayRead when a user other than the owner may read or change path:
// a group or other mode bit, or on Windows an ACL entry that allows reading
// or writing to anyone but the owner, the system and the administrators.
// kUnknown when the file's permissions cannot be read.
EFileAccess FileReadAccess(const std::string& path);

// The command that makes path its owner's alone, for the user to run.
std::string OwnerOnlyCommand(const std::string& path);

}  // namespace platform
