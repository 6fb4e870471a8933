// The decisions of the setup dialog that need no window: which mark stands beside each
// step, which install buttons are offered, and the texts for a status and for the titles.
#pragma once

#include <cstdint>

#include "worker/component_status.h"

// Statuses 7 and 8; every other value (1 to 6, the negative phases of step 3) is not.
bool IsStepFinished(ComponentStatus status);

enum class StepMark { kDone, kCurrent, kPending };

struct StepMarks {
  StepMark step[kComponentCount];
};

// The first unfinished step is current, the steps before it are done and the steps after
// it pending; all three are done when none is unfinished.
StepMarks StepMarksFor(ComponentStatus s0, ComponentStatus s1, ComponentStatus s2);

struct InstallButtons {
  bool dotNet;
  bool localDb;
  bool product;
};

// What the refresh knows when it decides the buttons: the three statuses, and the
// registry readings and the piece table that the application's installer needs.
struct ButtonInputs {
  ComponentStatus s0;
  ComponentStatus s1;
  ComponentStatus s2;
  uint32_t dotNetRelease;
  int32_t localDbMajor;
  bool firstPieceNamed;
};

// A step's installer is offered when it is available (3) or its last run failed (6),
// never while the other prerequisite's installer runs (5). The application's also needs
// the .NET Framework 4.6.1 or later, LocalDB 12 or later and a first piece.
InstallButtons InstallButtonsFor(const ButtonInputs& inputs);

// The wnsprintf format of a step's status line (%s is the step name; the phase texts
// have none). Statuses without a line give an empty format. Never null.
const wchar_t* StatusFormat(ComponentStatus status);

// Formats of the window caption and of the step 3 heading; %s is the short name.
const wchar_t* CaptionFormat(bool updateMode);
const wchar_t* ProductHeadingFormat(bool updateMode);
