#include <gtest/gtest.h>

#include <string>

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

TEST(TransferRules, AcceptedStatusesDependOnTheMode) {
  struct Row { uint32_t status; bool fresh; bool resume; };
  const Row rows[] = {{200, true, true},   {206, false, true},  {416, false, true},
                      {301, false, false}, {302, false, false}, {304, false, false},
                      {404, false, false}, {407, false, false}, {500, false, false}};
  for (const Row& row : rows) {
    EXPECT_EQ(IsStatusAccepted(false, row.status), row.fresh) << row.status;
    EXPECT_EQ(IsStatusAccepted(true, row.status), row.resume) << row.status;
  }
}

TEST(TransferRules, RequestFlagsBypassTheCacheAndNeverFollowRedirects) {
  const DWORD base = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                     INTERNET_FLAG_NO_AUTO_REDIRECT;
  DWORD flags = 0;
  ASSERT_TRUE(RequestFlagsForScheme(INTERNET_SCHEME_HTTP, &flags));
  EXPECT_EQ(flags, base);
  ASSERT_TRUE(RequestFlagsForScheme(INTERNET_SCHEME_HTTPS, &flags));
  EXPECT_EQ(flags, base | INTERNET_FLAG_SECURE);
  EXPECT_FALSE(RequestFlagsForScheme(INTERNET_SCHEME_FTP, &flags));
  EXPECT_FALSE(RequestFlagsForScheme(INTERNET_SCHEME_FILE, &flags));
  EXPECT_FALSE(RequestFlagsForScheme(INTERNET_SCHEME_UNKNOWN, &flags));
}

TEST(TransferRules, ResumeDecisionTable) {
  using T = BodyTarget;
  struct Row {
    bool resuming;
    uint32_t status;
    const wchar_t* contentRange;
    uint32_t partial;
    uint32_t length;
    BodyPlan plan;
  };
  const Row rows[] = {
      {false, 200, nullptr, 0, 5000, {T::kNewPartial, 0, 5000}},
      {false, 200, nullptr, 0, 0, {T::kNewPartial, 0, 0}},
      {true, 416, L"bytes */5000", 5000, 0, {T::kAlreadyComplete, 5000, 5000}},
      {true, 416, L"bytes */5000", 6000, 0, {T::kDiscardPartial, 0, 0}},
      {true, 416, nullptr, 5000, 0, {T::kDiscardPartial, 0, 0}},
      {true, 206, L"bytes 3001-4999/5000", 3000, 1999, {T::kDiscardPartial, 0, 0}},
      {true, 200, L"bytes 3001-4999/5000", 3000, 1999, {T::kDiscardPartial, 0, 0}},
      {true, 206, L"bytes 3000-4999/5000", 3000, 2000, {T::kExistingPartial, 3000, 5000}},
      {true, 206, L"bytes 2950-4999/5000", 3000, 2050, {T::kExistingPartial, 2950, 5000}},
      {true, 200, L"bytes 0-4999/5000", 3000, 5000, {T::kExistingPartial, 0, 5000}},
      {true, 200, nullptr, 3000, 5000, {T::kNewPartial, 0, 5000}},
      // Only the rest of the file: written from 0 it would pass for the whole file.
      {true, 206, nullptr, 3000, 2000, {T::kDiscardPartial, 0, 0}},
      {true, 206, L"bytes 3000-3999999999/4000000000", 3000, 1, {T::kExistingPartial, 3000, 4000000000u}},
  };
  for (const Row& row : rows) {
    const BodyPlan plan = PlanBody(row.resuming, row.status, row.contentRange, row.partial, row.length);
    const std::string name = std::to_string(row.status) + " " +
                             (row.contentRange ? Narrow(row.contentRange) : "no range") +
                             " partial " + std::to_string(row.partial);
    EXPECT_EQ(plan.target, row.plan.target) << name;
    if (plan.target == T::kNewPartial || plan.target == T::kExistingPartial) {
      EXPECT_EQ(plan.position, row.plan.position) << name;
      EXPECT_EQ(plan.expectedSize, row.plan.expectedSize) << name;
    }
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
