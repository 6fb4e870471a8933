#include "state/command_line.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "util/strings.h"

namespace {

constexpr wchar_t kUpdateModeSwitch[] = L"-U";

enum class Switch { kNone, kQuiet, kPassive, kLog, kNoRestart, kPrerequisites, kLayout };

// The spellings that installer engines and deployment tools use for the same request.
constexpr struct {
  const wchar_t* name;
  Switch meaning;
} kSwitches[] = {
    {L"quiet", Switch::kQuiet},       {L"q", Switch::kQuiet},
    {L"qn", Switch::kQuiet},          {L"s", Switch::kQuiet},
    {L"silent", Switch::kQuiet},      {L"passive", Switch::kPassive},
    {L"qb", Switch::kPassive},        {L"basicui", Switch::kPassive},
    {L"log", Switch::kLog},           {L"norestart", Switch::kNoRestart},
    {L"prerequisites", Switch::kPrerequisites}, {L"layout", Switch::kLayout},
};

// The switch argument names behind "/" or "-", in any case.
Switch SwitchOf(const wchar_t* argument) {
  if (argument[0] != L'/' && argument[0] != L'-') return Switch::kNone;
  for (const auto& entry : kSwitches) {
    if (lstrcmpiW(argument + 1, entry.name) == 0) return entry.meaning;
  }
  return Switch::kNone;
}

// A newer setup program may run in another current folder (a deployment tool's), and
// the log must not move with it.
HeapString FullPath(const wchar_t* path) {
  const DWORD units = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (units == 0 || units > 32768) return DuplicateString(path);
  HeapString full = NewString(int32_t(units));
  if (!full || GetFullPathNameW(path, units, full.get(), nullptr) >= units) {
    return DuplicateString(path);
  }
  return full;
}

// " name "path"" with the backslashes before the closing quote doubled, so that
// CommandLineToArgvW reads back "C:\Logs\" and not an escaped quote.
HeapString AppendQuoted(const wchar_t* text, const wchar_t* name, const wchar_t* path) {
  int32_t trailing = 0;
  const int32_t length = TextLength(path);
  while (trailing < length && path[length - 1 - trailing] == L'\\') ++trailing;
  HeapString doubled = NewString(trailing + 1);
  if (!doubled) return doubled;
  for (int32_t i = 0; i < trailing; ++i) doubled.get()[i] = L'\\';
  const int64_t units = int64_t(TextLength(text)) + TextLength(name) + length + trailing + 8;
  if (units > INT32_MAX) return HeapString();
  HeapString result = NewString(int32_t(units));
  if (result) {
    wnsprintfW(result.get(), int(units), L"%s %s \"%s%s\"", text, name, path, doubled.get());
  }
  return result;
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

CommandLineOptions ParseCommandLine(const wchar_t* commandLine, IgnoredArgumentSink ignored) {
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
    const Switch meaning = SwitchOf(argument);
    const bool hasValue = i + 1 < count;
    if (meaning == Switch::kQuiet) {
      quiet = true;
    } else if (meaning == Switch::kPassive) {
      passive = true;
    } else if (meaning == Switch::kPrerequisites) {
      options.prerequisitesOnly = true;
    } else if (meaning == Switch::kLog && hasValue) {
      options.logPath = FullPath(arguments[++i]);
    } else if (meaning == Switch::kLayout && hasValue) {
      options.layoutFolder = FullPath(arguments[++i]);
    } else if (meaning != Switch::kNoRestart && !(i == 1 && options.updateMode) && ignored) {
      ignored(argument);
    }
  }
  // Both are unattended by nature: without a mode the prerequisites show the dialog
  // going on, and a layout runs without a window.
  if (options.prerequisitesOnly) passive = true;
  if (options.layoutFolder && !passive) quiet = true;
  options.mode = quiet ? RunMode::kQuiet : passive ? RunMode::kPassive : RunMode::kInteractive;
  return options;
}

HeapString PassedOnSwitches(const CommandLineOptions& options) {
  HeapString text = DuplicateString(options.mode == RunMode::kQuiet     ? L" /quiet"
                                    : options.mode == RunMode::kPassive ? L" /passive"
                                                                        : L"");
  if (text && options.prerequisitesOnly) text = ConcatString(text.get(), L" /prerequisites");
  if (text && options.layoutFolder) {
    text = AppendQuoted(text.get(), L"/layout", options.layoutFolder.get());
  }
  if (text && options.logPath) text = AppendQuoted(text.get(), L"/log", options.logPath.get());
  return text;
}
