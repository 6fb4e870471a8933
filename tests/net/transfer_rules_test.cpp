#include <gtest/gtest.h>

#include <string>

#include "net/resume_validator.h"
#include "net/transfer_rules.h"
#include "support/test_support.h"

namespace {

TEST(TransferRules, ContentRangeParsing) {
  struct Row { const wchar_t* text; uint32_t start; uint32_t total; };
  const Row rows[] = {
      {L"bytes 100-199/5000", 100, 5000},
      {L"   bytes 0-0/1", 0, 1},
      {L"bytes */5000", 0, 5000},
      {L"bytes 100-199/*", 100, 0},
      {L"bytes 12-", 12, 0},
      {L"bytes  5-6/7", 0, 7},  // a second space: no digits where the start should be
      {L"bytes 4294967296-4294967297/4294967301", 0, 5},  // wraps at 32 bits
      {L"bytes 3000000000-3000000001/3000000002", 3000000000u, 3000000002u},
      {L"Bytes 1-2/3", 0, 0},
      {L"\tbytes 1-2/3", 0, 0},
      {L"bytes", 0, 0},
      {L"", 0, 0},
      {nullptr, 0, 0},
  };
  for (const Row& row : rows) {
    const std::string text = row.text ? Narrow(row.text) : "<null>";
    EXPECT_EQ(RangeStart(row.text), row.start) << text;
    EXPECT_EQ(RangeTotal(row.text), row.total) << text;
  }
}

TEST(TransferRules, ResumeHeadersAskForTheRestUnsigned) {
  wchar_t headers[kRequestHeaderUnits];
  struct Row { uint32_t partial; const wchar_t* validator; const wchar_t* expected; };
  const Row rows[] = {
      {0, nullptr, L""},
      {0, L"\"abc\"", L""},
      {1, nullptr, L"Range: bytes=1-"},
      {2147483647u, nullptr, L"Range: bytes=2147483647-"},
      {2147483648u, nullptr, L"Range: bytes=2147483648-"},
      {4294967295u, nullptr, L"Range: bytes=4294967295-"},
      {100, L"\"5f1-2a\"", L"Range: bytes=100-\r\nIf-Range: \"5f1-2a\""},
  };
  for (const Row& row : rows) {
    wmemset(headers, L'#', kRequestHeaderUnits);
    FormatResumeHeaders(row.partial, row.validator, headers);
    EXPECT_EQ(std::wstring(headers), row.expected) << row.partial;
  }
  const std::wstring huge(5000, L'v');
  FormatResumeHeaders(7, huge.c_str(), headers);
  EXPECT_EQ(std::wstring(headers).size(), size_t(kRequestHeaderUnits - 1));
}

TEST(TransferRules, ThirdFailedReadInARowEndsTheTransfer) {
  int32_t failures = 0;
  // Two failures, then data: going on, and the count starts again.
  EXPECT_EQ(NextReadStep(false, 0, &failures), ReadStep::kRetry);
  EXPECT_EQ(NextReadStep(false, 0, &failures), ReadStep::kRetry);
  EXPECT_EQ(NextReadStep(true, 10, &failures), ReadStep::kWrite);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(NextReadStep(false, 0, &failures), ReadStep::kRetry);
  EXPECT_EQ(NextReadStep(false, 0, &failures), ReadStep::kRetry);
  EXPECT_EQ(NextReadStep(false, 0, &failures), ReadStep::kGiveUp);
  failures = 1;
  EXPECT_EQ(NextReadStep(true, 0, &failures), ReadStep::kEndedEarly);
}

}  // namespace

namespace {

TEST(ResumeValidator, StrongEtagElseLastModifiedAndNothingThatCouldBreakTheHeader) {
  struct Row { const wchar_t* etag; const wchar_t* lastModified; const wchar_t* chosen; };
  const std::wstring tooLong = L"\"" + std::wstring(254, L'a') + L"\"";
  const Row rows[] = {
      {L"\"5f1-2a\"", L"Tue, 08 Dec 2026 18:02:39 GMT", L"\"5f1-2a\""},
      {L"W/\"5f1-2a\"", L"Tue, 08 Dec 2026 18:02:39 GMT", L"Tue, 08 Dec 2026 18:02:39 GMT"},
      {nullptr, L"Tue, 08 Dec 2026 18:02:39 GMT", L"Tue, 08 Dec 2026 18:02:39 GMT"},
      {L"", L"", nullptr},
      {L"\"a\"\r\nX-Injected: 1", nullptr, nullptr},
      {L"\"\x3042\"", nullptr, nullptr},
      {tooLong.c_str(), nullptr, nullptr},
  };
  wchar_t chosen[kValidatorUnits];
  for (const Row& row : rows) {
    EXPECT_EQ(ChooseValidator(row.etag, row.lastModified, chosen), row.chosen != nullptr);
    EXPECT_EQ(std::wstring(chosen), row.chosen ? row.chosen : L"");
  }
}

}  // namespace
