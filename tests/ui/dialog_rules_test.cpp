#include "ui/dialog_rules.h"
#include "ui/next_step.h"
#include "ui/progress_text.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr StepMark D = StepMark::kDone;
constexpr StepMark C = StepMark::kCurrent;
constexpr StepMark P = StepMark::kPending;

struct MarkRow {
  ComponentStatus s0, s1, s2;
  StepMark m0, m1, m2;
};

TEST(StepMarks, FirstUnfinishedStepIsCurrentBeforeDoneAfterPending) {
  const MarkRow rows[] = {
      // The first display: nothing prepared yet, step 3 still at a phase.
      {2, 1, kPhasePreparing, C, P, P},
      {8, 8, kPhasePreparing, D, D, C},
      {8, 8, kPhaseQuerying, D, D, C},
      {8, 8, kPhaseFailed, D, D, C},
      {8, 8, kPhaseAwaitingMutex, D, D, C},
      // A later step that is finished does not count while an earlier one is not.
      {3, 8, 8, C, P, P},
      {6, 7, 7, C, P, P},
      {7, 5, 8, D, C, P},
      {8, 4, 3, D, C, P},
      {7, 8, 6, D, D, C},
      {8, 7, 3, D, D, C},
      {7, 7, 7, D, D, D},
      {8, 8, 8, D, D, D},
      // Unknown codes are unfinished as well.
      {0, 8, 8, C, P, P},
      {8, 8, kPhaseReady, D, D, C},
  };
  for (const MarkRow& row : rows) {
    const StepMarks marks = StepMarksFor(row.s0, row.s1, row.s2);
    EXPECT_EQ(marks.step[0], row.m0) << row.s0 << " " << row.s1 << " " << row.s2;
    EXPECT_EQ(marks.step[1], row.m1) << row.s0 << " " << row.s1 << " " << row.s2;
    EXPECT_EQ(marks.step[2], row.m2) << row.s0 << " " << row.s1 << " " << row.s2;
  }
}

struct ButtonRow {
  ButtonInputs in;
  bool dotNet, localDb, product;
};

constexpr uint32_t kRelease461 = 394254;

TEST(InstallButtons, OfferedWhenAvailableOrFailedAndNeverBesideARunningInstaller) {
  const ButtonRow rows[] = {
      // Nothing downloaded yet.
      {{2, 1, kPhasePreparing, 0, 0, false}, false, false, false},
      // Both prerequisites available, or failed last time.
      {{3, 3, kPhasePreparing, 0, 0, false}, true, true, false},
      {{6, 6, 2, 0, 0, true}, true, true, false},
      // A prerequisite installing blocks the other one and the application.
      {{5, 3, 3, kRelease461, 12, true}, false, false, false},
      {{3, 5, 3, kRelease461, 12, true}, false, false, false},
      {{6, 5, 6, kRelease461, 14, true}, false, false, false},
      // Other statuses never offer a button.
      {{1, 2, 1, kRelease461, 12, true}, false, false, false},
      {{4, 4, 4, kRelease461, 12, true}, false, false, false},
      {{7, 8, 7, kRelease461, 12, true}, false, false, false},
      {{8, 8, kPhaseReady, kRelease461, 12, true}, false, false, false},
      {{8, 8, kPhaseFailed, kRelease461, 12, true}, false, false, false},
      // The application: available or failed, with both prerequisites and a first piece.
      {{8, 8, 3, kRelease461, 12, true}, false, false, true},
      {{8, 7, 6, 528040, 14, true}, false, false, true},
      {{8, 8, 3, kRelease461 - 1, 12, true}, false, false, false},
      {{8, 8, 3, kRelease461, 11, true}, false, false, false},
      {{8, 8, 3, kRelease461, 12, false}, false, false, false},
      // The readings decide, not the statuses of the prerequisites (a .NET installer that
      // is still running may already have registered its release).
      {{3, 6, 3, kRelease461, 12, true}, true, true, true},
  };
  for (const ButtonRow& row : rows) {
    const InstallButtons buttons = InstallButtonsFor(row.in);
    const std::string where = std::to_string(row.in.s0) + " " + std::to_string(row.in.s1) + " " +
                              std::to_string(row.in.s2) + " " + std::to_string(row.in.dotNetRelease) +
                              " " + std::to_string(row.in.localDbMajor);
    EXPECT_EQ(buttons.dotNet, row.dotNet) << where;
    EXPECT_EQ(buttons.localDb, row.localDb) << where;
    EXPECT_EQ(buttons.product, row.product) << where;
  }
}

