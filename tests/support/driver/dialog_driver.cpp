#include "dialog_driver.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;
// A dialog that does not answer a message within this is hung, not slow.
constexpr UINT kMessageTimeoutMs = 2000;
constexpr wchar_t kDialogClass[] = L"#32770";

struct Search {
  DWORD processId;
  const std::wstring* caption;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (lstrcmpW(className, kDialogClass) != 0) return TRUE;
  if (!search->caption->empty() && WindowText(window) != *search->caption) return TRUE;
  search->found = window;
  return FALSE;
}

// The icon control of a message box: a visible static of the icon type.
BOOL CALLBACK FindIconControl(HWND child, LPARAM found) {
  wchar_t className[16] = {};
  GetClassNameW(child, className, 16);
  if (lstrcmpiW(className, L"Static") == 0 && IsWindowVisible(child) &&
      (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

// Pixels of a 32-bit top-down bitmap drawn by draw on a memory device context.
template <typename Draw>
std::vector<uint32_t> DrawnPixels(int width, int height, Draw draw) {
  std::vector<uint32_t> pixels(size_t(width) * size_t(height));
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    draw(memory, screen);
    GdiFlush();
    memcpy(pixels.data(), bits, pixels.size() * sizeof(uint32_t));
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

}  // namespace

LaunchedProcess::~LaunchedProcess() {
  if (process_) CloseHandle(process_);
}

LaunchedProcess::LaunchedProcess(LaunchedProcess&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(other.id_) {}

LaunchedProcess& LaunchedProcess::operator=(LaunchedProcess&& other) noexcept {
  if (this != &other) {
    if (process_) CloseHandle(process_);
    process_ = std::exchange(other.process_, nullptr);
    id_ = other.id_;
  }
  return *this;
}

long LaunchedProcess::WaitForExit(DWORD timeoutMs) const {
  if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  return GetExitCodeProcess(process_, &code) ? long(code) : -1;
}

void LaunchedProcess::Kill() {
  if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
  }
}

LaunchedProcess Launch(const std::wstring& commandLine) {
  std::wstring writable = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return LaunchedProcess();
  }
  CloseHandle(info.hThread);
  return LaunchedProcess(info.hProcess, info.dwProcessId);
}

HWND WaitForDialog(DWORD processId, DWORD timeoutMs, const std::wstring& caption) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    Search search{processId, &caption, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(kPollMs);
  }
}

bool IsShown(HWND window) { return IsWindow(window) && IsWindowVisible(window); }

std::wstring WindowText(HWND window) {
  wchar_t text[512] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied)) {
    return L"";
  }
  return std::wstring(text, copied < 512 ? copied : 511);
}

std::wstring ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool IsControlEnabled(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control && IsWindowEnabled(control);
}

DialogState ReadDialog(HWND dialog) {
  DialogState state;
  state.caption = WindowText(dialog);
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    state.controls.push_back({int(short(GetDlgCtrlID(child))), className, WindowText(child),
                              IsWindowEnabled(child) != FALSE, IsWindowVisible(child) != FALSE});
  }
  return state;
}

bool WaitForControlText(HWND dialog, int id, const std::wstring& text, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (ControlText(dialog, id) == text) return true;
    if (GetTickCount64() >= deadline || !IsWindow(dialog)) return false;
    Sleep(kPollMs);
  }
}

void ClickButton(HWND dialog, int id) {
  // Posted: the click may end the other process before it could answer.
  PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void PressEscape(HWND dialog) { PressKey(dialog, VK_ESCAPE); }

std::vector<int> TabOrder(HWND dialog) {
  std::vector<int> order;
  HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
  for (HWND control = first; control && order.size() < 64;) {
    order.push_back(short(GetDlgCtrlID(control)));
    control = GetNextDlgTabItem(dialog, control, FALSE);
    if (control == first) break;
  }
  return order;
}

// The control of the dialog that has the focus in its thread, or null.
HWND FocusedWindow(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) &&
                 IsChild(dialog, info.hwndFocus)
             ? info.hwndFocus
             : nullptr;
}

