#include "platform/about_window.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "platform/shell.h"
#include "windows/resource.h"

// The dialog template and its controls live in the program's resources
// (windows/velsend.rc.in).

namespace platform {
namespace {

// Created on first use and kept for the rest of the process.
HBRUSH WhiteBrush() {
  static HBRUSH brush = CreateSolidBrush(RGB(255, 255, 255));
  return brush;
}

void AddColumn(HWND list, int index, const char* heading) {
  LVCOLUMNA column = {};
  column.mask = LVCF_FMT | LVCF_TEXT | LVCF_SUBITEM;
  column.fmt = LVCFMT_LEFT;
  column.pszText = const_cast<char*>(heading);
  column.iSubItem = index;
  SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void AddRow(HWND list, const std::string& name, const std::string& value) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<char*>(name.c_str());
  const int row = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0,
                                                reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return;
  item.iItem = row;
  item.iSubItem = 1;
  item.pszText = const_cast<char*>(value.c_str());
  SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

// Wide enough for the longest entry and for the heading, whichever is wider.
void FitColumn(HWND list, int index) {
  SendMessageA(list, LVM_SETCOLUMNWIDTH, index, LVSCW_AUTOSIZE);
  const LRESULT content = SendMessageA(list, LVM_GETCOLUMNWIDTH, index, 0);
  SendMessageA(list, LVM_SETCOLUMNWIDTH, index, LVSCW_AUTOSIZE_USEHEADER);
  const LRESULT heading = SendMessageA(list, LVM_GETCOLUMNWIDTH, index, 0);
  SendMessageA(list, LVM_SETCOLUMNWIDTH, index, std::max(content, heading));
}

// The modal window of dialog template 103 over the content it shows.
class CAboutDialog {
 public:
  explicit CAboutDialog(const AboutContent& content)
      : m_content(content),
        m_mailAddress(SupportMailAddress(content)),
        m_infoAddress(ProductInfoAddress(content)) {}
  CAboutDialog(const CAboutDialog&) = delete;
  CAboutDialog& operator=(const CAboutDialog&) = delete;

  // False when no window could be made (no desktop).
  bool DoModal() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr,
                           DialogProc, reinterpret_cast<LPARAM>(this)) != -1;
  }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      reinterpret_cast<CAboutDialog*>(lParam)->OnInitDialog(dialog);
      return TRUE;
    }
    auto* self = reinterpret_cast<CAboutDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!self) return FALSE;
    switch (message) {
      case WM_CTLCOLORSTATIC:
        return self->OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
      case WM_COMMAND:
        switch (LOWORD(wParam)) {
          case IDOK:
          case IDCANCEL:  // Escape and the close box
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
          case IDC_EMAIL:
            self->OnEmail();
            return TRUE;
          case IDC_OPEN:
            self->OnOpenInfo();
            return TRUE;
        }
        break;
      case WM_DESTROY:
        self->OnDestroy();
        break;
    }
    return FALSE;
  }

  void OnInitDialog(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_VERSION_LIST);
    AddColumn(list, 0, "Name");
    AddColumn(list, 1, "Value");

    SetDlgItemTextA(dialog, IDC_PRODUCT_NAME, m_content.productName.c_str());
    SetWindowTextA(dialog, m_content.title.c_str());
    SetDlgItemTextA(dialog, IDC_PRODUCT_VERSION, m_content.productVersion.c_str());
    SetDlgItemTextA(dialog, IDC_SUPPORT_ADDRESS, m_content.supportAddress.c_str());
    SetDlgItemTextA(dialog, IDC_COPYRIGHT, m_content.copyright.c_str());
    SetDlgItemTextA(dialog, IDC_DOC_ADDRESS, m_content.docAddress.c_str());
    for (const auto& [name, value] : m_content.rows) AddRow(list, name, value);

    m_titleFont = CreateFontA(16, 0, 0, 0, 700, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY, 0x24,
                              nullptr);
    SendDlgItemMessageA(dialog, IDC_PRODUCT_NAME, WM_SETFONT,
                        reinterpret_cast<WPARAM>(m_titleFont), TRUE);
    FitColumn(list, 0);
    FitColumn(list, 1);
  }

  // The three labels over the header picture stand on white.
  INT_PTR OnCtlColor(HDC dc, HWND control) {
    const int id = GetDlgCtrlID(control);
    if (id != IDC_PRODUCT_NAME && id != IDC_PRODUCT_VERSION && id != IDC_COPYRIGHT) return 0;
    SetBkColor(dc, RGB(255, 255, 255));
    if (id != IDC_PRODUCT_NAME) SetTextColor(dc, RGB(0, 0, 0));
    return reinterpret_cast<INT_PTR>(WhiteBrush());
  }

  // A shell that cannot open the address leaves the window as it is.
  void OnEmail() { ShellOpen(m_mailAddress); }
  void OnOpenInfo() { ShellOpen(m_infoAddress); }

  void OnDestroy() {
    if (m_titleFont) DeleteObject(m_titleFont);
    m_titleFont = nullptr;
  }

  const AboutContent& m_content;
  const std::string m_mailAddress;
  const std::string m_infoAddress;
  HFONT m_titleFont = nullptr;
};

}  // namespace

bool ShowAboutWindow(const AboutContent& content) {
  // Without a window the caller shows the text form.
  return CAboutDialog(content).DoModal();
}

}  // namespace platform
