#include "net/download.h"

#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "net/proxy_settings.h"
#include "net/resume_validator.h"
#include "net/transfer_rules.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

constexpr wchar_t kPartialSuffix[] = L".FilePart";
constexpr wchar_t kValidatorSuffix[] = L".FileValidator";
constexpr wchar_t kHttpsScheme[] = L"https://";
// Under Wine every read call is a round trip to the wine server: large reads are what
// lets the engine keep pace with the network (on Windows they cost nothing either).
constexpr DWORD kTransferBufferBytes = 256 * 1024;
constexpr DWORD kLargeReadBytes = 64 * 1024;
constexpr DWORD kWinInetBufferBytes = 8192;
constexpr int32_t kFullBuffersBeforeLargeReads = 4;
// After a stop, how long a transfer may take to end by itself before it is left to.
constexpr DWORD kStopGraceMs = 200;
constexpr DWORD kShortestCheckMs = 50;
constexpr DWORD kLongestCheckMs = 1000;

void Observe(const TransferControl& control, uint32_t received, uint32_t total) {
  if (control.observer) control.observer(control.observerContext, received, total);
}

// What the log line of a call tells beyond its outcome: the Range asked (the bytes held
// when the request went out) and the bytes held at the end. Fed by the engine's own
// progress reports, which it passes on to the caller's observer.
struct LogWatch {
  const TransferControl* caller;
  bool asked = false;
  uint32_t rangeFrom = 0;
  uint32_t received = 0;
  uint32_t total = 0;
};

void WatchForLog(void* context, uint32_t received, uint32_t total) {
  auto* watch = static_cast<LogWatch*>(context);
  if (!watch->asked) {
    watch->asked = true;
    watch->rangeFrom = received;
  }
  watch->received = received;
  watch->total = total;
  Observe(*watch->caller, received, total);
}

const wchar_t* EndText(TransferEnd end) {
  switch (end) {
    case TransferEnd::kComplete:
      return L"done";
    case TransferEnd::kNoAnswer:
      return L"failed, no answer";
    case TransferEnd::kStatusRefused:
      return L"failed, the answer cannot be used (status or no length)";
    case TransferEnd::kCannotContinue:
      return L"failed, the partial file cannot be continued; deleted";
    case TransferEnd::kContradictory:
      return L"failed, the answer's range or length contradicts itself; the partial file deleted";
    case TransferEnd::kTooLarge:
      return L"failed, the file is 4 GiB or larger";
    case TransferEnd::kReadFailed:
      return L"failed, a read failed";
    case TransferEnd::kTooSlow:
      return L"failed, too slow (below the low-speed limit)";
    case TransferEnd::kEndedEarly:
      return L"failed, the body ended early";
    case TransferEnd::kStopped:
      return L"failed, stopped";
    default:
      return L"failed on this side (URL, session, memory or the partial file)";
  }
}

bool StartsWithHttps(const wchar_t* url) {
  for (int i = 0; kHttpsScheme[i] != L'\0'; ++i) {
    if (url[i] != kHttpsScheme[i]) return false;
  }
  return true;
}

// A header of the answer as text into output (units long); false when absent, empty or
// longer (output is then empty).
bool QueryText(HINTERNET request, DWORD header, wchar_t* output, int32_t units) {
  DWORD bytes = DWORD(units * sizeof(wchar_t));
  ZeroMemory(output, bytes);
  if (!HttpQueryInfoW(request, header, output, &bytes, nullptr)) {
    output[0] = L'\0';
    return false;
  }
  output[units - 1] = L'\0';
  return output[0] != L'\0';
}

// The ETag and Last-Modified of an answer (each empty when absent or too long).
struct AnswerValidators {
  wchar_t etag[kValidatorUnits] = {};
  wchar_t lastModified[kValidatorUnits] = {};
};

void QueryValidators(HINTERNET request, AnswerValidators* validators) {
  QueryText(request, HTTP_QUERY_ETAG, validators->etag, kValidatorUnits);
  QueryText(request, HTTP_QUERY_LAST_MODIFIED, validators->lastModified, kValidatorUnits);
}

