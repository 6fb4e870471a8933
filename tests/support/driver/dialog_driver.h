// Drives dialogs of another process from outside, as a user would: finds a process's
// dialog, reads its caption and controls, clicks buttons, presses Esc, closes it. Every
// wait is bounded; every message to the other process has a time-out.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A process started by Launch; the handles are closed with the object.
class LaunchedProcess {
 public:
  LaunchedProcess() = default;
  LaunchedProcess(HANDLE process, DWORD id) : process_(process), id_(id) {}
  ~LaunchedProcess();
  LaunchedProcess(LaunchedProcess&& other) noexcept;
  LaunchedProcess& operator=(LaunchedProcess&& other) noexcept;
  LaunchedProcess(const LaunchedProcess&) = delete;
  LaunchedProcess& operator=(const LaunchedProcess&) = delete;

  explicit operator bool() const { return process_ != nullptr; }
  HANDLE handle() const { return process_; }
  DWORD id() const { return id_; }

  // Waits at most timeoutMs for the end; the exit code, or -1 while it still runs.
  long WaitForExit(DWORD timeoutMs) const;
  // Ends a process that a failed test left running.
  void Kill();

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

// Starts a command line (the first token is the program); empty on failure.
LaunchedProcess Launch(const std::wstring& commandLine);

struct ControlState {
  int id;
  std::wstring className;
  std::wstring text;
  bool enabled;
  bool visible;
};

struct DialogState {
  std::wstring caption;
  std::vector<ControlState> controls;  // in z-order, which is the template's order
};

// Waits at most timeoutMs for a visible top-level dialog of the process whose caption
// equals caption (any caption when empty). Null when none showed in time.
HWND WaitForDialog(DWORD processId, DWORD timeoutMs, const std::wstring& caption = L"");

// Whether a window still exists and is shown.
bool IsShown(HWND window);

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int id);
bool IsControlEnabled(HWND dialog, int id);
DialogState ReadDialog(HWND dialog);

// Polls (every 50 ms, at most timeoutMs) until the control shows text; true when it did.
bool WaitForControlText(HWND dialog, int id, const std::wstring& text, DWORD timeoutMs);

// Which system icon a message box shows: IDI_HAND, IDI_EXCLAMATION, IDI_ASTERISK or
// IDI_QUESTION, found by reading its icon control's pixels from the screen and drawing
// each of them beside it (another process's icon handle cannot be read); null when the
// box shows no icon or none of them is drawn there. Waits at most timeoutMs for it.
const wchar_t* ShownMessageBoxIcon(HWND box, DWORD timeoutMs);

// A mouse click on a button, as BM_CLICK delivers it (a disabled button ignores it).
void ClickButton(HWND dialog, int id);
// The Esc key pressed in the dialog, delivered to the control that has the focus.
void PressEscape(HWND dialog);
// The close box (and Alt+F4): the system command SC_CLOSE.
void PressCloseBox(HWND dialog);

// The Tab key: the controls it reaches, from the first in order, by id.
std::vector<int> TabOrder(HWND dialog);
// The id of the control that has the keyboard focus in the dialog's thread; 0 when none.
int FocusedControl(HWND dialog);
// A key pressed and released, delivered to the control that has the focus (Tab, Enter).
void PressKey(HWND dialog, WORD key);
// Whether the dialog draws the focus rectangle (Windows hides it until a key is used).
bool ShowsFocus(HWND dialog);

// A visible control's place in the dialog's client area and, for a static text, the
// extent of its text on one line in the control's own font. The extent needs the font,
// so it is measured only for a dialog of this process.
struct ControlPlace {
  int id;
  std::wstring className;
  RECT rect;
  SIZE textExtent;
};
std::vector<ControlPlace> ReadPlaces(HWND dialog);

// UTF-8 lines describing the dialog: "caption <text>", then per control
// "control <id> <class> enabled|disabled visible|hidden <text>".
std::string DescribeDialog(const DialogState& state);
std::string Utf8(const std::wstring& text);
