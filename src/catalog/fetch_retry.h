// Fetching again after a failure that may pass by itself: a dropped connection, a server
// that is busy or silent for a while.
#pragma once

#include <cstdint>

#include "net/download.h"
#include "catalog/update_server.h"

// The pauses before the first, second and third retry of a fetch, in ms: long enough
// for a restarting server or a proxy to come back, short enough that the step does not
// sit at "downloading" for minutes.
inline constexpr DWORD kRetryPausesMs[] = {2000, 8000, 30000};

// Whether a fetch that ended so may succeed when tried again: the connection refused,
// reset or timed out, closed before any answer, an answer that broke off or contradicted
// itself, a 5xx, 408 or 429 status, a failed read, a body that ended early or came too
// slowly. Not another status, a certificate or name error, a stop, a failure on this
// side, a file too large, or a partial file the server's answer made unusable (that one
// gets a fresh try of its own, see FetchWithRetries).
bool IsTransientFailure(const TransferOutcome& outcome);

// FetchFromUpdateServer, tried again from the partial file after each transient failure,
// once after each of the pauseCount pauses in pausesMs; the setup's stop event ends a
// pause (and the fetch) at once. A try whose answer could not continue the partial file
// (which is then gone) is followed at once by one fresh try. True when one of the tries
// succeeded. Every try is watched by watch; while a pause runs, watch.progress stays
// active and tells when the next try starts.
bool FetchWithRetries(const wchar_t* remoteName, const wchar_t* localName, bool force,
                      const DWORD* pausesMs, int32_t pauseCount, const FetchWatch& watch = {});

// FetchWithRetries with the program's pauses (kRetryPausesMs).
bool FetchWithRetries(const wchar_t* remoteName, const wchar_t* localName, bool force,
                      const FetchWatch& watch = {});
