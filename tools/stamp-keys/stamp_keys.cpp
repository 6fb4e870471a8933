// velto-stamp-keys: replaces the update list's public keys in a built VeltoSetup.exe.
//
//   velto-stamp-keys PROGRAM.exe KEY[;KEY...] [KEY...]
//
// Each KEY is 128 hex digits (X then Y of the P-256 point), as "velto-publish keygen"
// prints it. Whatever VELTOKEYS resources the program had, in any language, are removed,
// and the keys are written as the one language-neutral VELTOKEYS; the result is read back
// as the program reads it. Run it before the program is code-signed. Exit status 0 when
// the program now holds exactly these keys.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "verify/hex.h"
#include "verify/list_signature.h"
#include "verify/program_keys.h"

namespace {

// A resource id as UpdateResourceW takes it: a number, or a name kept as text.
struct ResourceId {
  WORD number = 0;
  std::wstring name;
  ResourceId(LPCWSTR id) {
    if (IS_INTRESOURCE(id)) number = LOWORD(reinterpret_cast<ULONG_PTR>(id));
    else name = id;
  }
  LPCWSTR get() const { return name.empty() ? MAKEINTRESOURCEW(number) : name.c_str(); }
};

struct Resource {
  ResourceId type, name;
  WORD language;
  std::string bytes;
};

struct Collection {
  HMODULE module;
  std::vector<Resource> kept;
  bool failed = false;
};

bool IsKeys(LPCWSTR type, LPCWSTR name) {
  return type == RT_RCDATA && !IS_INTRESOURCE(name) && lstrcmpiW(name, kProgramKeysResource) == 0;
}

BOOL CALLBACK KeepLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language,
                           LONG_PTR context) {
  auto* collection = reinterpret_cast<Collection*>(context);
  if (IsKeys(type, name)) return TRUE;
  HRSRC found = FindResourceExW(module, type, name, language);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) {
    collection->failed = true;
    return FALSE;
  }
  collection->kept.push_back({ResourceId(type), ResourceId(name), language,
                              std::string(static_cast<const char*>(bytes),
                                          SizeofResource(module, found))});
  return TRUE;
}

BOOL CALLBACK KeepName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
  EnumResourceLanguagesW(module, type, name, KeepLanguage, context);
  return TRUE;
}

BOOL CALLBACK KeepType(HMODULE module, LPWSTR type, LONG_PTR context) {
  EnumResourceNamesW(module, type, KeepName, context);
  return TRUE;
}

// The keys of the arguments, 64 bytes each; false (with a message) on a malformed one.
bool ParseKeys(int count, wchar_t** arguments, std::string* keys) {
  for (int i = 0; i < count; ++i) {
    std::wstring text = arguments[i];
    for (wchar_t& unit : text) {
      if (unit == L';' || unit == L',') unit = L' ';
    }
    size_t at = 0;
    while (at < text.size()) {
      const size_t start = text.find_first_not_of(L' ', at);
      if (start == std::wstring::npos) break;
      const size_t end = std::min(text.find(L' ', start), text.size());
      const std::wstring key = text.substr(start, end - start);
      uint8_t bytes[kPublicKeyBytes];
      if (key.size() != 2 * kPublicKeyBytes || !ParseHexText(key.c_str(), bytes, kPublicKeyBytes)) {
        fwprintf(stderr, L"velto-stamp-keys: not a key of 128 hex digits: %ls\n", key.c_str());
        return false;
      }
      keys->append(reinterpret_cast<const char*>(bytes), kPublicKeyBytes);
      at = end;
    }
  }
  if (keys->empty()) fwprintf(stderr, L"velto-stamp-keys: no key given\n");
  return !keys->empty();
}

// Every resource but VELTOKEYS is written back as it was and the keys as the one
// language-neutral VELTOKEYS: deleting a single resource with UpdateResourceW is not
// done everywhere (Wine keeps it), so the program's resources are rewritten whole.
bool Stamp(const wchar_t* program, std::string& keys) {
  Collection collection;
  collection.module = LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!collection.module) return false;
  EnumResourceTypesW(collection.module, KeepType, reinterpret_cast<LONG_PTR>(&collection));
  FreeLibrary(collection.module);
  if (collection.failed) return false;
  HANDLE update = BeginUpdateResourceW(program, TRUE);
  if (!update) return false;
  bool written = true;
  for (Resource& resource : collection.kept) {
    written = written && UpdateResourceW(update, resource.type.get(), resource.name.get(),
                                         resource.language, resource.bytes.data(),
                                         DWORD(resource.bytes.size()));
  }
  written = written && UpdateResourceW(update, RT_RCDATA, kProgramKeysResource,
                                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), keys.data(),
                                       DWORD(keys.size()));
  return EndUpdateResourceW(update, written ? FALSE : TRUE) && written;
}

bool HoldsExactly(const wchar_t* program, const std::string& keys) {
  HMODULE module = LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return false;
  const ProgramKeys held = LoadProgramKeys(module);
  const bool same = held.keys && size_t(held.count) * kPublicKeyBytes == keys.size() &&
                    memcmp(held.keys, keys.data(), keys.size()) == 0;
  FreeLibrary(module);
  return same;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: velto-stamp-keys PROGRAM.exe KEY[;KEY...] [KEY...]\n");
    return 2;
  }
  std::string keys;
  if (!ParseKeys(argc - 2, argv + 2, &keys)) return 2;
  if (!Stamp(argv[1], keys)) {
    fwprintf(stderr, L"velto-stamp-keys: %ls could not be updated (error %lu)\n", argv[1],
             GetLastError());
    return 1;
  }
  if (!HoldsExactly(argv[1], keys)) {
    fwprintf(stderr, L"velto-stamp-keys: %ls does not read back the keys written\n", argv[1]);
    return 1;
  }
  wprintf(L"velto-stamp-keys: %ls now holds %d key(s)\n", argv[1], int(keys.size() / kPublicKeyBytes));
  return 0;
}
