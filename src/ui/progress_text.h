// The text beside a download's bar, "12.3 MB / 65.0 MB（2.1 MB/秒・残り約 25 秒）", and the
// rate it shows, averaged over the last few seconds. Plain functions: no window, no clock.
#pragma once

#include <windows.h>

#include <cstdint>

// Capacity of the progress text in UTF-16 units.
inline constexpr int32_t kProgressTextUnits = 96;
// The rate is averaged over the samples of this last span.
inline constexpr DWORD kRateWindowMs = 3000;
// Before a download has run this long its rate has not settled: no time left is shown.
inline constexpr DWORD kRateSettleMs = 2000;

// Received bytes seen at moments (GetTickCount), newest last, in a ring.
struct RateWindow {
  static constexpr int kSamples = 24;
  struct Sample {
    DWORD tick;
    uint32_t received;
  };
  Sample samples[kSamples]{};
  int count = 0;
  int next = 0;
};

// Adds a sample. A count below the newest one (a new file, or a partial file the server
// made start again) drops the older samples.
void AddRateSample(RateWindow& window, DWORD tick, uint32_t received);

// Adds the sample of one tick of a download's try: only once the server has told the
// size (its answer has come) does it count, so that the bytes a resumed try already held
// when it began are where its rate starts, never a burst of speed.
void AddTrySample(RateWindow& window, DWORD tick, uint32_t received, uint32_t total);

// Bytes per second between the oldest sample within kRateWindowMs of the newest and the
// newest; 0 with fewer than two such samples.
uint32_t AverageRate(const RateWindow& window);

// The text under a step's status line while its download waits to be tried again,
// "再試行を待っています（あと N 秒）" with N the seconds left (msLeft rounded up), into output
// (kProgressTextUnits units).
void FormatRetryWaitText(DWORD msLeft, wchar_t* output);

// The progress text into output (kProgressTextUnits units): received, and "/ total" when
// total is not 0 (known); then the rate in full-width brackets when bytesPerSecond is not
// 0, and with it the time left when showTimeLeft and total is known. Sizes in B, KB, MB
// (one decimal) or GB (one decimal) of 1024.
void FormatProgressText(uint32_t received, uint32_t total, uint32_t bytesPerSecond,
                        bool showTimeLeft, wchar_t* output);
