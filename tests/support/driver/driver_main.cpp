// vtdriver: drives the setup dialog of a process from the command line.
//
//   vtdriver (--launch <command line> | --pid <id>) [--timeout <ms>] [action...]
//
// It waits (at most the time-out, 20 s by default) for a visible dialog of the process,
// then runs the actions in order:
//   dump                        print "caption <text>" and one line per control:
//                               "control <id> <class> enabled|disabled visible|hidden <text>"
//   click <id>                  click a button
//   escape                      press Esc
//   close                       press the close box
//   wait-text <id> <text> <ms>  wait until a control shows the text
//   sleep <ms>                  wait
//   mark <path>                 write the dump and the dialog's screen rectangle
//                               ("rect <left> <top> <right> <bottom>") into a file, which
//                               tells a script that the dialog is up and where
//   wait-file <path> <ms>       wait until a file exists (a script's answer to a mark,
//                               for instance once it has taken a screenshot)
//   wait-exit <ms>              wait for the process to end and print "exit <code>"
// Output is UTF-8. Exit code 0 when the dialog showed and every action succeeded, 1 when
// not, 2 for a wrong command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "dialog_driver.h"

namespace {

void Print(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), DWORD(text.size()), &written, nullptr);
}

int Usage() {
  Print("usage: vtdriver (--launch <command line> | --pid <id>) [--timeout <ms>] [action...]\n");
  return 2;
}

DWORD Number(const wchar_t* text) { return DWORD(wcstoul(text, nullptr, 10)); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The rectangles it writes are in pixels of the screen, whatever the display scale.
  SetProcessDPIAware();
  LaunchedProcess launched;
  HANDLE process = nullptr;
  DWORD processId = 0;
  DWORD timeoutMs = 20000;
  int next = 1;
  for (; next + 1 < argc && argv[next][0] == L'-' && argv[next][1] == L'-'; next += 2) {
    const std::wstring option = argv[next];
    if (option == L"--launch") {
      launched = Launch(argv[next + 1]);
      if (!launched) {
        Print("cannot start " + Utf8(argv[next + 1]) + "\n");
        return 1;
      }
      process = launched.handle();
      processId = launched.id();
    } else if (option == L"--pid") {
      processId = Number(argv[next + 1]);
      process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    } else if (option == L"--timeout") {
      timeoutMs = Number(argv[next + 1]);
    } else {
      return Usage();
    }
  }
  if (!processId) return Usage();

  HWND dialog = WaitForDialog(processId, timeoutMs);
  if (!dialog) {
    Print("no dialog within " + std::to_string(timeoutMs) + " ms\n");
    return 1;
  }
  for (; next < argc; ++next) {
    const std::wstring action = argv[next];
    const int left = argc - next - 1;
    if (action == L"dump") {
      Print(DescribeDialog(ReadDialog(dialog)));
    } else if (action == L"click" && left >= 1) {
      ClickButton(dialog, int(Number(argv[++next])));
    } else if (action == L"escape") {
      PressEscape(dialog);
    } else if (action == L"close") {
      PressCloseBox(dialog);
    } else if (action == L"wait-text" && left >= 3) {
      const int id = int(Number(argv[next + 1]));
      const std::wstring text = argv[next + 2];
      const DWORD waitMs = Number(argv[next + 3]);
      next += 3;
      if (!WaitForControlText(dialog, id, text, waitMs)) {
        Print("control " + std::to_string(id) + " shows \"" + Utf8(ControlText(dialog, id)) +
              "\", not \"" + Utf8(text) + "\"\n");
        return 1;
      }
    } else if (action == L"sleep" && left >= 1) {
      Sleep(Number(argv[++next]));
    } else if (action == L"mark" && left >= 1) {
      RECT rect = {};
      GetWindowRect(dialog, &rect);
      const std::string text = DescribeDialog(ReadDialog(dialog)) + "rect " +
                               std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
                               std::to_string(rect.right) + " " + std::to_string(rect.bottom) + "\n";
      HANDLE file = CreateFileW(argv[++next], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) return 1;
      DWORD written = 0;
      const BOOL ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
      CloseHandle(file);
      if (!ok) return 1;
    } else if (action == L"wait-file" && left >= 2) {
      const wchar_t* path = argv[next + 1];
      const ULONGLONG deadline = GetTickCount64() + Number(argv[next + 2]);
      next += 2;
      while (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() >= deadline) {
          Print("no file " + Utf8(path) + "\n");
          return 1;
        }
        Sleep(50);
      }
    } else if (action == L"wait-exit" && left >= 1) {
      const DWORD waitMs = Number(argv[++next]);
      if (!process || WaitForSingleObject(process, waitMs) != WAIT_OBJECT_0) {
        Print("exit running\n");
        return 1;
      }
      DWORD code = 0;
      GetExitCodeProcess(process, &code);
      Print("exit " + std::to_string(code) + "\n");
    } else {
      return Usage();
    }
  }
  if (process && !launched) CloseHandle(process);
  return 0;
}
