// The signature of the update list: "vtupdaterlist.sig" beside the list on the server,
// one or more lines of 128 hex digits, each an ECDSA P-256 signature (r then s) of the
// SHA-256 of the list's exact bytes. Several lines let a publisher sign with an old and
// a new key while keys change; one line that verifies with one key is enough.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// A public key as the program holds it: X then Y of the P-256 point, big-endian.
inline constexpr size_t kPublicKeyBytes = 64;
// A signature file larger than this is refused unread: no publisher needs that many lines.
inline constexpr uint32_t kMaxSignatureFileBytes = 16 * 1024;

enum class ListSignature {
  kVerified,         // one line verifies with one key
  kMissing,          // no signature file, or it cannot be read
  kOverlong,         // larger than kMaxSignatureFileBytes
  kNoSignatureLine,  // not one line of 128 hex digits (an empty file too)
  kNoKeyMatches,     // lines of the right shape, but none verifies with any key
  kUnhashable,       // the list could not be read or hashed
};

// Short English words for the setup log.
const wchar_t* ListSignatureText(ListSignature verdict);

// True when signature (r then s) signs digest (a SHA-256) under the public key.
bool IsSignatureValid(const uint8_t digest[32], const uint8_t signature[64],
                      const uint8_t publicKey[kPublicKeyBytes]);

// The verdict for a signature file's text over the list's digest, with keyCount keys of
// kPublicKeyBytes each at keys. Lines end with LF, CR LF or CR; each is tried on its own.
ListSignature CheckSignatureText(const uint8_t digest[32], const char* text, size_t length,
                                 const uint8_t* keys, int32_t keyCount);

// The verdict for the list behind an open handle (read from its start) and the signature
// file at signaturePath.
ListSignature CheckListSignature(HANDLE list, const wchar_t* signaturePath, const uint8_t* keys,
                                 int32_t keyCount);
