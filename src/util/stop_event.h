// The one test of the run's stop event, shared by every wait that a stop must cut short.
#pragma once

#include <windows.h>

// Waits up to waitMs for stopEvent; true once it is signalled. Without an event nobody can
// stop the run, and the wait is a plain pause. A signal seen here stays set for every later
// test of the same event: an event that resets itself when a wait sees it is set again, so
// the worker's request loop sees the stop as well and ends by itself rather than by force.
bool StopRequested(HANDLE stopEvent, DWORD waitMs = 0);
