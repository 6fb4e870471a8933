#include "ui/progress_text.h"

#include <shlwapi.h>

namespace {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = kKiB * 1024;
constexpr uint64_t kGiB = kMiB * 1024;
constexpr int32_t kSizeUnits = 24;

// Sizes are cut, not rounded, to one decimal: "65.0 MB" is shown only once 65 MB are in.
void FormatSize(uint64_t bytes, const wchar_t* suffix, wchar_t* output) {
  if (bytes < kKiB) {
    wnsprintfW(output, kSizeUnits, L"%u B%s", unsigned(bytes), suffix);
  } else if (bytes < kMiB) {
    wnsprintfW(output, kSizeUnits, L"%u KB%s", unsigned(bytes / kKiB), suffix);
  } else {
    const uint64_t unit = bytes < kGiB ? kMiB : kGiB;
    const uint64_t tenths = bytes * 10 / unit;
    wnsprintfW(output, kSizeUnits, L"%u.%u %s%s", unsigned(tenths / 10), unsigned(tenths % 10),
               unit == kMiB ? L"MB" : L"GB", suffix);
  }
}

// "残り約 25 秒" below a minute, else whole minutes; both to the nearest.
void FormatTimeLeft(uint64_t bytesLeft, uint32_t bytesPerSecond, wchar_t* output) {
  const uint64_t seconds = (bytesLeft + bytesPerSecond / 2) / bytesPerSecond;
  if (seconds < 60) {
    wnsprintfW(output, kSizeUnits, L"・残り約 %u 秒", unsigned(seconds));
  } else {
    wnsprintfW(output, kSizeUnits, L"・残り約 %u 分", unsigned((seconds + 30) / 60));
  }
}

}  // namespace

void AddRateSample(RateWindow& window, DWORD tick, uint32_t received) {
  if (window.count > 0) {
    const int newest = (window.next + RateWindow::kSamples - 1) % RateWindow::kSamples;
    if (received < window.samples[newest].received) window.count = 0;
  }
  window.samples[window.next] = {tick, received};
  window.next = (window.next + 1) % RateWindow::kSamples;
  if (window.count < RateWindow::kSamples) ++window.count;
}

void AddTrySample(RateWindow& window, DWORD tick, uint32_t received, uint32_t total) {
  if (total) AddRateSample(window, tick, received);
}

void FormatRetryWaitText(DWORD msLeft, wchar_t* output) {
  wnsprintfW(output, kProgressTextUnits, L"再試行を待っています（あと %u 秒）",
             unsigned((uint64_t(msLeft) + 999) / 1000));
  output[kProgressTextUnits - 1] = L'\0';
}

uint32_t AverageRate(const RateWindow& window) {
  if (window.count < 2) return 0;
  const int newestIndex = (window.next + RateWindow::kSamples - 1) % RateWindow::kSamples;
  const RateWindow::Sample& newest = window.samples[newestIndex];
  const RateWindow::Sample* oldest = nullptr;
  for (int age = window.count - 1; age >= 1; --age) {
    const auto& sample =
        window.samples[(newestIndex + RateWindow::kSamples - age) % RateWindow::kSamples];
    // Unsigned differences: right across the wrap of the tick count as well.
    if (newest.tick - sample.tick <= kRateWindowMs) {
      oldest = &sample;
      break;
    }
  }
  if (!oldest || newest.tick == oldest->tick) return 0;
  const uint64_t bytes = newest.received - oldest->received;
  return uint32_t(bytes * 1000 / (newest.tick - oldest->tick));
}

void FormatProgressText(uint32_t received, uint32_t total, uint32_t bytesPerSecond,
                        bool showTimeLeft, wchar_t* output) {
  wchar_t done[kSizeUnits] = {};
  wchar_t whole[kSizeUnits] = {};
  wchar_t rate[kSizeUnits] = {};
  wchar_t left[kSizeUnits] = {};
  FormatSize(received, L"", done);
  if (total) FormatSize(total, L"", whole);
  if (bytesPerSecond) {
    FormatSize(bytesPerSecond, L"/秒", rate);
    if (showTimeLeft && total) {
      const uint64_t rest = total > received ? total - received : 0;
      FormatTimeLeft(rest, bytesPerSecond, left);
    }
  }
  wnsprintfW(output, kProgressTextUnits, L"%s%s%s%s%s%s%s", done, total ? L" / " : L"", whole,
             bytesPerSecond ? L"（" : L"", rate, left, bytesPerSecond ? L"）" : L"");
  output[kProgressTextUnits - 1] = L'\0';
}
