#include "app/password_source.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/switches.h"
#include "net/line_socket.h"
#include "platform/command.h"
#include "platform/error_text.h"
#include "platform/file.h"

namespace {

// Far beyond any password or OAuth token; keeps a wrong file from filling
// memory.
constexpr size_t kLongest = 1024 * 1024;
// A token is a few KiB; a command that writes more is not giving one.
constexpr size_t kCommandOutput = 64 * 1024;

PasswordOutcome ObtainFromEnvironment(bool userGiven, std::string& password) {
  const char* variable = std::getenv("VELSEND_PASSWORD");
  if (userGiven && variable && *variable) {
    password = variable;
    return PasswordOutcome::kFound;
  }
  return PasswordOutcome::kNone;
}

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
  bool read = false;
  if (options.Lookup("password-file", value)) {
    if (platform::OthersCanRead(value)) {
      std::fprintf(stderr, "Warning: %s can be read by other users (chmod 600 %s)\n",
                   value.c_str(), value.c_str());
      std::fflush(stderr);
    }
    read = ReadPasswordFile(value, password, reason);
  } else if (options.Lookup("password-command", value)) {
    SLineTimeouts timeouts;
    options.Timeouts(timeouts);
    read = RunPasswordCommand(value, password, reason, timeouts.connectMs);
  } else {
    return ObtainFromEnvironment(userGiven, password);
  }
  // A NUL would cut the secret short for one mechanism and not another.
  if (read && password.find('\0') != std::string::npos) {
    reason = "the password holds a NUL byte";
    read = false;
  }
  return read ? PasswordOutcome::kFound : PasswordOutcome::kFailed;
}

// Any line end ends the line: CR LF, LF, or a CR alone (a file saved on an
// old Mac, or a command that ends its output with one).
std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& reason) {
  // A FIFO without a writer would hold the run for ever; a device may never end.
  const platform::FileKind kind = platform::KindOfFile(path);
  if (kind == platform::FileKind::kDirectory || kind == platform::FileKind::kOther) {
    reason = path + " is not a regular file";
    return false;
  }
  std::FILE* file = platform::OpenForReading(path);
  if (file == nullptr) {
    reason = "can't open " + path + ": " +
             platform::ErrorNumberText(platform::LastErrorNumber());
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

bool RunPasswordCommand(const std::string& command, std::string& password, std::string& reason,
                        int timeoutMs) {
  std::string output;
  int status = 0;
  switch (platform::RunShellCommand(command, kCommandOutput, timeoutMs, output, status)) {
    case platform::CommandOutcome::kRan:
      break;
    case platform::CommandOutcome::kNotStarted:
      reason = "the password command could not be started";
      return false;
    case platform::CommandOutcome::kTimedOut:
      reason = "the password command did not end within " + std::to_string(timeoutMs / 1000) +
               " s";
      return false;
    case platform::CommandOutcome::kTooLong:
      reason = "the password command wrote more than " + std::to_string(kCommandOutput) +
               " bytes";
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
