#include "platform/command.h"

#include <windows.h>

#include "platform/wide_text_win32.h"

namespace platform {
namespace {

// Closes a handle when it goes.
struct SHandle {
  HANDLE value = nullptr;
  ~SHandle() {
    if (value != nullptr && value != INVALID_HANDLE_VALUE) CloseHandle(value);
  }
};

// What is waiting in the pipe, without waiting for more; false at its end
// or past the limit.
bool Drain(HANDLE pipe, size_t limit, std::string& output, bool& tooLong) {
  char buffer[4096];
  for (;;) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return false;
    if (waiting == 0) return true;
    DWORD n = 0;
    if (!ReadFile(pipe, buffer, waiting < sizeof buffer ? waiting : sizeof buffer, &n, nullptr) ||
        n == 0) {
      return false;
    }
    if (output.size() + n > limit) {
      tooLong = true;
      return false;
    }
    output.append(buffer, n);
  }
}

}  // namespace

// cmd.exe /c runs the line, in a job object so that a command that
// overstays is ended with everything it started; the wide form keeps
// characters outside the ANSI code page.
CommandOutcome RunShellCommand(const std::string& command, size_t limit, int timeoutMs,
                               std::string& output, int& exitStatus) {
  output.clear();
  exitStatus = -1;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  SHandle readEnd, writeEnd, nullInput, job;
  if (!CreatePipe(&readEnd.value, &writeEnd.value, &inherit, 0) ||
      !SetHandleInformation(readEnd.value, HANDLE_FLAG_INHERIT, 0)) {
    return CommandOutcome::kNotStarted;
  }
  // Standard input may carry the message text: the command must not take it.
  nullInput.value = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, OPEN_EXISTING, 0, nullptr);
  job.value = CreateJobObjectW(nullptr, nullptr);
  if (nullInput.value == INVALID_HANDLE_VALUE || job.value == nullptr) {
    return CommandOutcome::kNotStarted;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.value, JobObjectExtendedLimitInformation, &limits,
                               sizeof limits)) {
    return CommandOutcome::kNotStarted;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullInput.value;
  startup.hStdOutput = writeEnd.value;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring line = L"cmd.exe /c " + WideFromUtf8(command);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &process)) {
    return CommandOutcome::kNotStarted;
  }
  SHandle processHandle{process.hProcess}, threadHandle{process.hThread};
  // Outside the job a command that overstays could not be ended whole: it
  // never runs.
  if (!AssignProcessToJobObject(job.value, process.hProcess)) {
    TerminateProcess(process.hProcess, 1);
    return CommandOutcome::kNotStarted;
  }
  ResumeThread(process.hThread);
  CloseHandle(writeEnd.value);
  writeEnd.value = nullptr;

  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  bool open = true;
  bool tooLong = false;
  bool exited = false;
  for (;;) {
    if (open) open = Drain(readEnd.value, limit, output, tooLong);
    if (tooLong) break;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    const ULONGLONG left = deadline - now;
    if (WaitForSingleObject(process.hProcess, left < 20 ? static_cast<DWORD>(left) : 20) ==
        WAIT_OBJECT_0) {
      exited = true;
      break;
    }
  }
  if (exited) {
    // What it wrote before it exited; a background child keeps the rest.
    if (open) Drain(readEnd.value, limit, output, tooLong);
    if (tooLong) return CommandOutcome::kTooLong;
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) exitStatus = static_cast<int>(code);
    return CommandOutcome::kRan;
  }
  TerminateJobObject(job.value, 1);
  WaitForSingleObject(process.hProcess, 5000);
  return tooLong ? CommandOutcome::kTooLong : CommandOutcome::kTimedOut;
}

}  // namespace platform
