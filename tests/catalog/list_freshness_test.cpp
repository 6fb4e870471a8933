// Replay and freeze: the serial and expiry of a signed list against the serial stored.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "catalog/list_freshness.h"
#include "support/test_support.h"

namespace {

using V = FreshnessVerdict;

// Rows: keyed × stored serial (-1: none) × the list's settings × now (UTC).
TEST(ListFreshness, SerialAndExpiryDecideAsTheTableSays) {
  const struct {
    bool keyed;
    int64_t stored;
    const wchar_t* lines;  // '|' separates lines
    V verdict;
  } rows[] = {
      {true, -1, L"", V::kAccepted},
      {true, -1, L"-2,ListSerial,5", V::kAccepted},
      {true, 5, L"-2,ListSerial,5", V::kAccepted},
      {true, 5, L"-2,ListSerial,6", V::kAccepted},
      {true, 5, L"-2,ListSerial,4", V::kSerialBelowStored},
      {true, 202612090000, L"-2,ListSerial,202612081200", V::kSerialBelowStored},
      {true, 5, L"", V::kSerialMissing},
      {true, 5, L"-2,ListSerial,4|-2,ListSerial,7", V::kAccepted},
      {true, -1, L"-2,ListSerial, 5", V::kSerialUnreadable},
      {true, -1, L"-2,ListSerial,", V::kSerialUnreadable},
      {true, -1, L"-2,ListSerial,99999999999999999999", V::kSerialUnreadable},
      {true, -1, L"-2,ListSerial,5|-2,ListExpires,20261209_1201", V::kAccepted},
      {true, -1, L"-2,ListSerial,5|-2,ListExpires,20261209_1200", V::kExpired},
      {true, 5, L"-2,ListSerial,6|-2,ListExpires,20251231_2359", V::kExpired},
      {true, -1, L"-2,ListExpires,2026-12-31", V::kExpiryUnreadable},
      {true, -1, L"--,ListSerial,1|-3,ListSerial,x|1,ListSerial,x", V::kAccepted},
      {false, 5, L"-2,ListSerial,4|-2,ListExpires,20000101_0000", V::kAccepted},
      {false, 5, L"", V::kAccepted},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.lines) + " stored " + std::to_string(row.stored));
    ListFreshness list;
    std::wstringstream lines(row.lines);
    for (std::wstring line; std::getline(lines, line, L'|');) ApplyFreshnessLine(line.c_str(), &list);
    EXPECT_EQ(JudgeListFreshness(list, row.keyed, row.stored >= 0, uint64_t(row.stored),
                                 L"20261209_1200"),
              row.verdict);
  }
}

}  // namespace