int FocusedControl(HWND dialog) {
  HWND focus = FocusedWindow(dialog);
  return focus ? short(GetDlgCtrlID(focus)) : 0;
}

void PressKey(HWND dialog, WORD key) {
  HWND target = FocusedWindow(dialog) ? FocusedWindow(dialog) : dialog;
  // The dialog's message loop hands the key to IsDialogMessage, as for a real key.
  const LPARAM scan = LPARAM(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
  PostMessageW(target, WM_KEYDOWN, key, scan | 1);
  PostMessageW(target, WM_KEYUP, key, scan | 0xC0000001);
}

bool ShowsFocus(HWND dialog) {
  DWORD_PTR state = 0;
  if (!SendMessageTimeoutW(dialog, WM_QUERYUISTATE, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                           &state)) {
    return false;
  }
  return (state & UISF_HIDEFOCUS) == 0;
}

namespace {

SIZE TextExtent(HWND control, const std::wstring& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT extent = {};
  DrawTextW(dc, text.c_str(), int(text.size()), &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return {extent.right - extent.left, extent.bottom - extent.top};
}

}  // namespace

std::vector<ControlPlace> ReadPlaces(HWND dialog) {
  std::vector<ControlPlace> places;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    ControlPlace place = {short(GetDlgCtrlID(child)), className, {}, {}};
    GetWindowRect(child, &place.rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place.rect), 2);
    const LONG type = GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK;
    if (lstrcmpiW(className, L"Static") == 0 && type <= SS_RIGHT) {
      place.textExtent = TextExtent(child, WindowText(child));
    }
    places.push_back(place);
  }
  return places;
}

void PressCloseBox(HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), utf8.data(), bytes, nullptr,
                      nullptr);
  return utf8;
}

std::string DescribeDialog(const DialogState& state) {
  std::string out = "caption " + Utf8(state.caption) + "\n";
  for (const ControlState& control : state.controls) {
    out += "control " + std::to_string(control.id) + " " + Utf8(control.className) +
           (control.enabled ? " enabled" : " disabled") +
           (control.visible ? " visible " : " hidden ") + Utf8(control.text) + "\n";
  }
  return out;
}

const wchar_t* ShownMessageBoxIcon(HWND box, DWORD timeoutMs) {
  const wchar_t* const kIcons[] = {IDI_HAND, IDI_EXCLAMATION, IDI_ASTERISK, IDI_QUESTION};
  const DWORD start = GetTickCount();
  do {
    HWND control = nullptr;
    EnumChildWindows(box, FindIconControl, reinterpret_cast<LPARAM>(&control));
    RECT rect = {};
    if (control && GetWindowRect(control, &rect)) {
      const int width = rect.right - rect.left;
      const int height = rect.bottom - rect.top;
      const std::vector<uint32_t> shown = DrawnPixels(width, height, [&](HDC memory, HDC screen) {
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
      });
      for (const wchar_t* id : kIcons) {
        // On the box's own background, which the icon's transparent corner shows.
        const std::vector<uint32_t> drawn = DrawnPixels(width, height, [&](HDC memory, HDC) {
          HBRUSH background = CreateSolidBrush(RGB((shown[0] >> 16) & 0xFF, (shown[0] >> 8) & 0xFF,
                                                   shown[0] & 0xFF));
          RECT all = {0, 0, width, height};
          FillRect(memory, &all, background);
          DeleteObject(background);
          DrawIconEx(memory, 0, 0, LoadIconW(nullptr, id), width, height, 0, nullptr, DI_NORMAL);
        });
        size_t differing = 0;
        for (size_t i = 0; i < shown.size(); ++i) differing += (shown[i] & 0xFFFFFF) != (drawn[i] & 0xFFFFFF);
        if (!shown.empty() && differing * 50 < shown.size()) return id;
      }
    }
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}
