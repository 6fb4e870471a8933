// The benchmarks' clock: the performance counter in seconds.
#pragma once

#include <windows.h>

inline double SecondsNow() {
  static const double frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return double(value.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / frequency;
}
