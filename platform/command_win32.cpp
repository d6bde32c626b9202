#include "platform/command.h"

#include <windows.h>

#include <string>

namespace platform {
namespace {

// How often the command and its output are looked at.
constexpr DWORD kPollMs = 10;

// One handle, closed on every way out.
class CHandle {
 public:
  CHandle() = default;
  explicit CHandle(HANDLE handle) : m_handle(handle) {}
  ~CHandle() { Reset(nullptr); }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;

  HANDLE Get() const { return m_handle; }
  bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle) {
    if (IsValid()) CloseHandle(m_handle);
    m_handle = handle;
  }

 private:
  HANDLE m_handle = nullptr;
};

// The interpreter _popen and system() use: %ComSpec%, else cmd.exe.
std::string CommandLine(const std::string& command) {
  char comspec[MAX_PATH] = "";
  const DWORD n = GetEnvironmentVariableA("ComSpec", comspec, sizeof comspec);
  const std::string shell = n > 0 && n < sizeof comspec ? comspec : "cmd.exe";
  return "\"" + shell + "\" /c " + command;
}

HANDLE Inheritable(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// Reads what the pipe holds now without waiting. False once more than
// limit bytes came; ended when the pipe has no writer left.
bool TakeOutput(HANDLE pipe, size_t limit, std::string& output, bool& ended) {
  char buffer[4096];
  for (;;) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) {
      ended = true;
      return true;
    }
    if (waiting == 0) return true;
    DWORD n = 0;
    const DWORD want = waiting < sizeof buffer ? waiting : static_cast<DWORD>(sizeof buffer);
    if (!ReadFile(pipe, buffer, want, &n, nullptr) || n == 0) {
      ended = true;
      return true;
    }
    if (output.size() + n > limit) return false;
    output.append(buffer, n);
  }
}

}  // namespace

ECommandEnd RunShellCommand(const std::string& command, size_t limit, int timeoutMs,
                            std::string& output, int& exitStatus) {
  output.clear();
  exitStatus = -1;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return ECommandEnd::kNotStarted;
  CHandle reader(readEnd);
  CHandle writer(writeEnd);
  SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);
  // Standard input may carry the message text: the command must not take it.
  CHandle input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr));
  CHandle error(Inheritable(GetStdHandle(STD_ERROR_HANDLE)));

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.Get();
  startup.hStdOutput = writer.Get();
  startup.hStdError = error.Get();
  PROCESS_INFORMATION process = {};
  std::string line = CommandLine(command);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &process)) {
    return ECommandEnd::kNotStarted;
  }
  CHandle child(process.hProcess);
  CHandle thread(process.hThread);
  // Everything the command starts joins its job, so that stopping it stops
  // them all. Where jobs cannot nest, the command alone is stopped. A
  // process it leaves running when it ends is left alone, as a shell's
  // background process is.
  CHandle job(CreateJobObjectA(nullptr, nullptr));
  if (job.IsValid() && !AssignProcessToJobObject(job.Get(), child.Get())) job.Reset(nullptr);
  const auto stop = [&] {
    if (job.IsValid()) TerminateJobObject(job.Get(), 1);
    TerminateProcess(child.Get(), 1);
    WaitForSingleObject(child.Get(), INFINITE);
  };
  ResumeThread(thread.Get());
  writer.Reset(nullptr);  // the command holds the only write end left

  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  bool outputEnded = false;
  for (;;) {
    if (!outputEnded && !TakeOutput(reader.Get(), limit, output, outputEnded)) {
      stop();
      return ECommandEnd::kTooMuchOutput;
    }
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG left = now >= deadline ? 0 : deadline - now;
    const DWORD wait = static_cast<DWORD>(left < kPollMs ? left : kPollMs);
    if (WaitForSingleObject(child.Get(), wait) == WAIT_OBJECT_0) {
      // What it wrote just before it ended is still in the pipe.
      if (!outputEnded && !TakeOutput(reader.Get(), limit, output, outputEnded)) {
        return ECommandEnd::kTooMuchOutput;
      }
      break;
    }
    if (GetTickCount64() >= deadline) {
      stop();
      return ECommandEnd::kTimedOut;
    }
  }
  DWORD code = 0;
  if (GetExitCodeProcess(child.Get(), &code)) exitStatus = static_cast<int>(code);
  return ECommandEnd::kExited;
}

}  // namespace platform
