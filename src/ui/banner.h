// The banner at the top of the setup dialog, drawn at run time at the size its control
// has at the dialog's scale, so that it is sharp at every scale without a bitmap per
// scale: a blue band, the program's mark and two lines of lettering.
#pragma once

#include <windows.h>

#include "util/owners.h"

// A bitmap of width x height pixels (compatible with the screen) with the banner drawn
// to fill it, or null when it cannot be made. GDI+ must have been started.
UniqueGdiObject DrawBanner(int width, int height);