TEST(NextStep, OneStepAtATimeInOrderAndEveryEndWithItsCode) {
  constexpr NextAction W = NextAction::kWait;
  constexpr NextAction I = NextAction::kInstall;
  constexpr NextAction S = NextAction::kStartProduct;
  constexpr NextAction E = NextAction::kEnd;
  const struct {
    ComponentStatus s0, s1, s2;
    bool quiet, elevated, restart;
    NextAction action;
    ComponentId step;
    int32_t exitCode;
    // "p": /prerequisites; "w": no worker thread; "1618": the last exit code of the
    // failed prerequisite's installer.
    const char* extra = "";
  } rows[] = {
      // Downloads and preparation under way: wait.
      {2, 1, kPhasePreparing, true, true, false, W, -1, 0},
      {8, 2, kPhaseQuerying, false, true, false, W, -1, 0},
      // Nothing starts before the update information is known (a newer setup program
      // may take over).
      {3, 3, kPhasePreparing, false, true, false, W, -1, 0},
      {3, 8, kPhaseAwaitingMutex, true, true, false, W, -1, 0},
      {8, 3, kPhaseHandedOver, false, true, false, W, -1, 0},
      // Installed in order, one at a time: LocalDB waits for the .NET Framework.
      {3, 3, 3, true, true, false, I, kDotNet, 0},
      {2, 3, 3, false, true, false, W, -1, 0},
      {7, 3, 1, true, true, false, I, kLocalDb, 0},
      {5, 3, 3, true, true, false, W, -1, 0},
      // Nothing ends while an installer runs, not even on a failure elsewhere.
      {5, 4, kPhaseFailed, true, true, false, W, -1, 0},
      {8, 5, 4, false, true, false, W, -1, 0},
      {3, 5, 3, true, true, false, W, -1, 0},
      // Failures end with 1603 and name their step.
      {4, 3, 3, true, true, false, E, kDotNet, 1603},
      {7, 6, 3, false, true, false, E, kLocalDb, 1603},
      {3, 4, 3, false, true, false, E, kLocalDb, 1603},
      {2, 1, kPhaseFailed, true, true, false, E, kProduct, 1603},
      {8, 8, 4, true, true, false, E, kProduct, 1603},
      {8, 8, 6, false, true, false, E, kProduct, 1603},
      // Without a window a missing prerequisite needs elevation; with one, the buttons ask.
      {2, 8, kPhasePreparing, true, false, false, E, kDotNet, 1603},
      {8, 3, 3, true, false, false, E, kLocalDb, 1603},
      {3, 8, 3, false, false, false, I, kDotNet, 0},
      {8, 8, 3, true, false, false, S, kProduct, 0},
      // The application's installer once its button would be offered.
      {7, 7, 2, true, true, true, W, -1, 0},
      {7, 8, 3, true, true, false, S, kProduct, 0},
      // Everything done: 0, or 3010 when a restart was asked for.
      {8, 8, 8, true, false, false, E, -1, 0},
      {7, 7, 7, false, true, true, E, -1, 3010},
      // Another installation in progress is passed on for the deployment tool to retry.
      {7, 6, 3, true, true, false, E, kLocalDb, 1618, "1618"},
      {6, 3, 3, false, true, false, E, kDotNet, 1618, "1618"},
      // /prerequisites ends once both are in place, whatever the application reads.
      {8, 7, kPhaseFailed, true, true, false, E, -1, 0, "p"},
      {7, 8, 1, false, true, true, E, -1, 3010, "p"},
      {8, 3, 3, true, true, false, I, kLocalDb, 0, "p"},
      {5, 8, 3, true, true, false, W, -1, 0, "p"},
      {8, 8, kPhaseHandedOver, true, true, false, W, -1, 0, "p"},
      // Without a worker nothing would ever come: the run ends at once.
      {3, 3, kPhasePreparing, true, true, false, E, -1, 1603, "w"},
      {3, 3, kPhasePreparing, false, true, false, E, -1, 1603, "w"},
  };
  for (const auto& row : rows) {
    const std::string extra = row.extra;
    const uint32_t code = extra == "1618" ? 1618u : 0u;
    const NextStepInputs inputs{{row.s0, row.s1, row.s2, kRelease461, 12, true},
                                row.quiet,
                                row.elevated,
                                row.restart,
                                extra == "p",
                                extra == "w",
                                {row.s0 == 6 ? code : 0u, row.s1 == 6 ? code : 0u}};
    const NextStep next = NextStepFor(inputs);
    const std::string where = std::to_string(row.s0) + " " + std::to_string(row.s1) + " " +
                              std::to_string(row.s2) + (row.quiet ? " quiet" : " passive") +
                              (row.elevated ? " elevated" : "") + (row.restart ? " restart" : "") +
                              " " + extra;
    EXPECT_EQ(next.action, row.action) << where;
    if (row.action == W) continue;
    EXPECT_EQ(next.step, row.step) << where;
    EXPECT_EQ(next.exitCode, row.exitCode) << where;
    EXPECT_EQ(next.reason != nullptr, row.action == E) << where;
  }
  // The application's button rules hold: no first piece, nothing to start.
  const NextStep unnamed =
      NextStepFor({{8, 8, 3, kRelease461, 12, false}, true, true, false, false, false, {0, 0}});
  EXPECT_EQ(unnamed.action, E);
  EXPECT_EQ(unnamed.exitCode, 1603);
  for (uint32_t code : {3010u, 1641u}) EXPECT_TRUE(AsksForRestart(code)) << code;
  for (uint32_t code : {0u, 1603u, 1602u, 3011u}) EXPECT_FALSE(AsksForRestart(code)) << code;
}

