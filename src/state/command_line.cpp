#include "state/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "util/strings.h"

namespace {

constexpr wchar_t kUpdateModeSwitch[] = L"-U";

// Whether argument is the switch name behind "/" or "-", in any case.
bool IsSwitch(const wchar_t* argument, const wchar_t* name) {
  if (argument[0] != L'/' && argument[0] != L'-') return false;
  return lstrcmpiW(argument + 1, name) == 0;
}

}  // namespace

bool IsUpdateModeCommandLine(const wchar_t* commandLine) {
  if (!commandLine) return false;
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
  // The array and its texts are one LocalAlloc block.
  LocalBlock block(arguments);
  return arguments && count > 1 && lstrcmpW(arguments[1], kUpdateModeSwitch) == 0;
}

CommandLineOptions ParseCommandLine(const wchar_t* commandLine) {
  CommandLineOptions options;
  options.updateMode = IsUpdateModeCommandLine(commandLine);
  if (!commandLine) return options;
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
  LocalBlock block(arguments);
  if (!arguments) return options;
  bool quiet = false;
  bool passive = false;
  for (int i = 1; i < count; ++i) {
    const wchar_t* argument = arguments[i];
    if (IsSwitch(argument, L"quiet")) {
      quiet = true;
    } else if (IsSwitch(argument, L"passive")) {
      passive = true;
    } else if (IsSwitch(argument, L"log") && i + 1 < count) {
      options.logPath = DuplicateString(arguments[++i]);
    }
  }
  options.mode = quiet ? RunMode::kQuiet : passive ? RunMode::kPassive : RunMode::kInteractive;
  return options;
}
