#include "verify/program_keys.h"

#include "verify/list_signature.h"

ProgramKeys LoadProgramKeys(HMODULE module) {
  ProgramKeys result;
  HRSRC resource = FindResourceW(module, L"VELTOKEYS", RT_RCDATA);
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
