#include "util/strings.h"

namespace {

bool IsSeparator(wchar_t unit) { return unit == L'\\' || unit == L'/' || unit == L':'; }

// ConcatString and JoinPath are one routine; only JoinPath may insert a separator.
HeapString Join(const wchar_t* first, const wchar_t* second, bool pathRule) {
  if (!first || !second) return HeapString();
  const int32_t a = TextLength(first);
  const int32_t b = TextLength(second);
  const bool separator = pathRule && (a == 0 || !IsSeparator(first[a - 1]));
  const int64_t units = int64_t(a) + b + 1 + (separator ? 1 : 0);
  if (units > INT32_MAX) return HeapString();
  HeapString result = NewString(int32_t(units));
  if (!result) return result;
  wchar_t* out = result.get();
  for (int32_t i = 0; i < a; ++i) *out++ = first[i];
  if (separator) *out++ = L'\\';
  for (int32_t i = 0; i < b; ++i) *out++ = second[i];
  return result;
}

}  // namespace

int32_t TextLength(const wchar_t* text) {
  if (!text) return 0;
  int32_t length = 0;
  while (text[length] != L'\0' && length < INT32_MAX - 1) ++length;
  return length;
}

HeapString NewString(int32_t count) {
  if (count <= 0 || count > INT32_MAX / int32_t(sizeof(wchar_t))) return HeapString();
  return HeapString(static_cast<wchar_t*>(LocalAlloc(LPTR, SIZE_T(count) * sizeof(wchar_t))));
}

void CopyString(wchar_t* destination, const wchar_t* source, int32_t capacity) {
  if (!destination || !source || capacity <= 0) return;
  int32_t i = 0;
  for (; i < capacity - 1 && source[i] != L'\0'; ++i) destination[i] = source[i];
  destination[i] = L'\0';
}

HeapString DuplicateString(const wchar_t* text) {
  const int32_t length = TextLength(text);
  HeapString copy = NewString(length + 1);
  if (copy && text) CopyString(copy.get(), text, length + 1);
  return copy;
}


HeapString ConcatString(const wchar_t* first, const wchar_t* second) {
  return Join(first, second, false);
}

HeapString JoinPath(const wchar_t* first, const wchar_t* second) {
  return Join(first, second, true);
}

HeapString ParentFolder(const wchar_t* path) {
  if (!path) return HeapString();
  const int32_t length = TextLength(path);
  // A separator in the final position is passed over, so the parent of C:\a\ is C:\.
  for (int32_t i = length - 2; i >= 0; --i) {
    if (!IsSeparator(path[i])) continue;
    HeapString parent = NewString(i + 2);
    if (parent) CopyString(parent.get(), path, i + 2);
    return parent;
  }
  return HeapString();
}

namespace {

// Windows refuses these in a file name; '\\', '/' and ':' would also leave the folder.
bool IsForbiddenInFileName(wchar_t c) {
  if (c < 0x20) return true;
  for (const wchar_t* p = L"\\/:<>\"|?*"; *p; ++p) {
    if (c == *p) return true;
  }
  return false;
}

bool IsAsciiLetter(wchar_t c, wchar_t upper) { return c == upper || c == upper + 32; }

// Whether the part before the first '.' (or the whole name) is a device name: Windows
// opens "NUL" or "nul.upi" as the device whatever the folder, and a presence test on it
// succeeds although no file exists.
bool IsDeviceName(const wchar_t* text) {
  int32_t stem = 0;
  while (text[stem] != L'\0' && text[stem] != L'.') ++stem;
  static constexpr const wchar_t* kThreeLetter[] = {L"CON", L"PRN", L"AUX", L"NUL"};
  if (stem == 3) {
    for (const wchar_t* device : kThreeLetter) {
      if (IsAsciiLetter(text[0], device[0]) && IsAsciiLetter(text[1], device[1]) &&
          IsAsciiLetter(text[2], device[2])) {
        return true;
      }
    }
    return false;
  }
  if (stem != 4 || text[3] < L'1' || text[3] > L'9') return false;
  const bool com = IsAsciiLetter(text[0], L'C') && IsAsciiLetter(text[1], L'O') &&
                   IsAsciiLetter(text[2], L'M');
  const bool lpt = IsAsciiLetter(text[0], L'L') && IsAsciiLetter(text[1], L'P') &&
                   IsAsciiLetter(text[2], L'T');
  return com || lpt;
}

}  // namespace

bool IsBareFileName(const wchar_t* text) {
  if (!text || text[0] == L'\0') return false;
  const wchar_t* p = text;
  for (; *p; ++p) {
    if (IsForbiddenInFileName(*p)) return false;
  }
  // Windows drops trailing dots and blanks, so "a." would name "a" (and "." and ".."
  // leave the folder).
  if (p[-1] == L'.' || p[-1] == L' ') return false;
  return !IsDeviceName(text);
}
