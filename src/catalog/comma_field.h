// Records of the update files: one line, comma-separated fields, no quoting.
//
// A line with k commas has k + 1 fields numbered from 0; a line without any comma (an
// empty line too) has no fields at all. Blanks belong to the field.
#pragma once

#include <cstdint>

#include "util/owners.h"

// Field number index of line, exactly as it lies between its commas (possibly empty);
// null when the line has no such field, when line is null or index < 0, or on heap
// exhaustion.
HeapString CommaField(const wchar_t* line, int32_t index);

// A field read as a number the way StrToIntW reads it: an optional '-' and then decimal
// digits up to the first other character; anything else (also a leading '+' or blank)
// reads as 0. No range check: larger values wrap around 32 bits. A null field reads 0.
int32_t FieldNumber(const wchar_t* field);

// Field number index read with FieldNumber; 0 when the field is absent.
int32_t NumericField(const wchar_t* line, int32_t index);

// Whether the line is a comment: its first two characters are "--".
bool IsCommentLine(const wchar_t* line);

// The record type of a line: field 0 read as a number, or 0 (a section header whose
// fields are all absent) when the line has no comma.
int32_t RecordType(const wchar_t* line);
