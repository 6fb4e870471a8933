// What the setup log records about the run itself: where it goes, the facts support
// asks for first, and the refusal of a second setup program.
#pragma once

#include "state/command_line.h"

// Opens this run's log at "/log PATH", else in the work folder, keeping the previous
// run's, and records the program's revision, build, Windows version, WOW64, elevation
// and the command line. A log that cannot be made is skipped; the setup runs the same.
void OpenRunLog(const CommandLineOptions& options);

// Adds one line to the log of the setup program that runs already (at this command
// line's log place) saying that this second one was refused, and closes it again.
void LogSecondInstanceRefusal();
