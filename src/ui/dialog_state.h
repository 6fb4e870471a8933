// What the setup dialog keeps between its messages. UI thread only: the worker never
// sees it.
#pragma once

#include <windows.h>

struct SetupDialogState {
  // A refresh is running: a message pumped inside it does not start another.
  bool refreshBusy = false;
  // Set when the dialog is made; cleared once it has been brought to the front.
  BOOL firstShow = FALSE;
  // The step marks at the dialog's present scale.
  HICON iconDone = nullptr;
  HICON iconCurrent = nullptr;
  HICON iconPending = nullptr;
};

// The dialog of this process.
extern SetupDialogState gDialog;
