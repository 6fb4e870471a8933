// The banner at the top of the setup dialog, drawn at run time at the size its control
// has at the dialog's scale, so that it is sharp at every scale without a bitmap per
// scale: a blue band, the program's mark and two lines of lettering.
#pragma once

#include <windows.h>

#include "util/owners.h"

// GDI+ started for the rest of the scope, and shut down only when it started. The banner
// draws through GDI+ as long as one exists.
class GdiplusSession {
 public:
  GdiplusSession() noexcept;
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

// A bitmap of width x height pixels (compatible with the screen) with the banner drawn
// to fill it, or null when it cannot be made. GDI+ must have been started.
UniqueGdiObject DrawBanner(int width, int height);
