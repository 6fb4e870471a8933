// The validator of a partial file: the strong ETag (else the Last-Modified text) of the
// answer whose body began the partial file, kept in a small file beside it, so that a
// resume asks with If-Range and a file replaced on the server comes back whole instead of
// being continued from the old copy. A partial file without a validator resumes without
// If-Range.
#pragma once

#include <cstdint>

#include "util/owners.h"

// Capacity of a validator: 255 characters and the terminator.
inline constexpr int32_t kValidatorUnits = 256;

// Whether text can be sent as an If-Range value: not empty, shorter than
// kValidatorUnits, printable ASCII only, and not a weak ETag ("W/...").
bool IsUsableValidator(const wchar_t* text);

// The validator of an answer: its ETag when usable (strong), else its Last-Modified when
// usable; written into output (kValidatorUnits units). False when neither is usable.
bool ChooseValidator(const wchar_t* etag, const wchar_t* lastModified, wchar_t* output);

// Whether an answer names another file than the validator sent with If-Range: sent, a
// strong ETag (it begins with a quote), differs from the answer's etag, or sent, a date,
// differs from its lastModified. An absent or empty header of that kind tells nothing;
// null sent (no If-Range) never differs.
bool ValidatorDiffers(const wchar_t* sent, const wchar_t* etag, const wchar_t* lastModified);

// The validator stored at path, into output (kValidatorUnits units). False when the file
// is absent, unreadable, or does not hold a usable validator.
bool LoadValidator(const wchar_t* path, wchar_t* output);

// Stores validator at path, replacing what was there; false when it cannot be written
// (what was there is deleted then).
bool StoreValidator(const wchar_t* path, const wchar_t* validator);

// Deletes the validator file at path; a missing file is fine.
void DropValidator(const wchar_t* path);
