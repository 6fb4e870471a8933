// Heap strings and the path-joining rules every other subsystem builds on.
//
// A HeapString returned here belongs to the caller; null means failure or absence.
// No operation takes over a HeapString it is given as input.
#pragma once

#include <cstdint>

#include "util/owners.h"

// count zero units; null when count <= 0 or the heap is exhausted.
HeapString NewString(int32_t count);

// Copies at most capacity - 1 units of source and always terminates destination.
// Does nothing when either pointer is null or capacity <= 0.
void CopyString(wchar_t* destination, const wchar_t* source, int32_t capacity);

// A copy of text; a null text gives an empty string (not null). Null only when the
// heap is exhausted.
HeapString DuplicateString(const wchar_t* text);

// first followed directly by second; null when either is null.
HeapString ConcatString(const wchar_t* first, const wchar_t* second);

// first, a '\' unless first is non-empty and already ends with '\', '/' or ':', then
// second unchanged. Null when either is null.
HeapString JoinPath(const wchar_t* first, const wchar_t* second);

// The path up to and including its last separator ('\', '/' or ':') that is not its
// final character; null when there is none (or path is null).
HeapString ParentFolder(const wchar_t* path);

// Length of a possibly null text (null counts as 0).
int32_t TextLength(const wchar_t* text);

// Whether text is a bare file name that stays inside the folder it is joined to and
// names a file there: not null or empty; free of '\', '/', ':', the characters Windows
// forbids (< > " | ? * and control characters); not ending in a dot or a blank (so not
// "." or ".."); and not a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, any case,
// with or without an extension).
bool IsBareFileName(const wchar_t* text);
