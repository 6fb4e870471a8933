// What the program's command line asks for.
#pragma once

#include <cstdint>

#include "util/owners.h"

// How the setup runs: with the dialog waiting for the user's presses; with the dialog
// going on by itself (/passive); or without any window (/quiet).
enum class RunMode : int32_t { kInteractive, kPassive, kQuiet };

struct CommandLineOptions {
  // "-U", exactly so, as argument 1.
  bool updateMode = false;
  RunMode mode = RunMode::kInteractive;
  // The argument after "/log" as a full path, or null when there is none.
  HeapString logPath;
  // "/prerequisites": the .NET Framework and LocalDB only; the application is left alone.
  bool prerequisitesOnly = false;
  // The argument after "/layout" as a full path: make an offline medium there. Null
  // when there is none.
  HeapString layoutFolder;
};

// Update mode: more than one argument and the first after the program path is exactly
// "-U" (case-sensitive). False when the command line cannot be split.
bool IsUpdateModeCommandLine(const wchar_t* commandLine);

// Called with each argument that means nothing to the program.
using IgnoredArgumentSink = void (*)(const wchar_t* argument);

// Reads the whole command line. Besides the "-U" rule, switches count anywhere after the
// program path, in any case and with "-" in place of "/": "/quiet" (also "/q", "/qn",
// "/s", "/silent"), "/passive" (also "/qb", "/basicui"), "/log PATH", "/prerequisites",
// "/layout DIR"; "/quiet" wins over "/passive"; "/prerequisites" alone means "/passive"
// and "/layout" alone "/quiet"; "/norestart" is accepted (it is always in effect). Every other
// argument is ignored and handed to ignored (when given). Paths are made full against
// the current folder. A command line that cannot be split gives the defaults.
CommandLineOptions ParseCommandLine(const wchar_t* commandLine,
                                    IgnoredArgumentSink ignored = nullptr);

// The switches a newer setup program is started with to carry on this run, each behind a
// blank: the mode, "/prerequisites", "/layout" and "/log" with their full paths quoted
// (in the form ParseCommandLine reads back). "-U" is not among them. An empty text when
// there are none; null when the heap is exhausted.
HeapString PassedOnSwitches(const CommandLineOptions& options);
