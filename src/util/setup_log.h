// The setup log: one UTF-8 line per event, "2026-12-08 14:03:07.125 ui     text", so that a
// user can send support what happened. Both threads write through one lock; a line is
// never torn. Writing the log never changes what the setup does: a log that cannot be
// created or written is skipped silently, and every call is safe without an open log.
//
// Never pass a proxy credential, a decoded Proxy.ini value or any user name or password.
#pragma once

#include <cstdint>

#include "util/owners.h"

// Longest line in UTF-16 units before the time and thread are added; longer lines are cut.
inline constexpr int32_t kLogLineUnits = 1024;
// A log never grows beyond this size in one run. Events stop short of it with a line
// that says so, leaving kLogEndReserveBytes for the run's end (LogEndEvent, the closing
// line), which support reads first.
inline constexpr uint32_t kLogLimitBytes = 1024 * 1024;
inline constexpr uint32_t kLogEndReserveBytes = 16 * 1024;

// Opens path as this run's log. An existing file of that name that this program wrote is
// kept as the previous run's log: "name.log" becomes "name.1.log" (replacing an older
// one). A file at path that is written by a running process (another run sharing a log
// place), or that another program wrote, is left as it is: the log goes beside it as
// "name.<process id>.log". The calling thread is the one that logs as "ui"; every other
// thread logs as "worker". False when no file can be created (nothing is logged then).
// Call once, before the worker exists.
bool OpenSetupLog(const wchar_t* path);

// The path of the open log, for the log's own first lines; null when none is open.
const wchar_t* SetupLogPath();

// Opens path to add lines at its end, without keeping or emptying what it holds: a
// second setup program that is refused writes its one line into the running one's log.
// False when it cannot be opened. Call once, as OpenSetupLog.
bool AppendToSetupLog(const wchar_t* path);

// Writes the closing line (when given) and closes the log. Later calls log nothing.
void CloseSetupLog(const wchar_t* closingLine);

// Formats one line with wvnsprintfW rules (%s, %d, %u, %x, %lu; no 64-bit or floating
// conversions) and appends it. Does nothing without an open log.
void LogEvent(const wchar_t* format, ...);

// LogEvent for the lines that end a run (its outcome and exit code): written also once
// the log is full, into the room kept for them.
void LogEndEvent(const wchar_t* format, ...);

// The file's name alone, for a log line about a file: the full path holds the user's
// profile folder. "?" when path is null.
const wchar_t* LogFileName(const wchar_t* path);

// The path of the previous run's log for path: "x.log" -> "x.1.log"; a name without
// ".log" at its end gets ".1" appended. Null when path is null.
HeapString PreviousLogPath(const wchar_t* path);

// The place beside path for a run that must not touch path: "x.log" -> "x.<id>.log"; a
// name without ".log" at its end gets ".<id>" appended. Null when path is null.
HeapString BesideLogPath(const wchar_t* path, uint32_t processId);
