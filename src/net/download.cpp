#include "net/download.h"

#include <shlwapi.h>

#include <algorithm>

#include "net/proxy_settings.h"
#include "net/resume_validator.h"
#include "net/transfer_rules.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

constexpr wchar_t kPartialSuffix[] = L".FilePart";
constexpr wchar_t kValidatorSuffix[] = L".FileValidator";
constexpr wchar_t kHttpsScheme[] = L"https://";
constexpr DWORD kTransferBufferBytes = 8192;

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
    case TransferEnd::kReadFailed:
      return L"failed, three failed reads in a row";
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

// The validator of the answer (see ChooseValidator).
bool QueryValidator(HINTERNET request, wchar_t* output) {
  HeapString etag = NewString(kValidatorUnits);
  HeapString lastModified = NewString(kValidatorUnits);
  if (!etag || !lastModified) return false;
  QueryText(request, HTTP_QUERY_ETAG, etag.get(), kValidatorUnits);
  QueryText(request, HTTP_QUERY_LAST_MODIFIED, lastModified.get(), kValidatorUnits);
  return ChooseValidator(etag.get(), lastModified.get(), output);
}

bool QueryNumber(HINTERNET request, DWORD header, uint32_t* value) {
  DWORD number = 0;
  DWORD bytes = sizeof(number);
  if (!HttpQueryInfoW(request, header | HTTP_QUERY_FLAG_NUMBER, &number, &bytes, nullptr)) {
    return false;
  }
  *value = number;
  return true;
}

// Sends the request, with Range (and If-Range when the partial file has a validator)
// when a partial file exists. The header texts are released before the answer is read.
bool SendRequest(HINTERNET request, uint32_t partialSize, const wchar_t* validatorPath) {
  HeapString headers = NewString(kRequestHeaderUnits);
  HeapString validator = NewString(kValidatorUnits);
  if (!headers || !validator) return false;
  const bool hasValidator = partialSize != 0 && LoadValidator(validatorPath, validator.get());
  FormatResumeHeaders(partialSize, hasValidator ? validator.get() : nullptr, headers.get());
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

// Copies the body into file from position up to expectedSize through one buffer. Ends
// early on a stop request, the third failed read in a row, an early end or a short
// write; every byte written stays in the file.
TransferEnd CopyBody(HINTERNET request, HANDLE file, uint32_t position, uint32_t expectedSize,
                     const TransferControl& control, DWORD* error) {
  Observe(control, position, expectedSize);
  if (position >= expectedSize) return TransferEnd::kComplete;
  LocalBlock buffer(LocalAlloc(LPTR, kTransferBufferBytes));
  if (!buffer) return TransferEnd::kLocalFailure;
  int32_t failures = 0;
  while (position < expectedSize) {
    if (StopRequested(control.stopEvent)) return TransferEnd::kStopped;
    const DWORD wanted = std::min<DWORD>(expectedSize - position, kTransferBufferBytes);
    DWORD received = 0;
    const bool readOk = InternetReadFile(request, buffer.get(), wanted, &received) != FALSE;
    if (!readOk) *error = GetLastError();
    const ReadStep step = NextReadStep(readOk, received, &failures);
    if (step == ReadStep::kRetry) continue;
    if (step == ReadStep::kGiveUp) return TransferEnd::kReadFailed;
    if (step == ReadStep::kEndedEarly) return TransferEnd::kEndedEarly;
    DWORD written = 0;
    if (!WriteFile(file, buffer.get(), received, &written, nullptr) || written != received) {
      return TransferEnd::kLocalFailure;
    }
    if (control.sink) control.sink(control.sinkContext, position, buffer.get(), written);
    position += written;
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

// The download (see DownloadFile) and how it ended.
TransferOutcome Download(const wchar_t* url, const wchar_t* destination,
                         const TransferControl& control) {
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
  ApplyTimeouts(request.get(), control);

  const uint32_t partialSize = PartialFileSize(partialPath.get());
  const bool resuming = partialSize != 0;
  // The bar shows what is held while the server is asked; the size follows its answer.
  Observe(control, partialSize, 0);
  if (!SendRequest(request.get(), partialSize, validatorPath.get())) {
    return Ended(TransferEnd::kNoAnswer, 0, GetLastError());
  }
  uint32_t status = 0;
  uint32_t contentLength = 0;
  if (!QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE, &status)) {
    return Ended(TransferEnd::kNoAnswer, 0, GetLastError());
  }
  if (!IsStatusAccepted(resuming, status) ||
      !QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH, &contentLength)) {
    return Ended(TransferEnd::kStatusRefused, status);
  }
  wchar_t contentRange[kContentRangeUnits] = {};
  const bool hasRange = resuming && QueryContentRange(request.get(), contentRange);
  const BodyPlan plan =
      PlanBody(resuming, status, hasRange ? contentRange : nullptr, partialSize, contentLength);
  if (plan.target == BodyTarget::kAlreadyComplete) {
    Observe(control, partialSize, partialSize);
    return CompletePartial(partialPath.get(), destination, validatorPath.get())
               ? Ended(TransferEnd::kComplete, status)
               : Ended(TransferEnd::kLocalFailure, status);
  }
  if (plan.target == BodyTarget::kDiscardPartial) {
    DiscardPartial(partialPath.get(), validatorPath.get());
    return Ended(TransferEnd::kCannotContinue, status);
  }

  UniqueFile file = OpenPartialForWriting(partialPath.get(), plan);
  if (!file) return Ended(TransferEnd::kLocalFailure, status);
  if (plan.target == BodyTarget::kNewPartial) {
    // The partial file now starts from this answer, so its validator does too; without
    // one the old validator must not outlive the bytes it described.
    wchar_t validator[kValidatorUnits] = {};
    if (QueryValidator(request.get(), validator)) {
      StoreValidator(validatorPath.get(), validator);
    } else {
      DropValidator(validatorPath.get());
    }
  }
  DWORD error = 0;
  const TransferEnd copied =
      CopyBody(request.get(), file.get(), plan.position, plan.expectedSize, control, &error);
  if (copied != TransferEnd::kComplete) return Ended(copied, status, error);
  // Only a file of the promised size is the file: anything else would pass a cut-off or
  // padded installer for a complete one.
  const DWORD size = GetFileSize(file.get(), nullptr);
  file.reset();
  if (size != plan.expectedSize) {
    DiscardPartial(partialPath.get(), validatorPath.get());
    return Ended(TransferEnd::kCannotContinue, status);
  }
  return CompletePartial(partialPath.get(), destination, validatorPath.get())
             ? Ended(TransferEnd::kComplete, status)
             : Ended(TransferEnd::kLocalFailure, status);
}

}  // namespace

bool StopRequested(HANDLE event) {
  if (!event || WaitForSingleObject(event, 0) != WAIT_OBJECT_0) return false;
  // Should the event reset itself when a wait sees it, setting it again lets the
  // worker's request loop see the stop as well and end by itself rather than by force.
  SetEvent(event);
  return true;
}

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
  // 128 bytes: a longer value fails the query and counts as absent.
  return QueryText(request, HTTP_QUERY_CONTENT_RANGE, text, kContentRangeUnits);
}

bool DownloadFile(const wchar_t* url, const wchar_t* destination, const TransferControl& control) {
  const DWORD start = GetTickCount();
  LogWatch watch{&control};
  TransferControl watched = control;
  watched.observer = WatchForLog;
  watched.observerContext = &watch;
  const TransferOutcome outcome = Download(url, destination, watched);
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
