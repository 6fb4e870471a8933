// The decisions of a download that need no operating system: which request flags a
// scheme takes, which statuses are accepted, how a Content-Range value reads, where the
// body of an answer is written, and the resume headers.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>

// Capacity of the request header text in UTF-16 units.
inline constexpr int32_t kRequestHeaderUnits = 4096;
// Capacity of a Content-Range value: room for three 64-bit numbers and the terminator.
inline constexpr int32_t kContentRangeUnits = 96;

// Flags for HttpOpenRequestW: cache bypassed, redirects not followed, and SSL for HTTPS.
// False for any scheme but HTTP and HTTPS.
bool RequestFlagsForScheme(INTERNET_SCHEME scheme, DWORD* flags);

// 200 always; 206 and 416 only when resuming.
bool IsStatusAccepted(bool resuming, uint32_t status);

// The largest file the engine handles: its sizes and offsets are 32-bit.
inline constexpr uint64_t kLargestFile = 0xFFFFFFFFu;

// A Content-Range value read strictly: "bytes FIRST-LAST/TOTAL" or "bytes */TOTAL"
// (unsatisfied), each number digits only and within 64 bits.
struct ContentRange {
  bool unsatisfied = false;
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t total = 0;
};

// Reads a Content-Range value as above (leading spaces allowed); false for anything else,
// null included: a range whose numbers cannot be read must never be taken as 0.
bool ParseContentRange(const wchar_t* text, ContentRange* range);

// Reads a Content-Length value: digits only, within 64 bits; false otherwise.
bool ParseLength(const wchar_t* text, uint64_t* value);

// What to do with an accepted answer, given the partial file's size.
enum class BodyTarget {
  kNewPartial,       // create the partial file anew and write from 0
  kExistingPartial,  // open the partial file and write from position
  kAlreadyComplete,  // the partial file holds the whole file: move it onto the destination
  kDiscardPartial,   // the partial file cannot be continued: delete it, fail
  kContradictory,    // the answer contradicts itself (range, length): delete it, fail
  kTooLarge,         // the file is 4 GiB or larger: fail, the partial file untouched
};

struct BodyPlan {
  BodyTarget target;
  uint32_t position;
  uint32_t expectedSize;
};

// What the download read from an accepted answer.
struct AnswerHeaders {
  uint32_t status = 0;
  const wchar_t* contentRange = nullptr;  // null when absent
  uint64_t contentLength = 0;
  // The answer names a validator (ETag or Last-Modified) other than the one sent with
  // If-Range: a server or proxy that ignored If-Range would splice another file on.
  bool validatorChanged = false;
};

// The resume decision for an accepted status. A 200 is the whole file from byte 0
// whatever else the answer says.
BodyPlan PlanBody(bool resuming, const AnswerHeaders& answer, uint32_t partialSize);

// The extra request headers for a partial file of partialSize bytes: nothing when it is
// 0; otherwise "Range: bytes=N-" with N unsigned, and "If-Range: V" on a second line when
// validator is not null. Output holds kRequestHeaderUnits units; longer text is cut.
void FormatResumeHeaders(uint32_t partialSize, const wchar_t* validator, wchar_t* output);
