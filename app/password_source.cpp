#include "app/password_source.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/switches.h"
#include "platform/command.h"
#include "platform/error_text.h"
#include "platform/file_access.h"

namespace {

// Far beyond any password or OAuth token; keeps a wrong file from filling
// memory.
constexpr size_t kLongest = 1024 * 1024;

}  // namespace

std::string PasswordSourceFault(const CSwitchCommandLineInfo& switches) {
  const CLongOptions& options = switches.LongOptions();
  const int named = (switches.HasSwitch("p") ? 1 : 0) + (options.Has("password-file") ? 1 : 0) +
                    (options.Has("password-command") ? 1 : 0);
  if (named <= 1) return std::string();
  return "Options -p, --password-file and --password-command exclude each other\n";
}

PasswordOutcome ObtainPassword(const CSwitchCommandLineInfo& switches, bool userGiven,
                               int commandMs, std::string& password, std::string& reason,
                               std::string& warning) {
  const CLongOptions& options = switches.LongOptions();
  warning.clear();
  std::string value;
  PasswordOutcome outcome = PasswordOutcome::kNone;
  if (switches.LookupSwitch("p", password)) {
    outcome = PasswordOutcome::kFound;
  } else if (options.Lookup("password-file", value)) {
    outcome = ReadPasswordFile(value, password, reason, warning) ? PasswordOutcome::kFound
                                                                 : PasswordOutcome::kFailed;
  } else if (options.Lookup("password-command", value)) {
    outcome = RunPasswordCommand(value, commandMs, password, reason) ? PasswordOutcome::kFound
                                                                     : PasswordOutcome::kFailed;
  } else if (const char* variable = std::getenv("VELSEND_PASSWORD");
             userGiven && variable && *variable) {
    password = variable;
    outcome = PasswordOutcome::kFound;
  }
  // A NUL would end the password early in one mechanism and not in another.
  if (outcome == PasswordOutcome::kFound && password.find('\0') != std::string::npos) {
    password.clear();
    reason = "the password holds a NUL byte";
    outcome = PasswordOutcome::kFailed;
  }
  return outcome;
}

std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& reason,
                      std::string& warning) {
  warning.clear();
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    reason = path + " is not a regular file";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    reason = "can't open " + path + ": " + platform::ErrorNumberText(platform::LastErrorNumber());
    return false;
  }
  // As ssh and msmtp do for their secrets: said, not refused.
  if (platform::IsReadableByOthers(path)) {
    warning = "Warning: other users can read the password file " + path + "\n";
  }
  std::string text;
  int c = 0;
  while (text.size() < kLongest && (c = std::fgetc(file)) != EOF && c != '\n' && c != '\r') {
    text.push_back(static_cast<char>(c));
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    reason = "can't read " + path;
    return false;
  }
  password = text;
  if (password.empty()) {
    reason = path + " holds no password on its first line";
    return false;
  }
  return true;
}

bool RunPasswordCommand(const std::string& command, int timeoutMs, std::string& password,
                        std::string& reason) {
  std::string output;
  int status = 0;
  switch (platform::RunShellCommand(command, kPasswordCommandOutput, timeoutMs, output, status)) {
    case platform::ECommandEnd::kNotStarted:
      reason = "the password command could not be started";
      return false;
    case platform::ECommandEnd::kTimedOut:
      reason = "the password command did not end in time";
      return false;
    case platform::ECommandEnd::kTooMuchOutput:
      reason = "the password command wrote more than " +
               std::to_string(kPasswordCommandOutput / 1024) + " KiB";
      return false;
    case platform::ECommandEnd::kExited:
      break;
  }
  if (status != 0) {
    reason = status < 0 ? std::string("the password command did not end normally")
                        : "the password command exited with status " + std::to_string(status);
    return false;
  }
  password = FirstLine(output);
  if (password.empty()) {
    reason = "the password command wrote no password";
    return false;
  }
  return true;
}
