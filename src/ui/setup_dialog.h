// The setup dialog (template 102): per step the installed version, a status line, a mark
// and an install button, plus the banner and "終了". It refreshes itself from gSetup and
// from each step's status once a second. Everything here runs on the UI thread.
#pragma once

#include <windows.h>

#include "util/owners.h"
#include "worker/component_status.h"

// Timer 1 of the dialog drives the refresh.
inline constexpr UINT_PTR kRefreshTimerId = 1;
// Status lines and titles are cut to these capacities (in UTF-16 units, NUL included).
inline constexpr int kStatusTextUnits = 200;
inline constexpr int kTitleUnits = 128;
// The result the dialog ends with ("終了", the close box, Alt+F4).
inline constexpr INT_PTR kDialogClosed = 2;

// The dialog procedure: TRUE for WM_INITDIALOG, FALSE for every other message.
INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Re-reads the machine and every step's status and updates every text, mark and button;
// at phase kPhaseAwaitingMutex it gives up the instance mutex and moves to
// kPhaseHandedOver. Evaluates the steps in the order 0, 1, 2 (the evaluation posts
// download requests, so the lowest step with a missing installer is fetched first).
// Once a self-update has ended the run (runEnded) it ends the dialog instead.
void RefreshDialog(HWND dialog);

// Tells the user that the newer setup program could not be fetched (an error message
// box, waited for), unless the run is quiet.
void ShowSelfUpdateFailure();

// Writes the status line of one step into control controlId: the text for status with
// stepName (null counts as empty) in place of %s, cut to kStatusTextUnits - 1 units.
void SetStatusText(HWND dialog, int controlId, const wchar_t* stepName, ComponentStatus status);

// Writes the window caption and the step 3 heading from updateMode and productNameShort.
void SetTitles(HWND dialog);

// The name of the application step: the display name of the offered application, else
// its short name. Owned by the caller; null only when memory runs out.
HeapString ProductStepName();
