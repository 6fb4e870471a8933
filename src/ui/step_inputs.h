// What the dialog's refresh and the windowless run read each time they look at the
// steps, gathered in one place so that both decide from the same readings.
#pragma once

#include <windows.h>

#include "ui/dialog_rules.h"

// Both runs look at the steps once a second.
inline constexpr UINT kRefreshPeriodMs = 1000;

// Evaluates the steps in the order 0, 1, 2 (the evaluation posts download requests, so
// the lowest step with a missing installer is fetched first), then reads the installed
// .NET Framework release and LocalDB version and whether a first piece is named.
ButtonInputs GatherStepInputs();
