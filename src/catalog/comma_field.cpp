#include "catalog/comma_field.h"

#include "util/strings.h"

HeapString CommaField(const wchar_t* line, int32_t index) {
  if (!line || index < 0) return HeapString();
  const wchar_t* start = line;
  int32_t commas = 0;
  for (const wchar_t* p = line; commas < index; ++p) {
    if (*p == L'\0') return HeapString();
    if (*p == L',') {
      ++commas;
      start = p + 1;
    }
  }
  const wchar_t* end = start;
  while (*end != L'\0' && *end != L',') ++end;
  // Field 0 needs a comma after it: a line without commas is not a record with one field.
  if (index == 0 && *end != L',') return HeapString();
  const int64_t length = end - start;
  HeapString field = NewString(int32_t(length + 1));
  if (field) CopyString(field.get(), start, int32_t(length + 1));
  return field;
}

int32_t FieldNumber(const wchar_t* field) {
  if (!field) return 0;
  const bool negative = field[0] == L'-';
  const wchar_t* p = negative ? field + 1 : field;
  // Unsigned arithmetic: hand-edited lists may carry any number of digits, and the
  // platform reader wraps rather than saturates.
  uint32_t value = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) value = value * 10u + uint32_t(*p - L'0');
  return int32_t(negative ? 0u - value : value);
}

int32_t NumericField(const wchar_t* line, int32_t index) {
  HeapString field = CommaField(line, index);
  return FieldNumber(field.get());
}

bool IsCommentLine(const wchar_t* line) {
  return line && line[0] == L'-' && line[1] == L'-';
}

int32_t RecordType(const wchar_t* line) {
  HeapString type = CommaField(line, 0);
  return type ? FieldNumber(type.get()) : 0;
}