// Content-Length as a 64-bit number: read as a 32-bit one, a length of 4 GiB or more
// would wrap to a small size that a short file could then complete.
bool QueryLength(HINTERNET request, uint64_t* length) {
  wchar_t text[32];
  return QueryText(request, HTTP_QUERY_CONTENT_LENGTH, text, 32) && ParseLength(text, length);
}

bool QueryStatus(HINTERNET request, uint32_t* value) {
  DWORD number = 0;
  DWORD bytes = sizeof(number);
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number, &bytes,
                      nullptr)) {
    return false;
  }
  *value = number;
  return true;
}

// Sends the request, with Range (and If-Range with validator when not null) when a
// partial file exists. The header text is released before the answer is read.
bool SendRequest(HINTERNET request, uint32_t partialSize, const wchar_t* validator) {
  HeapString headers = NewString(kRequestHeaderUnits);
  if (!headers) return false;
  FormatResumeHeaders(partialSize, validator, headers.get());
  const DWORD length = DWORD(TextLength(headers.get()));
  return HttpSendRequestW(request, length ? headers.get() : nullptr, length, nullptr, 0) != FALSE;
}

// Moves the complete partial file onto the destination. Its outcome is the download's:
// a move that fails leaves the destination without the file (and the complete partial
// file in place, so the next call finishes through a 416 without a body).
bool CompletePartial(const wchar_t* partialPath, const wchar_t* destination,
                     const wchar_t* validatorPath) {
  if (!MoveFileExW(partialPath, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    return false;
  }
  DropValidator(validatorPath);
  return true;
}

void DiscardPartial(const wchar_t* partialPath, const wchar_t* validatorPath) {
  DeleteFileW(partialPath);
  DropValidator(validatorPath);
}

// Opens the partial file without sharing, positioned where the plan writes.
UniqueFile OpenPartialForWriting(const wchar_t* path, const BodyPlan& plan) {
  if (plan.target == BodyTarget::kNewPartial) {
    return UniqueFile(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  UniqueFile file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return file;
  // The high part is passed (as 0) so that a start of 2 GiB or more is not taken as a
  // negative distance.
  LONG high = 0;
  SetLastError(NO_ERROR);
  if (SetFilePointer(file.get(), LONG(plan.position), &high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    return UniqueFile();
  }
  return file;
}

// Why the watching thread cut the transfer short.
enum class Cut : int { kNone, kStopped, kTooSlow };

// One transfer, made on a thread of its own while the caller's thread watches it for the
// stop event and the low-speed limit. Under Wine a WinINet call blocked on a silent
// server returns only when data or its receive timeout comes, whatever other threads
// do to its handle: a stop must not wait for that. The transfer holds lock except while
// it waits on the network; the watcher cuts under lock, so once a cut is made nothing of
// the caller's (its observer, its sink, the partial file's fate) is touched again, and a
// transfer that still waits may be left to end by itself. Freed by the last of the two
// threads to let go.
struct SharedTransfer {
  CriticalSection lock;
  LONG references = 2;
  Cut cut = Cut::kNone;         // guarded by lock
  HINTERNET request = nullptr;  // guarded by lock; closed by whoever cuts
  std::atomic<uint32_t> arrived{0};
  HeapString url;
  HeapString destination;
  TransferControl control;
  TransferOutcome outcome;
};

void Release(SharedTransfer* shared) {
  if (InterlockedDecrement(&shared->references) != 0) return;
  shared->~SharedTransfer();
  LocalFree(shared);
}

// Cuts the transfer (the first cut counts) and closes its request, so that a read
// which data still reaches ends at once.
void CutTransfer(SharedTransfer& shared, Cut cut) {
  const LockGuard hold(shared.lock);
  if (shared.cut == Cut::kNone) {
    shared.cut = cut;
    if (shared.request) InternetCloseHandle(shared.request);
    shared.request = nullptr;
  }
}

// Runs a call that may wait on the network without the lock. False when the transfer
// was cut meanwhile: the call's result then means nothing.
template <typename Call>
bool Unlocked(SharedTransfer& shared, Call call) {
  shared.lock.Leave();
  call();
  shared.lock.Enter();
  return shared.cut == Cut::kNone;
}

TransferEnd CutEnd(const SharedTransfer& shared) {
  return shared.cut == Cut::kTooSlow ? TransferEnd::kTooSlow : TransferEnd::kStopped;
}

// The size of the next read: what has arrived, so that a server that drips returns
// control at every piece instead of once a buffer is full. Under Wine what is available
// is at most WinINet's own 8 KiB buffer, and reads that small cost a round trip each:
// once that buffer has come full several times in a row (streaming), the data outruns
// the reads and a large read will not wait long for what it asks.
DWORD ReadSize(DWORD available, uint32_t left, bool streaming) {
  const DWORD wanted = streaming ? std::max(available, kLargeReadBytes) : available;
  return std::min<DWORD>({wanted, kTransferBufferBytes, left});
}

// Copies the body into file from position up to expectedSize. Ends at the first failed
// read (its bytes may be lost while the connection goes on: the next try resumes by
// Range instead), an early end, a short write or a cut; every byte written stays in the
// file.
TransferEnd CopyBody(SharedTransfer& shared, HINTERNET request, HANDLE file, uint32_t position,
                     uint32_t expectedSize, DWORD* error) {
  const TransferControl& control = shared.control;
  Observe(control, position, expectedSize);
  if (position >= expectedSize) return TransferEnd::kComplete;
  LocalBlock buffer(LocalAlloc(LMEM_FIXED, kTransferBufferBytes));
  if (!buffer) return TransferEnd::kLocalFailure;
  uint32_t arrived = 0;
  // While large reads come back full the data outruns them: the next one need not ask
  // what has arrived first (under Wine that question costs a round trip of its own).
  bool flowing = false;
  int32_t fullBuffers = 0;
  while (position < expectedSize) {
    DWORD available = kLargeReadBytes;
    BOOL ok = TRUE;
    if (!flowing &&
        !Unlocked(shared, [&] { ok = InternetQueryDataAvailable(request, &available, 0, 0); })) {
      return CutEnd(shared);
    }
    if (!ok) {
      *error = GetLastError();
      return TransferEnd::kReadFailed;
    }
    if (available == 0) return TransferEnd::kEndedEarly;
    fullBuffers = available >= kWinInetBufferBytes ? fullBuffers + 1 : 0;
    const DWORD wanted =
        ReadSize(available, expectedSize - position, fullBuffers > kFullBuffersBeforeLargeReads);
    DWORD received = 0;
    if (!Unlocked(shared, [&] { ok = InternetReadFile(request, buffer.get(), wanted, &received); })) {
      return CutEnd(shared);
    }
    if (!ok) {
      *error = GetLastError();
      return TransferEnd::kReadFailed;
    }
    if (received == 0) return TransferEnd::kEndedEarly;
    flowing = wanted >= kLargeReadBytes && received == wanted;
    DWORD written = 0;
    if (!WriteFile(file, buffer.get(), received, &written, nullptr) || written != received) {
      return TransferEnd::kLocalFailure;
    }
    if (control.sink) control.sink(control.sinkContext, position, buffer.get(), written);
    position += written;
    arrived += written;
    shared.arrived.store(arrived, std::memory_order_relaxed);
    Observe(control, position, expectedSize);
  }
  return TransferEnd::kComplete;
}

// The request's timeouts. Set on the request itself: Wine's WinINet does not pass a
// session's send and receive timeouts on to the requests it opens.
void ApplyTimeouts(HINTERNET request, const TransferControl& control) {
  const struct {
    DWORD option;
    DWORD ms;
  } timeouts[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, control.connectTimeoutMs},
                  {INTERNET_OPTION_SEND_TIMEOUT, control.sendTimeoutMs},
                  {INTERNET_OPTION_RECEIVE_TIMEOUT, control.receiveTimeoutMs}};
  for (const auto& timeout : timeouts) {
    if (timeout.ms == 0) continue;
    DWORD ms = timeout.ms;
    InternetSetOptionW(request, timeout.option, &ms, sizeof(ms));
  }
}

TransferOutcome Ended(TransferEnd end, uint32_t status = 0, DWORD error = 0) {
  TransferOutcome outcome;
  outcome.end = end;
  outcome.status = status;
  outcome.error = error;
  return outcome;
}

// The request's exchange on a watched request: sends it (with Range and If-Range for a
// partial file), judges the answer, and writes the body.
TransferOutcome Transfer(SharedTransfer& shared, HINTERNET request, const wchar_t* partialPath,
                         const wchar_t* validatorPath) {
  const TransferControl& control = shared.control;
  const wchar_t* destination = shared.destination.get();
  const uint32_t partialSize = PartialFileSize(partialPath);
  const bool resuming = partialSize != 0;
  wchar_t sent[kValidatorUnits] = {};
  const bool hasValidator = resuming && LoadValidator(validatorPath, sent);
  // The bar shows what is held while the server is asked; the size follows its answer.
  Observe(control, partialSize, 0);
  bool sentOk = false;
  DWORD error = 0;
  if (!Unlocked(shared, [&] {
        sentOk = SendRequest(request, partialSize, hasValidator ? sent : nullptr);
        if (!sentOk) error = GetLastError();
      })) {
    return Ended(CutEnd(shared));
  }
  if (!sentOk) return Ended(TransferEnd::kNoAnswer, 0, error);
  uint32_t status = 0;
  if (!QueryStatus(request, &status)) return Ended(TransferEnd::kNoAnswer, 0, GetLastError());
  // A connection closed before any status line reads as status 0 under Wine: no
  // answer at all, not one that refuses.
  if (status == 0) return Ended(TransferEnd::kNoAnswer, 0, ERROR_HTTP_INVALID_SERVER_RESPONSE);
  AnswerHeaders answer;
  answer.status = status;
  if (!IsStatusAccepted(resuming, status) || !QueryLength(request, &answer.contentLength)) {
    return Ended(TransferEnd::kStatusRefused, status);
  }
  wchar_t contentRange[kContentRangeUnits] = {};
  if (resuming && QueryContentRange(request, contentRange)) answer.contentRange = contentRange;
  AnswerValidators validators;
  QueryValidators(request, &validators);
  answer.validatorChanged =
      hasValidator && ValidatorDiffers(sent, validators.etag, validators.lastModified);
  const BodyPlan plan = PlanBody(resuming, answer, partialSize);
  switch (plan.target) {
    case BodyTarget::kAlreadyComplete:
      Observe(control, partialSize, partialSize);
      return CompletePartial(partialPath, destination, validatorPath)
                 ? Ended(TransferEnd::kComplete, status)
                 : Ended(TransferEnd::kLocalFailure, status);
    case BodyTarget::kDiscardPartial:
      DiscardPartial(partialPath, validatorPath);
      return Ended(TransferEnd::kCannotContinue, status);
    case BodyTarget::kContradictory:
      DiscardPartial(partialPath, validatorPath);
      return Ended(TransferEnd::kContradictory, status);
    case BodyTarget::kTooLarge:
      return Ended(TransferEnd::kTooLarge, status);
    default:
      break;
  }

  UniqueFile file = OpenPartialForWriting(partialPath, plan);
  if (!file) return Ended(TransferEnd::kLocalFailure, status);
  if (plan.target == BodyTarget::kNewPartial) {
    // The partial file now starts from this answer, so its validator does too; without
    // one the old validator must not outlive the bytes it described.
    wchar_t validator[kValidatorUnits] = {};
    if (ChooseValidator(validators.etag, validators.lastModified, validator)) {
      StoreValidator(validatorPath, validator);
    } else {
      DropValidator(validatorPath);
    }
  }
  const TransferEnd copied =
      CopyBody(shared, request, file.get(), plan.position, plan.expectedSize, &error);
  if (copied != TransferEnd::kComplete) return Ended(copied, status, error);
  // Only a file of the promised size is the file: anything else would pass a cut-off or
  // padded installer for a complete one.
  const DWORD size = GetFileSize(file.get(), nullptr);
  file.reset();
  if (size != plan.expectedSize) {
    DiscardPartial(partialPath, validatorPath);
    return Ended(TransferEnd::kCannotContinue, status);
  }
  return CompletePartial(partialPath, destination, validatorPath)
             ? Ended(TransferEnd::kComplete, status)
             : Ended(TransferEnd::kLocalFailure, status);
}

// The download (see DownloadFile) and how it ended, on the transfer's thread, which holds
// the lock.
TransferOutcome Download(SharedTransfer& shared) {
  const wchar_t* url = shared.url.get();
  const wchar_t* destination = shared.destination.get();
  if (!url || !destination) return Ended(TransferEnd::kLocalFailure);
  HeapString partialPath = ConcatString(destination, kPartialSuffix);
  HeapString validatorPath = ConcatString(destination, kValidatorSuffix);
  if (!partialPath || !validatorPath) return Ended(TransferEnd::kLocalFailure);
  UrlParts parts;
  if (!CrackDownloadUrl(url, parts)) return Ended(TransferEnd::kLocalFailure);
  DWORD flags = 0;
  if (!RequestFlagsForScheme(parts.components.nScheme, &flags)) {
    return Ended(TransferEnd::kLocalFailure);
  }
  LogProxySettings();

  // Declared in this order so that they close request first, session last.
  UniqueInternet session = OpenInternetSession();
  if (!session) return Ended(TransferEnd::kLocalFailure);
  UniqueInternet connection(InternetConnectW(session.get(), parts.host.get(),
                                             parts.components.nPort, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return Ended(TransferEnd::kLocalFailure);
  UniqueInternet request(HttpOpenRequestW(connection.get(), L"GET", parts.path.get(), nullptr,
                                          nullptr, nullptr, flags, 0));
  if (!request) return Ended(TransferEnd::kLocalFailure);
  ApplyProxyCredentials(request.get());
  ApplyTimeouts(request.get(), shared.control);
  shared.request = request.get();
  const TransferOutcome outcome =
      Transfer(shared, request.get(), partialPath.get(), validatorPath.get());
  // A cut closed the request already.
  if (shared.cut != Cut::kNone) request.release();
  shared.request = nullptr;
  return outcome;
}

DWORD WINAPI RunTransfer(void* context) {
  auto* shared = static_cast<SharedTransfer*>(context);
  {
    const LockGuard hold(shared->lock);
    // A stop that came before this thread had the lock found no request to close: nothing
    // may be opened or sent after it, and the caller (its observer too) may be gone.
    shared->outcome = shared->cut != Cut::kNone ? Ended(CutEnd(*shared)) : Download(*shared);
  }
  Release(shared);
  return 0;
}

// Starts the transfer on its own thread and watches it until it ends: a stop cuts it
// and returns within kStopGraceMs; fewer than the low-speed limit's bytes in one of its
// windows cut it as too slow (the transfer then ends at its next byte or receive
// timeout, so that no thread keeps the partial file open when the caller tries again).
TransferOutcome WatchedDownload(const wchar_t* url, const wchar_t* destination,
                                const TransferControl& control) {
  // A stop already set ends the call before anything reaches the server.
  if (StopRequested(control.stopEvent)) return Ended(TransferEnd::kStopped);
  void* block = LocalAlloc(LMEM_FIXED, sizeof(SharedTransfer));
  if (!block) return Ended(TransferEnd::kLocalFailure);
  auto* shared = new (block) SharedTransfer();
  shared->url = DuplicateString(url);
  shared->destination = DuplicateString(destination);
  shared->control = control;
  UniqueHandle thread(CreateThread(nullptr, 0, RunTransfer, shared, 0, nullptr));
  if (!thread) {
    Release(shared);
    Release(shared);
    return Ended(TransferEnd::kLocalFailure);
  }
  const HANDLE events[] = {thread.get(), control.stopEvent};
  const DWORD count = control.stopEvent ? 2 : 1;
  const DWORD window = control.lowSpeedWindowMs;
  DWORD period = window ? std::clamp<DWORD>(window / 4, kShortestCheckMs, kLongestCheckMs)
                        : INFINITE;
  DWORD windowStart = GetTickCount();
  uint32_t windowBytes = 0;
  bool left = false;
  for (;;) {
    const DWORD woke = WaitForMultipleObjects(count, events, FALSE, period);
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_OBJECT_0 + 1) {
      // Set again for an event that resets itself: the worker must see the stop too.
      SetEvent(control.stopEvent);
      CutTransfer(*shared, Cut::kStopped);
      left = WaitForSingleObject(thread.get(), kStopGraceMs) != WAIT_OBJECT_0;
      break;
    }
    if (woke != WAIT_TIMEOUT) {
      WaitForSingleObject(thread.get(), INFINITE);
      break;
    }
    const DWORD now = GetTickCount();
    if (now - windowStart < window) continue;
    const uint32_t arrived = shared->arrived.load(std::memory_order_relaxed);
    if (arrived - windowBytes < control.lowSpeedBytes) {
      CutTransfer(*shared, Cut::kTooSlow);
      period = INFINITE;
    }
    windowStart = now;
    windowBytes = arrived;
  }
  const TransferOutcome outcome = left ? Ended(TransferEnd::kStopped) : shared->outcome;
  Release(shared);
  return outcome;
}

}  // namespace

bool CrackDownloadUrl(const wchar_t* url, UrlParts& parts) {
  parts.components = URL_COMPONENTSW{};
  parts.host = NewString(kUrlPartUnits);
  parts.path = NewString(kUrlPartUnits);
  if (!url || !parts.host || !parts.path) return false;
  parts.components.dwStructSize = sizeof(URL_COMPONENTSW);
  parts.components.lpszHostName = parts.host.get();
  parts.components.dwHostNameLength = kUrlPartUnits;
  parts.components.lpszUrlPath = parts.path.get();
  parts.components.dwUrlPathLength = kUrlPartUnits;
  HeapString plain;
  if (IsHttpForced() && StartsWithHttps(url)) {
    plain = ConcatString(L"http://", url + 8);
    if (!plain) return false;
  }
  return InternetCrackUrlW(plain ? plain.get() : url, 0, 0, &parts.components) == TRUE;
}

uint32_t PartialFileSize(const wchar_t* path) {
  UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  return uint32_t(GetFileSize(file.get(), nullptr));
}

bool QueryContentRange(HINTERNET request, wchar_t* text) {
  // A longer value fails the query and counts as absent.
  return QueryText(request, HTTP_QUERY_CONTENT_RANGE, text, kContentRangeUnits);
}

bool DownloadFile(const wchar_t* url, const wchar_t* destination, const TransferControl& control) {
  const DWORD start = GetTickCount();
  LogWatch watch{&control};
  TransferControl watched = control;
  watched.observer = WatchForLog;
  watched.observerContext = &watch;
  const TransferOutcome outcome = WatchedDownload(url, destination, watched);
  wchar_t range[24] = L"none";
  if (watch.rangeFrom) wnsprintfW(range, 24, L"bytes=%u-", watch.rangeFrom);
  wchar_t error[24] = L"";
  if (outcome.error) wnsprintfW(error, 24, L" (error %u)", outcome.error);
  LogEvent(L"download %s: Range %s, status %u, %u of %u bytes in %u ms: %s%s",
           url ? url : L"(none)", range, outcome.status, watch.received, watch.total,
           GetTickCount() - start, EndText(outcome.end), error);
  if (control.outcome) *control.outcome = outcome;
  return outcome.end == TransferEnd::kComplete;
}
