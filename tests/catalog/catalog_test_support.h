// Helpers of the catalogue tests: start stamps relative to a given minute.
#pragma once

#include <windows.h>

#include <string>

// The stamp ("%04d%02d%02d_%02d%02d") of now moved by the given number of minutes.
std::string StampAt(const SYSTEMTIME& now, int minutes);

// Replaces every "{N}" (N a signed number of minutes, "{0}" the current minute) by the
// stamp of now moved by N minutes.
std::string ExpandStamps(const std::string& text, const SYSTEMTIME& now);

// Returns once the current minute has at least 10 seconds left, so that stamps made
// now still name the minute in which the code under test makes its own.
void WaitForMinuteHeadroom();

// The local time now.
SYSTEMTIME LocalNow();
