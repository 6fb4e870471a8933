// Progress of the running download beside its step: a bar and a text just below the
// step's status line (hidden while the step does not download), and the taskbar
// button's progress (Windows 7 and later) with its error state once a download has
// failed. A timer of its own refreshes only these controls, more often than the
// once-a-second refresh of the rest of the dialog, so that the bar moves smoothly.
#pragma once

#include <windows.h>

inline constexpr UINT_PTR kProgressTimerId = 2;
inline constexpr UINT kProgressPeriodMs = 250;
// The bar's range: the share received in ten-thousandths.
inline constexpr int kProgressBarRange = 10000;

// Shows the first state and starts the timer. UI thread; COM is started.
void StartDownloadProgress(HWND dialog);

// Stops the timer and lets go of the taskbar. Called when the dialog is destroyed.
void StopDownloadProgress(HWND dialog);

// One tick: shows, moves or hides each step's bar and text, and the taskbar's progress,
// from the worker's published progress. Sends a control only what changed.
void RefreshDownloadProgress(HWND dialog);
