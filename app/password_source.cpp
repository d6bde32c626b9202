#include "app/password_source.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/switches.h"
#include "platform/command.h"
#include "platform/file.h"

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
                               std::string& password, std::string& reason) {
  const CLongOptions& options = switches.LongOptions();
  std::string value;
  if (switches.LookupSwitch("p", password)) return PasswordOutcome::kFound;
  if (options.Lookup("password-file", value)) {
    return ReadPasswordFile(value, password, reason) ? PasswordOutcome::kFound
                                                     : PasswordOutcome::kFailed;
  }
  if (options.Lookup("password-command", value)) {
    return RunPasswordCommand(value, password, reason) ? PasswordOutcome::kFound
                                                       : PasswordOutcome::kFailed;
  }
  const char* variable = std::getenv("VELSEND_PASSWORD");
  if (userGiven && variable && *variable) {
    password = variable;
    return PasswordOutcome::kFound;
  }
  return PasswordOutcome::kNone;
}

std::string_view FirstLine(std::string_view text) {
  const size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  if (end != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& reason) {
  std::FILE* file = platform::OpenForReading(path);
  if (file == nullptr) {
    reason = "can't open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  int c = 0;
  while (text.size() < kLongest && (c = std::fgetc(file)) != EOF && c != '\n') {
    text.push_back(static_cast<char>(c));
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    reason = "can't read " + path;
    return false;
  }
  if (c == '\n') text.push_back('\n');
  password = FirstLine(text);
  if (password.empty()) {
    reason = path + " holds no password on its first line";
    return false;
  }
  return true;
}

bool RunPasswordCommand(const std::string& command, std::string& password, std::string& reason) {
  std::string output;
  int status = 0;
  if (!platform::RunShellCommand(command, kLongest, output, status)) {
    reason = "the password command could not be started";
    return false;
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
