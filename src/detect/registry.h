// Registry readers. Every call opens its key, reads and closes it again, so what an
// installer writes shows at the next call. Nothing is ever written by the product.
#pragma once

#include <cstdint>

#include "util/owners.h"

// Whether this 32-bit program runs on 64-bit Windows (so a 64-bit registry view exists).
bool IsWow64();

// The view flag a read passes: for the 32-bit build, KEY_WOW64_64KEY when the 64-bit
// view is wanted and it runs under WOW64, else none; for the x86_64 build (which stands
// in for the 32-bit program on 64-bit Windows) KEY_WOW64_64KEY or KEY_WOW64_32KEY.
REGSAM RegistryViewFlag(bool build64Bit, bool wow64, bool want64BitView);

// The access mask for opening a key with the wanted rights in the default view, or in
// the 64-bit view when want64BitView is set and IsWow64() is true.
REGSAM RegistryAccess(REGSAM rights, bool want64BitView);

// The stored number, or defaultValue when the key cannot be opened or the value does not
// fit four bytes. The stored type is not looked at; a shorter value gives its bytes.
int32_t ReadRegDword(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                     int32_t defaultValue, bool want64BitView);

// The stored text of any length, always terminated (also when stored without its NUL);
// an empty text gives an empty string. Null when absent or unreadable.
HeapString ReadRegString(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                         bool want64BitView);

// The application's per-user registration and settings (HKEY_CURRENT_USER, 64-bit view
// wanted): "Installed", "Version", "VersionCode", "ServerTest".
inline constexpr wchar_t kProductRegistryKey[] = L"Software\\Qirana\\Velto3rd";

// The SQL Server LocalDB "Installed Versions" key, read in the default view.
inline constexpr wchar_t kLocalDbInstalledVersionsKey[] =
    L"SOFTWARE\\Microsoft\\Microsoft SQL Server Local DB\\Installed Versions";

// Name of subkey number index of the "Installed Versions" key; null past the last one,
// when the key is missing, or on failure.
HeapString EnumLocalDbVersion(uint32_t index);
