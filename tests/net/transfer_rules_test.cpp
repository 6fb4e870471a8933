#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "net/resume_validator.h"
#include "net/transfer_rules.h"
#include "support/test_support.h"

namespace {

TEST(TransferRules, ContentRangeAndLengthAreReadStrictlyAs64BitNumbers) {
  struct Row {
    const wchar_t* text;
    bool read;
    bool unsatisfied = false;
    uint64_t first = 0, last = 0, total = 0;
  };
  const Row rows[] = {
      {L"bytes 100-199/5000", true, false, 100, 199, 5000},
      {L"   bytes 0-0/1", true, false, 0, 0, 1},
      {L"bytes */5000", true, true, 0, 0, 5000},
      {L"bytes 4294967296-4294967297/4294967301", true, false, 4294967296u, 4294967297u, 4294967301u},
      {L"bytes 0-1/18446744073709551615", true, false, 0, 1, UINT64_MAX},
      {L"bytes 0-1/18446744073709551616", false},  // beyond 64 bits
      {L"bytes 100-199/*", false},
      {L"bytes x-49999/50000", false},
      {L"bytes -49999/50000", false},
      {L"bytes 12-", false},
      {L"bytes  5-6/7", false},
      {L"bytes 1-2/3 ", false},
      {L"bytes 1-2/3x", false},
      {L"bytes */", false},
      {L"Bytes 1-2/3", false},
      {L"\tbytes 1-2/3", false},
      {L"", false},
      {nullptr, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text ? Narrow(row.text) : "<null>");
    ContentRange range;
    range.first = 77;
    ASSERT_EQ(ParseContentRange(row.text, &range), row.read);
    if (!row.read) {
      EXPECT_EQ(range.first, 77u) << "nothing is taken from an unreadable range";
      continue;
    }
    EXPECT_EQ(range.unsatisfied, row.unsatisfied);
    EXPECT_EQ(range.first, row.first);
    EXPECT_EQ(range.last, row.last);
    EXPECT_EQ(range.total, row.total);
  }
  struct LengthRow { const wchar_t* text; bool read; uint64_t value; };
  const LengthRow lengths[] = {
      {L"0", true, 0}, {L"4294967296", true, 4294967296u}, {L"18446744073709551616", false, 0},
      {L"12a", false, 0}, {L"-1", false, 0}, {L"", false, 0}, {nullptr, false, 0},
  };
  for (const LengthRow& row : lengths) {
    uint64_t value = 0;
    EXPECT_EQ(ParseLength(row.text, &value), row.read) << (row.text ? Narrow(row.text) : "<null>");
    if (row.read) {
      EXPECT_EQ(value, row.value);
    }
  }
}

// Where the body of each answer goes, for a partial file of 20000 bytes when resuming.
TEST(TransferRules, EveryAnswerIsPlannedWithoutSplicing) {
  using T = BodyTarget;
  struct Row {
    const char* name;
    bool resuming;
    uint32_t status;
    const wchar_t* range;
    uint64_t length;
    bool validatorChanged;
    T target;
    uint32_t position;
    uint32_t expected;
  };
  const Row rows[] = {
      {"fresh 200", false, 200, nullptr, 50000, false, T::kNewPartial, 0, 50000},
      {"fresh 200 of 4 GiB - 1", false, 200, nullptr, 4294967295u, false, T::kNewPartial, 0, 4294967295u},
      {"fresh 200 of 4 GiB", false, 200, nullptr, 4294967296u, false, T::kTooLarge, 0, 0},
      {"200 with Content-Range is the whole file", true, 200, L"bytes 20000-49999/50000", 50000,
       false, T::kNewPartial, 0, 50000},
      {"200 ignoring Range", true, 200, nullptr, 50000, false, T::kNewPartial, 0, 50000},
      {"206 from the partial size", true, 206, L"bytes 20000-49999/50000", 30000, false,
       T::kExistingPartial, 20000, 50000},
      {"206 before the partial end", true, 206, L"bytes 19500-49999/50000", 30500, false,
       T::kExistingPartial, 19500, 50000},
      {"206 from 0", true, 206, L"bytes 0-49999/50000", 50000, false, T::kNewPartial, 0, 50000},
      {"206 of 4 GiB - 1", true, 206, L"bytes 20000-20009/4294967295", 10, false,
       T::kExistingPartial, 20000, 4294967295u},
      {"206 of 4 GiB", true, 206, L"bytes 20000-20009/4294967296", 10, false, T::kTooLarge, 0, 0},
      {"206 of a part only", true, 206, L"bytes 20000-29999/50000", 10000, false,
       T::kExistingPartial, 20000, 50000},
      {"206 */T", true, 206, L"bytes */50000", 30000, false, T::kContradictory, 0, 0},
      {"206 unreadable start", true, 206, L"bytes x-49999/50000", 30000, false, T::kContradictory, 0, 0},
      {"206 no start", true, 206, L"bytes -49999/50000", 30000, false, T::kContradictory, 0, 0},
      {"206 total *", true, 206, L"bytes 20000-49999/*", 30000, false, T::kContradictory, 0, 0},
      {"206 start beyond 64 bits", true, 206, L"bytes 18446744073709551616-49999/50000", 30000,
       false, T::kContradictory, 0, 0},
      {"206 length not the range's", true, 206, L"bytes 20000-49998/50000", 30000, false,
       T::kContradictory, 0, 0},
      {"206 start after end", true, 206, L"bytes 30000-20000/50000", 1, false, T::kContradictory, 0, 0},
      {"206 end at the total", true, 206, L"bytes 20000-50000/50000", 30001, false,
       T::kContradictory, 0, 0},
      {"206 without Content-Range", true, 206, nullptr, 30000, false, T::kDiscardPartial, 0, 0},
      {"206 leaving a gap", true, 206, L"bytes 20001-49999/50000", 29999, false, T::kDiscardPartial, 0, 0},
      {"206 shorter than the partial", true, 206, L"bytes 10000-19998/19999", 9999, false,
       T::kDiscardPartial, 0, 0},
      {"206 of another version", true, 206, L"bytes 20000-49999/50000", 30000, true,
       T::kDiscardPartial, 0, 0},
      {"206 of 4 GiB", true, 206, L"bytes 20000-20009/4294967296", 10, false, T::kTooLarge, 0, 0},
      {"206 whose total wraps to 50000", true, 206, L"bytes 20000-29999/4295017296", 10000, false,
       T::kTooLarge, 0, 0},
      {"416 of the partial size", true, 416, L"bytes */20000", 0, false, T::kAlreadyComplete, 20000, 20000},
      {"416 of another version", true, 416, L"bytes */20000", 0, true, T::kDiscardPartial, 0, 0},
      {"416 whose total wraps to the partial size", true, 416, L"bytes */4294987296", 0, false,
       T::kDiscardPartial, 0, 0},
      {"416 of another total", true, 416, L"bytes */19999", 0, false, T::kDiscardPartial, 0, 0},
      {"416 with a range", true, 416, L"bytes 0-19999/20000", 0, false, T::kDiscardPartial, 0, 0},
      {"416 without Content-Range", true, 416, nullptr, 0, false, T::kDiscardPartial, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    AnswerHeaders answer;
    answer.status = row.status;
    answer.contentRange = row.range;
    answer.contentLength = row.length;
    answer.validatorChanged = row.validatorChanged;
    const BodyPlan plan = PlanBody(row.resuming, answer, row.resuming ? 20000 : 0);
    EXPECT_EQ(plan.target, row.target);
    if (plan.target == T::kNewPartial || plan.target == T::kExistingPartial ||
        plan.target == T::kAlreadyComplete) {
      EXPECT_EQ(plan.position, row.position);
      EXPECT_EQ(plan.expectedSize, row.expected);
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

// A server or proxy that ignores If-Range answers with the validator of the file it has
// now; only a like-for-like comparison, byte for byte, tells it from the one sent.
// The work folder may hold anything under the validator's name: a file that fills the
// buffer is refused without a unit written past it.
TEST(ResumeValidator, AStoredValidatorIsReadBackWithinItsBuffer) {
  TempFolder temp;
  const std::wstring path = temp / L"x.FileValidator";
  for (const int32_t size : {kValidatorUnits - 1, kValidatorUnits, kValidatorUnits + 40}) {
    SCOPED_TRACE(size);
    WriteFileBytes(path, "\"" + std::string(size - 2, 'a') + "\"");
    wchar_t read[kValidatorUnits + 1];
    std::fill(std::begin(read), std::end(read), L'#');
    EXPECT_EQ(LoadValidator(path.c_str(), read), size < kValidatorUnits);
    EXPECT_EQ(read[kValidatorUnits], L'#') << "written past the buffer";
  }
}

TEST(ResumeValidator, AnAnswerOfAnotherVersionIsToldByItsValidator) {
  const wchar_t* date = L"Tue, 08 Dec 2026 18:02:39 GMT";
  struct Row { const wchar_t* sent; const wchar_t* etag; const wchar_t* lastModified; bool differs; };
  const Row rows[] = {
      {L"\"5f1-2a\"", L"\"5f1-2a\"", L"Wed, 09 Dec 2026 07:00:00 GMT", false},
      {L"\"5f1-2a\"", L"\"5f1-2b\"", date, true},
      {L"\"5f1-2a\"", L"\"5f12a\"", date, true},
      {L"\"5f1-2a\"", L"W/\"5f1-2a\"", date, true},
      {L"\"5f1-2a\"", L"", date, false},
      {L"\"5f1-2a\"", nullptr, nullptr, false},
      {date, L"\"other\"", date, false},
      {date, L"\"other\"", L"Wed, 09 Dec 2026 07:00:00 GMT", true},
      {nullptr, L"\"a\"", date, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ValidatorDiffers(row.sent, row.etag, row.lastModified), row.differs)
        << (row.sent ? Narrow(row.sent) : "-") << " / " << (row.etag ? Narrow(row.etag) : "-");
  }
}

}  // namespace
