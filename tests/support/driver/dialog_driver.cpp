#include "dialog_driver.h"

#include <utility>

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

void PressEscape(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  HWND target = dialog;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus &&
      (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus))) {
    target = info.hwndFocus;
  }
  // The dialog's message loop hands the key to IsDialogMessage, as for a real key.
  PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
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
