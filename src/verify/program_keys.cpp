#include "verify/program_keys.h"

#include "verify/list_signature.h"

namespace {

constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

struct KeyLanguages {
  int32_t count = 0;
  bool neutral = false;
};

BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
  auto* languages = reinterpret_cast<KeyLanguages*>(context);
  ++languages->count;
  if (language == kNeutral) languages->neutral = true;
  return TRUE;
}

}  // namespace

ProgramKeys LoadProgramKeys(HMODULE module) {
  ProgramKeys result;
  KeyLanguages languages;
  EnumResourceLanguagesW(module, RT_RCDATA, kProgramKeysResource, CountLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  if (languages.count == 0) return result;
  // A lookup picks among languages by the user's UI language: with more than the one
  // language-neutral resource, which keys count would depend on the PC. Such a program
  // holds keys (it demands a signature) but none that verify.
  if (languages.count != 1 || !languages.neutral) {
    result.present = true;
    return result;
  }
  HRSRC resource = FindResourceExW(module, RT_RCDATA, kProgramKeysResource, kNeutral);
  if (!resource) return result;
  const DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (size == 0) return result;
  result.present = true;
  if (!bytes) return result;
  result.keys = static_cast<const uint8_t*>(bytes);
  result.count = int32_t(size / kPublicKeyBytes);
  return result;
}
