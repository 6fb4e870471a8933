#include "util/stop_event.h"

bool StopRequested(HANDLE stopEvent, DWORD waitMs) {
  if (!stopEvent) {
    if (waitMs) Sleep(waitMs);
    return false;
  }
  if (WaitForSingleObject(stopEvent, waitMs) != WAIT_OBJECT_0) return false;
  SetEvent(stopEvent);
  return true;
}
