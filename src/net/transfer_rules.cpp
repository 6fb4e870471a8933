#include "net/transfer_rules.h"

#include <shlwapi.h>

namespace {

constexpr DWORD kBaseRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;

// Past leading spaces and "bytes "; null when the text does not read so.
const wchar_t* RangeBody(const wchar_t* text) {
  if (!text) return nullptr;
  while (*text == L' ') ++text;
  static constexpr wchar_t kUnit[] = L"bytes ";
  for (int i = 0; i < 6; ++i) {
    if (text[i] != kUnit[i]) return nullptr;
  }
  return text + 6;
}

uint32_t ReadNumber(const wchar_t* text) {
  uint32_t value = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) value = value * 10 + uint32_t(*text - L'0');
  return value;
}

}  // namespace

bool RequestFlagsForScheme(INTERNET_SCHEME scheme, DWORD* flags) {
  if (scheme == INTERNET_SCHEME_HTTP) {
    *flags = kBaseRequestFlags;
    return true;
  }
  if (scheme == INTERNET_SCHEME_HTTPS) {
    *flags = kBaseRequestFlags | INTERNET_FLAG_SECURE;
    return true;
  }
  return false;
}

bool IsStatusAccepted(bool resuming, uint32_t status) {
  if (status == HTTP_STATUS_OK) return true;
  return resuming && (status == HTTP_STATUS_PARTIAL_CONTENT || status == 416);
}

uint32_t RangeStart(const wchar_t* text) {
  const wchar_t* body = RangeBody(text);
  return body ? ReadNumber(body) : 0;
}

uint32_t RangeTotal(const wchar_t* text) {
  const wchar_t* body = RangeBody(text);
  if (!body) return 0;
  while (*body != L'\0' && *body != L'/') ++body;
  return *body == L'/' ? ReadNumber(body + 1) : 0;
}

BodyPlan PlanBody(bool resuming, uint32_t status, const wchar_t* contentRange,
                  uint32_t partialSize, uint32_t contentLength) {
  if (!resuming) return {BodyTarget::kNewPartial, 0, contentLength};
  if (status == 416) {
    if (contentRange && RangeTotal(contentRange) == partialSize) {
      return {BodyTarget::kAlreadyComplete, partialSize, partialSize};
    }
    return {BodyTarget::kDiscardPartial, 0, 0};
  }
  if (!contentRange) {
    // A 206 without Content-Range carries only the rest of the file; written from 0 as
    // if it were the whole file it would make a truncated installer that looks done.
    if (status == HTTP_STATUS_PARTIAL_CONTENT) return {BodyTarget::kDiscardPartial, 0, 0};
    return {BodyTarget::kNewPartial, 0, contentLength};
  }
  const uint32_t start = RangeStart(contentRange);
  const uint32_t total = RangeTotal(contentRange);
  // A total that is unknown ("*" and unreadable read as 0), not beyond the start, or
  // short of what the partial file already holds describes no continuation of it; taken
  // at its word it would make a cut-off file pass for complete.
  if (start > partialSize || total <= start || total < partialSize) {
    return {BodyTarget::kDiscardPartial, 0, 0};
  }
  // From 0 the answer is the whole file again: rewritten, and cut to its length.
  if (start == 0) return {BodyTarget::kNewPartial, 0, total};
  return {BodyTarget::kExistingPartial, start, total};
}

void FormatResumeHeaders(uint32_t partialSize, const wchar_t* validator, wchar_t* output) {
  output[0] = L'\0';
  if (partialSize == 0) return;
  // %u: a partial file of 2 GiB or more must not be asked for from a negative offset.
  if (validator) {
    wnsprintfW(output, kRequestHeaderUnits, L"Range: bytes=%u-\r\nIf-Range: %ls",
               unsigned(partialSize), validator);
  } else {
    wnsprintfW(output, kRequestHeaderUnits, L"Range: bytes=%u-", unsigned(partialSize));
  }
  output[kRequestHeaderUnits - 1] = L'\0';
}

ReadStep NextReadStep(bool readOk, uint32_t received, int32_t* failures) {
  if (!readOk) {
    ++*failures;
    return *failures < kMaxFailedReads ? ReadStep::kRetry : ReadStep::kGiveUp;
  }
  if (received == 0) return ReadStep::kEndedEarly;
  *failures = 0;
  return ReadStep::kWrite;
}
