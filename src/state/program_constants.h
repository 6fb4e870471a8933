// The program's fixed names and numbers: its identity, its files and its prerequisites'
// installers.
#pragma once

#include <cstdint>

// The single-instance mutex; a second start while it exists is refused.
inline constexpr wchar_t kInstanceMutexName[] = L"Local\\VTSETUPMUTEX201909171615";

// The program's own revision; a setup revision record above it replaces this program.
inline constexpr int32_t kSetupRevision = 4;
// The short product name until the update information names another one.
inline constexpr wchar_t kBuiltInShortName[] = L"Velto";
// The setup log's name in the work folder, unless "/log PATH" names another place.
inline constexpr wchar_t kSetupLogName[] = L"VeltoSetup.log";
// Title of the program's two error message boxes.
inline constexpr wchar_t kErrorTitle[] = L"Velto Setup - Error";

// Installer names of the prerequisites: on the update server / in the work folder.
inline constexpr wchar_t kDotNetRemoteName[] = L"ndp461.upd";
inline constexpr wchar_t kDotNetLocalName[] = L"ndp461.exe";
inline constexpr wchar_t kLocalDb2014x86RemoteName[] = L"ldb2014sp3x86.upd";
inline constexpr wchar_t kLocalDb2014x86LocalName[] = L"ldb2014sp3x86.msi";
inline constexpr wchar_t kLocalDb2014x64RemoteName[] = L"ldb2014sp3x64.upd";
inline constexpr wchar_t kLocalDb2014x64LocalName[] = L"ldb2014sp3x64.msi";
inline constexpr wchar_t kLocalDb2017x64RemoteName[] = L"ldb2017rtmx64.upd";
inline constexpr wchar_t kLocalDb2017x64LocalName[] = L"ldb2017rtmx64.msi";
