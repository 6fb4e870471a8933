// Steps every stand-in installer shares (see standin_protocol.h).
#pragma once

#include <windows.h>

#include <string>

// Appends the raw command line to the record file named by the environment, or to
// fallbackPath when the variable is unset (no record when that is empty too).
void RecordCommandLine(const std::wstring& fallbackPath);

// Waits while the hold event exists and is not signalled, at most the hold limit.
void HoldWhileAsked();

// The value of an environment variable; empty when unset.
std::wstring EnvironmentValue(const wchar_t* name);

// Stores a number or a text under HKEY root\subkey in the given view; false on failure.
bool StoreRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value,
                   REGSAM view);
bool StoreRegString(HKEY root, const wchar_t* subkey, const wchar_t* name,
                    const std::wstring& value, REGSAM view);
