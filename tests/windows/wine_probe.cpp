// Test helper for the Windows program under Wine.
//
//   wine_probe hold
//       Keeps a hidden window open until killed, so that Wine keeps its
//       desktop process between runs instead of starting one each time.
//   wine_probe about [email|open] [timeout-ms]
//       Waits for the "About ..." window of another process and prints what
//       it shows, one item a line: "title: ", "label <id>: ", "style <id>:
//       <class> <hex style>", "column: ", "row: <name>|<value>".
//       Then presses Email or Open when asked, and closes the window with OK.
//       Exit status 0, or 1 when no window appeared in time.
//   wine_probe record FILE ARGS...
//       Appends ARGS, one a line, to FILE: stands in for the mail program and
//       the browser that the shell starts.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Hold() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VelsendWineHold";
  RegisterClassA(&windowClass);
  CreateWindowA("VelsendWineHold", "hold", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                windowClass.hInstance, nullptr);
  std::printf("holding\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}

BOOL CALLBACK FindAbout(HWND window, LPARAM found) {
  char title[256] = {};
  GetWindowTextA(window, title, sizeof title);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strncmp(title, "About ", 6) == 0 && std::strcmp(className, "#32770") == 0 &&
      IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

// Reads list-view texts of another process: the item structure and the text
// buffer must live in that process's memory.
class RemoteList {
 public:
  explicit RemoteList(HWND list) : m_list(list) {
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                            processId);
    if (m_process) {
      m_remote = static_cast<char*>(
          VirtualAllocEx(m_process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    }
  }
  ~RemoteList() {
    if (m_remote) VirtualFreeEx(m_process, m_remote, 0, MEM_RELEASE);
    if (m_process) CloseHandle(m_process);
  }

  bool Ok() const { return m_remote != nullptr; }

  std::string ItemText(int row, int column) {
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = m_remote + 1024;
    item.cchTextMax = 1024;
    return Fetch(&item, sizeof item, LVM_GETITEMTEXTA, row);
  }

  std::string ColumnHeading(int column) {
    LVCOLUMNA heading = {};
    heading.mask = LVCF_TEXT;
    heading.pszText = m_remote + 1024;
    heading.cchTextMax = 1024;
    return Fetch(&heading, sizeof heading, LVM_GETCOLUMNA, column);
  }

 private:
  std::string Fetch(const void* request, size_t size, UINT message, WPARAM index) {
    char text[1024] = {};
    if (!WriteProcessMemory(m_process, m_remote, request, size, nullptr)) return "?";
    SendMessageA(m_list, message, index, reinterpret_cast<LPARAM>(m_remote));
    if (!ReadProcessMemory(m_process, m_remote + 1024, text, sizeof text - 1, nullptr)) {
      return "?";
    }
    return text;
  }

  HWND m_list;
  HANDLE m_process = nullptr;
  char* m_remote = nullptr;
};

int About(const char* action, int timeoutMs) {
  HWND dialog = nullptr;
  for (int waited = 0; !dialog && waited < timeoutMs; waited += 50) {
    EnumWindows(FindAbout, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) Sleep(50);
  }
  if (!dialog) {
    std::printf("no window\n");
    return 1;
  }
  Sleep(200);  // let the dialog finish its initialisation
  char text[512];
  GetWindowTextA(dialog, text, sizeof text);
  std::printf("title: %s\n", text);
  for (int id : {1, 1018, 1019, 1020, 1022, 1023, 1024, 1025, 1026}) {
    // 1024 holds a picture, whose text is the ordinal of its bitmap.
    HWND control = GetDlgItem(dialog, id);
    if (!control) {
      std::printf("missing %d\n", id);
      continue;
    }
    GetWindowTextA(control, text, sizeof text);
    char className[64] = {};
    GetClassNameA(control, className, sizeof className);
    if (id != 1024) std::printf("label %d: %s\n", id, text);
    std::printf("style %d: %s %08lx\n", id, className,
                static_cast<unsigned long>(GetWindowLongA(control, GWL_STYLE)));
  }
  HWND list = GetDlgItem(dialog, 1021);
  char className[64] = {};
  GetClassNameA(list, className, sizeof className);
  std::printf("style 1021: %s %08lx\n", className,
              static_cast<unsigned long>(GetWindowLongA(list, GWL_STYLE)));
  RemoteList remote(list);
  if (remote.Ok()) {
    for (int column = 0; column < 2; ++column) {
      std::printf("column: %s\n", remote.ColumnHeading(column).c_str());
    }
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
      std::printf("row: %s|%s\n", remote.ItemText(row, 0).c_str(),
                  remote.ItemText(row, 1).c_str());
    }
  }
  std::fflush(stdout);

  // What a click on the button sends; posted, so that it is handled in turn
  // before the OK that follows, whatever window is active.
  int button = 0;
  if (action && std::strcmp(action, "email") == 0) button = 1023;
  if (action && std::strcmp(action, "open") == 0) button = 1026;
  if (button) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
  }
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  return 0;
}

int Record(int argc, char** argv) {
  std::FILE* file = std::fopen(argv[2], "ab");
  if (!file) return 1;
  for (int i = 3; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
  std::fclose(file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "hold") == 0) return Hold();
  if (argc >= 2 && std::strcmp(argv[1], "about") == 0) {
    const char* action = argc >= 3 && std::strcmp(argv[2], "none") != 0 ? argv[2] : nullptr;
    return About(action, argc >= 4 ? std::atoi(argv[3]) : 20000);
  }
  if (argc >= 3 && std::strcmp(argv[1], "record") == 0) return Record(argc, argv);
  std::fprintf(stderr, "usage: wine_probe hold | about [email|open|none] [ms] | record FILE ARGS\n");
  return 2;
}
