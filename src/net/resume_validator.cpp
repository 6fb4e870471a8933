#include "net/resume_validator.h"

#include "util/strings.h"

bool IsUsableValidator(const wchar_t* text) {
  if (!text || text[0] == L'\0') return false;
  if (text[0] == L'W' && text[1] == L'/') return false;
  int32_t length = 0;
  for (; text[length] != L'\0'; ++length) {
    // Anything outside printable ASCII (a line break above all) would leak into the
    // request as a header of its own.
    if (text[length] < 0x20 || text[length] > 0x7E || length >= kValidatorUnits - 1) {
      return false;
    }
  }
  return true;
}

bool ChooseValidator(const wchar_t* etag, const wchar_t* lastModified, wchar_t* output) {
  output[0] = L'\0';
  const wchar_t* chosen = IsUsableValidator(etag)           ? etag
                          : IsUsableValidator(lastModified) ? lastModified
                                                            : nullptr;
  if (!chosen) return false;
  CopyString(output, chosen, kValidatorUnits);
  return true;
}

bool ValidatorDiffers(const wchar_t* sent, const wchar_t* etag, const wchar_t* lastModified) {
  if (!sent || sent[0] == L'\0') return false;
  const wchar_t* answered = sent[0] == L'"' ? etag : lastModified;
  if (!answered || answered[0] == L'\0') return false;
  // Byte for byte: lstrcmpW would let a word sort call "a-b" and "ab" equal.
  for (; *sent == *answered; ++sent, ++answered) {
    if (*sent == L'\0') return false;
  }
  return true;
}

bool LoadValidator(const wchar_t* path, wchar_t* output) {
  output[0] = L'\0';
  UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char bytes[kValidatorUnits] = {};
  DWORD got = 0;
  if (!ReadFile(file.get(), bytes, sizeof(bytes), &got, nullptr) || got >= sizeof(bytes)) {
    return false;
  }
  for (DWORD i = 0; i < got; ++i) output[i] = wchar_t(static_cast<unsigned char>(bytes[i]));
  output[got] = L'\0';
  if (IsUsableValidator(output)) return true;
  output[0] = L'\0';
  return false;
}

bool StoreValidator(const wchar_t* path, const wchar_t* validator) {
  if (!IsUsableValidator(validator)) {
    DropValidator(path);
    return false;
  }
  // Printable ASCII only, so one byte per unit.
  char bytes[kValidatorUnits] = {};
  const int32_t length = TextLength(validator);
  for (int32_t i = 0; i < length; ++i) bytes[i] = char(validator[i]);
  UniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), bytes, DWORD(length), &written, nullptr) ||
      written != DWORD(length)) {
    file.reset();
    DropValidator(path);
    return false;
  }
  return true;
}

void DropValidator(const wchar_t* path) { DeleteFileW(path); }