TEST(ProgressText, SizesRateAndTimeLeft) {
  constexpr uint32_t kMiB = 1024 * 1024;
  const struct {
    uint32_t received, total, rate;
    bool settled;
    const wchar_t* text;
  } rows[] = {
      {uint32_t(12.3 * kMiB) + 1, 65 * kMiB, uint32_t(2.1 * kMiB) + 1, true,
       L"12.3 MB / 65.0 MB（2.1 MB/秒・残り約 25 秒）"},
      // Cut, not rounded: the whole size is shown only once it is all there.
      {65 * kMiB - 1, 65 * kMiB, 0, true, L"64.9 MB / 65.0 MB"},
      {0, 1023, 0, true, L"0 B / 1023 B"},
      {1024, 1000 * 1024, 512 * 1024, true, L"1 KB / 1000 KB（512 KB/秒・残り約 2 秒）"},
      {1023 * 1024, kMiB, 0, true, L"1023 KB / 1.0 MB"},
      {1024 * kMiB - 1, 1024 * kMiB, 0, true, L"1023.9 MB / 1.0 GB"},
      {kMiB, 0xFFFFFFFFu, 100 * kMiB, false, L"1.0 MB / 3.9 GB（100.0 MB/秒）"},
      // No time left before the rate has settled, nor without a known size.
      {10 * kMiB, 20 * kMiB, kMiB, false, L"10.0 MB / 20.0 MB（1.0 MB/秒）"},
      {10 * kMiB, 0, kMiB, true, L"10.0 MB（1.0 MB/秒）"},
      {10 * kMiB, 0, 0, true, L"10.0 MB"},
      // A minute and more in whole minutes; both to the nearest.
      {0, 90 * 1000, 1000, true, L"0 B / 87 KB（1000 B/秒・残り約 2 分）"},
      {0, 89 * 1000, 1000, true, L"0 B / 86 KB（1000 B/秒・残り約 1 分）"},
      {0, 59500, 1000, true, L"0 B / 58 KB（1000 B/秒・残り約 1 分）"},
      {0, 59499, 1000, true, L"0 B / 58 KB（1000 B/秒・残り約 59 秒）"},
      {20, 20, 1000, true, L"20 B / 20 B（1000 B/秒・残り約 0 秒）"},
  };
  for (const auto& row : rows) {
    wchar_t text[kProgressTextUnits];
    FormatProgressText(row.received, row.total, row.rate, row.settled, text);
    EXPECT_EQ(std::wstring(text), row.text) << row.received << " " << row.total;
  }
}

