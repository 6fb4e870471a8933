// The dialog of a /passive run, which presses its own buttons: each step's button as
// soon as the next-step decision says so, one step at a time, and the end of the dialog
// once the run is over. The presses go through the dialog's own command handling.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/dialog_rules.h"

// Called by each refresh with what it decided the buttons from: posts the press of the
// next step's button, or ends the dialog with the run's exit code (see PassiveExitCode).
void PressOnByItself(HWND dialog, const ButtonInputs& steps);

// The exit code of a passive run once its dialog has ended: the code the run ended with
// by itself, else 1602 (closed by Esc, the close box or "終了").
int32_t PassiveExitCode();
