#include <windows.h>

// Process entry. The setup dialog and the program's lifetime are built on top of this.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ExitProcess(0);
}
