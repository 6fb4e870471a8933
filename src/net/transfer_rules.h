// The decisions of a download that need no operating system: which request flags a
// scheme takes, which statuses are accepted, how a Content-Range value reads, where the
// body of an answer is written, the resume headers, and the rule for failed reads.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>

// Capacity of the request header text in UTF-16 units.
inline constexpr int32_t kRequestHeaderUnits = 4096;
// Capacity of a Content-Range value: 63 characters and the terminator.
inline constexpr int32_t kContentRangeUnits = 64;
// The third failed read call in a row ends the download.
inline constexpr int32_t kMaxFailedReads = 3;

// Flags for HttpOpenRequestW: cache bypassed, redirects not followed, and SSL for HTTPS.
// False for any scheme but HTTP and HTTPS.
bool RequestFlagsForScheme(INTERNET_SCHEME scheme, DWORD* flags);

// 200 always; 206 and 416 only when resuming.
bool IsStatusAccepted(bool resuming, uint32_t status);

// The start of a Content-Range value ("bytes 100-199/5000" gives 100) and its total
// (5000; an asterisk gives 0). Leading spaces are skipped; text that does not go on with
// "bytes " (or null text) gives 0; numbers wrap at 32 bits.
uint32_t RangeStart(const wchar_t* text);
uint32_t RangeTotal(const wchar_t* text);

// What to do with an accepted answer, given the partial file's size.
enum class BodyTarget {
  kNewPartial,       // create the partial file anew and write from 0
  kExistingPartial,  // open the partial file and write from position
  kAlreadyComplete,  // the partial file holds the whole file: move it onto the destination
  kDiscardPartial,   // the partial file cannot be continued: delete it, fail
};

struct BodyPlan {
  BodyTarget target;
  uint32_t position;
  uint32_t expectedSize;
};

// The resume decision for an accepted status. contentRange is the answer's Content-Range
// value, null when absent (never looked at when not resuming).
BodyPlan PlanBody(bool resuming, uint32_t status, const wchar_t* contentRange,
                  uint32_t partialSize, uint32_t contentLength);

// The extra request headers for a partial file of partialSize bytes: nothing when it is
// 0; otherwise "Range: bytes=N-" with N unsigned, and "If-Range: V" on a second line when
// validator is not null. Output holds kRequestHeaderUnits units; longer text is cut.
void FormatResumeHeaders(uint32_t partialSize, const wchar_t* validator, wchar_t* output);

// What the transfer loop does after one read call.
enum class ReadStep {
  kWrite,      // data arrived: write it; the failure count starts again from 0
  kRetry,      // the call failed: read again at once
  kGiveUp,     // the third failure in a row
  kEndedEarly  // the body ended before the expected size
};

// The step after a read call that succeeded (readOk) with received bytes, given the
// failures in a row before it; *failures is updated.
ReadStep NextReadStep(bool readOk, uint32_t received, int32_t* failures);
