// Record sizes the program relies on, checked at compile time in the shipped 32-bit
// build. The code always passes sizeof; these assertions keep the layouts honest.
#pragma once

#include <windows.h>

#if defined(__i386__)
static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW of the 32-bit program");
static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW of the 32-bit program");
static_assert(sizeof(TOKEN_ELEVATION) == 4, "TOKEN_ELEVATION of the 32-bit program");
#endif
