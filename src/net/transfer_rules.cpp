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

// Reads at least one digit into *value; null on no digit or a value beyond 64 bits,
// else the text after the digits.
const wchar_t* ReadNumber(const wchar_t* text, uint64_t* value) {
  if (*text < L'0' || *text > L'9') return nullptr;
  uint64_t number = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    const uint64_t digit = uint64_t(*text - L'0');
    if (number > (UINT64_MAX - digit) / 10) return nullptr;
    number = number * 10 + digit;
  }
  *value = number;
  return text;
}

BodyPlan Plan(BodyTarget target, uint32_t position = 0, uint32_t expectedSize = 0) {
  return {target, position, expectedSize};
}

BodyPlan WholeFile(uint64_t size) {
  if (size > kLargestFile) return Plan(BodyTarget::kTooLarge);
  return Plan(BodyTarget::kNewPartial, 0, uint32_t(size));
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

bool ParseContentRange(const wchar_t* text, ContentRange* range) {
  const wchar_t* at = RangeBody(text);
  if (!at) return false;
  ContentRange read;
  if (*at == L'*') {
    read.unsatisfied = true;
    ++at;
  } else {
    at = ReadNumber(at, &read.first);
    if (!at || *at++ != L'-') return false;
    at = ReadNumber(at, &read.last);
    if (!at) return false;
  }
  if (*at++ != L'/') return false;
  at = ReadNumber(at, &read.total);
  if (!at || *at != L'\0') return false;
  *range = read;
  return true;
}

bool ParseLength(const wchar_t* text, uint64_t* value) {
  if (!text) return false;
  const wchar_t* end = ReadNumber(text, value);
  return end && *end == L'\0';
}

BodyPlan PlanBody(bool resuming, const AnswerHeaders& answer, uint32_t partialSize) {
  // Whatever a 200 carries besides (a Content-Range included), its body is the file
  // from its first byte; written as a continuation it would make a spliced file.
  if (!resuming || answer.status == HTTP_STATUS_OK) return WholeFile(answer.contentLength);
  ContentRange range;
  const bool readable = ParseContentRange(answer.contentRange, &range);
  if (answer.status == 416) {
    if (readable && range.unsatisfied && range.total == partialSize && !answer.validatorChanged) {
      return Plan(BodyTarget::kAlreadyComplete, partialSize, partialSize);
    }
    return Plan(BodyTarget::kDiscardPartial);
  }
  // A 206 without Content-Range carries only the rest of the file; written from 0 as
  // if it were the whole file it would make a truncated installer that looks done.
  if (!answer.contentRange) return Plan(BodyTarget::kDiscardPartial);
  // A range that cannot be read, or that its own numbers or the length contradict, says
  // nothing about where its bytes belong: taken at any guess it splices the file.
  if (!readable || range.unsatisfied || range.first > range.last || range.last >= range.total ||
      answer.contentLength != range.last - range.first + 1) {
    return Plan(BodyTarget::kContradictory);
  }
  if (range.total > kLargestFile) return Plan(BodyTarget::kTooLarge);
  // Another file behind the same name, or a range that leaves a gap or describes a file
  // shorter than what is held: no continuation of the partial file.
  if (answer.validatorChanged || range.first > partialSize || range.total < partialSize) {
    return Plan(BodyTarget::kDiscardPartial);
  }
  const auto total = uint32_t(range.total);
  // From 0 the answer is the whole file again: rewritten, and cut to its length.
  if (range.first == 0) return Plan(BodyTarget::kNewPartial, 0, total);
  return Plan(BodyTarget::kExistingPartial, uint32_t(range.first), total);
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