TEST(ProgressText, RateIsAveragedOverTheLastSecondsOnly) {
  const struct {
    std::vector<std::pair<DWORD, uint32_t>> samples;
    uint32_t rate;
  } rows[] = {
      {{}, 0},
      {{{1000, 5000}}, 0},
      {{{1000, 0}, {1000, 5000}}, 0},
      {{{1000, 0}, {1250, 1000}, {1500, 3000}}, 6000},
      // A burst long ago no longer counts: only the last 3 s.
      {{{0, 0}, {100, 900000}, {1100, 900000}, {3100, 900000}, {4100, 1000000}}, 100000 / 3},
      // Across the wrap of the tick count.
      {{{0xFFFFFF00u, 0}, {0x000000F4u, 500}}, 1000},
      // A new file (fewer bytes than before) starts the average again.
      {{{0, 0}, {1000, 800000}, {2000, 1000}, {3000, 3000}}, 2000},
  };
  for (const auto& row : rows) {
    RateWindow window;
    for (const auto& [tick, received] : row.samples) AddRateSample(window, tick, received);
    EXPECT_EQ(AverageRate(window), row.rate) << row.samples.size();
  }
  RateWindow many;
  for (DWORD i = 0; i <= 100; ++i) AddRateSample(many, i * 250, i * 1000);
  EXPECT_EQ(AverageRate(many), 4000u) << "only the last 3 s of a long download count";
}

// A try that resumes from 20000 bytes held: its rate counts only what arrives in it.
TEST(ProgressText, ATrysRateStartsFromTheBytesItHeld) {
  const struct {
    std::vector<std::tuple<DWORD, uint32_t, uint32_t>> samples;  // tick, received, total
    uint32_t rate;
  } rows[] = {
      {{{0, 0, 0}, {250, 20000, 0}, {500, 20000, 50000}, {1500, 21000, 50000}}, 1000},
      {{{0, 20000, 0}, {1000, 24000, 50000}, {2000, 25000, 50000}}, 1000},
      // Another file (another size) starts afresh.
      {{{0, 0, 90000}, {1000, 80000, 90000}, {2000, 1000, 50000}, {3000, 3000, 50000}}, 2000},
  };
  for (const auto& row : rows) {
    RateWindow window;
    for (const auto& [tick, received, total] : row.samples) {
      AddTrySample(window, tick, received, total);
    }
    EXPECT_EQ(AverageRate(window), row.rate) << row.samples.size();
  }
}

TEST(ProgressText, AWaitToTryAgainTellsTheSecondsLeft) {
  const struct {
    DWORD msLeft;
    const wchar_t* text;
  } rows[] = {
      {30000, L"再試行を待っています（あと 30 秒）"},
      {1001, L"再試行を待っています（あと 2 秒）"},
      {1000, L"再試行を待っています（あと 1 秒）"},
      {1, L"再試行を待っています（あと 1 秒）"},
      {0, L"再試行を待っています（あと 0 秒）"},
  };
  for (const auto& row : rows) {
    wchar_t text[kProgressTextUnits];
    FormatRetryWaitText(row.msLeft, text);
    EXPECT_EQ(std::wstring(text), row.text) << row.msLeft;
  }
}

}  // namespace
