// Resumable download of one file over HTTP or HTTPS through a partial file beside the
// destination (destination followed by ".FilePart"), which survives failures and
// restarts; a resume asks the server only for the bytes the partial file lacks.
#pragma once

#include <cstdint>

#include "util/owners.h"
#include "util/stop_event.h"

// Capacity of the host name and the URL path of a cracked URL, in UTF-16 units.
inline constexpr int32_t kUrlPartUnits = 4096;

// A cracked URL: scheme number, port, host name and URL path (components points into
// host and path).
struct UrlParts {
  URL_COMPONENTSW components{};
  HeapString host;
  HeapString path;
};

// How a transfer ended, so that a caller can tell a failure worth trying again from one
// that will only repeat itself.
enum class TransferEnd {
  kComplete,        // the destination holds the complete file
  kLocalFailure,    // failed on this side: URL, scheme, session, memory, the partial file
  kNoAnswer,        // no answer: not connected, or sending or receiving it failed (error)
  kStatusRefused,   // an answer the download cannot use: its status, or no length (status)
  kCannotContinue,  // the answer showed the partial file cannot be continued; deleted
  kContradictory,   // the answer's range or length contradicts itself; partial deleted
  kTooLarge,        // the file is 4 GiB or larger, beyond what the engine handles
  kReadFailed,      // a read failed (error: that of the read)
  kEndedEarly,      // the body ended before the expected size
  kTooSlow,         // fewer bytes arrived within the low-speed window than it asks for
  kStopped,         // the stop event was set
};

// Told how far a transfer has come: the bytes the destination holds so far (a resumed
// transfer starts at the bytes its partial file already held) and the whole file's size,
// 0 while the server has not said it. Called on the transferring thread, after every
// write, so it must be cheap and must not call back into the engine.
using TransferObserver = void (*)(void* context, uint32_t received, uint32_t total);

// Sees the bytes of the file as they are written, size bytes at offset: a transfer that
// starts the file afresh starts at 0, one that goes on from a partial file at its size.
// Called on the transferring thread after every write, like the observer.
using TransferSink = void (*)(void* context, uint32_t offset, const void* data, uint32_t size);

struct TransferOutcome {
  TransferEnd end = TransferEnd::kLocalFailure;
  uint32_t status = 0;  // the answer's status code, 0 before one was read
  DWORD error = 0;      // GetLastError of the failed WinINet call (kNoAnswer, kReadFailed)
};

// What the caller gives a transfer besides its URL and destination. The engine knows
// nothing of the setup's shared state: whatever it must watch comes in here.
struct TransferControl {
  // Signalled: the call returns within a moment (kStopped), also while WinINet waits on
  // a silent server, keeping the partial file; a transfer still waiting then ends by
  // itself (at its next byte or receive timeout) and writes nothing more, though until
  // then it holds the partial file open. Null: nothing stops it.
  HANDLE stopEvent = nullptr;
  // Timeouts of the request in ms (connecting, sending, each receive); 0 keeps
  // WinINet's own. A receive that times out is a failed read.
  DWORD connectTimeoutMs = 0;
  DWORD sendTimeoutMs = 0;
  DWORD receiveTimeoutMs = 0;
  // The low-speed limit: fewer than lowSpeedBytes of the body in one
  // lowSpeedWindowMs (windows follow one another from the request on) end the transfer (kTooSlow), so a server
  // that drips or goes silent cannot hold it for good. A window of 0: no limit.
  uint32_t lowSpeedBytes = 0;
  DWORD lowSpeedWindowMs = 0;
  // Not null: receives how the transfer ended.
  TransferOutcome* outcome = nullptr;
  // Null: nobody watches.
  TransferObserver observer = nullptr;
  void* observerContext = nullptr;
  // Null: nobody sees the bytes.
  TransferSink sink = nullptr;
  void* sinkContext = nullptr;
};

// Cracks url into parts (allocating its buffers). When IsHttpForced() and url begins
// with "https://" (exactly so), it is cracked as "http://" followed by the rest. True
// only when InternetCrackUrlW succeeds.
bool CrackDownloadUrl(const wchar_t* url, UrlParts& parts);

// The low 32 bits of the size of the file at path; 0 when it cannot be opened.
uint32_t PartialFileSize(const wchar_t* path);

// The answer's Content-Range value into text (kContentRangeUnits units). False when
// absent, empty or longer (text is then empty).
bool QueryContentRange(HINTERNET request, wchar_t* text);

// Downloads url to destination. True when destination now holds the complete file (the
// partial file has been moved onto it, replacing what was there). False otherwise: the
// partial file is kept with every byte written, except when the server's answer shows
// that it cannot be continued (then it is deleted): a 416 or Content-Range total that
// does not fit it, a range starting beyond it, or a finished file of another size than
// the answer promised. destination itself is only ever written by the final move. Both
// texts belong to the caller; control.outcome (when set) receives how it ended. Each call
// leaves one line in the setup log: URL, Range asked, status, bytes, time and outcome.
bool DownloadFile(const wchar_t* url, const wchar_t* destination, const TransferControl& control);
