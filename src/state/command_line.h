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
  // The argument after "/log", or null when there is none.
  HeapString logPath;
};

// Update mode: more than one argument and the first after the program path is exactly
// "-U" (case-sensitive). False when the command line cannot be split.
bool IsUpdateModeCommandLine(const wchar_t* commandLine);

// Reads the whole command line. Besides the "-U" rule, the switches "/passive", "/quiet"
// and "/log PATH" count anywhere after the program path, in any case and with "-" in
// place of "/"; "/quiet" wins over "/passive"; "/norestart" is accepted (it is always in
// effect); every other argument is ignored. A command line that cannot be split gives
// the defaults.
CommandLineOptions ParseCommandLine(const wchar_t* commandLine);
