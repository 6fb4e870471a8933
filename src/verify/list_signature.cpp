#include "verify/list_signature.h"

#include "verify/bcrypt_owners.h"
#include "verify/hex.h"
#include "verify/sha256.h"

namespace {

UniqueKey ImportPublicKey(BCRYPT_ALG_HANDLE algorithm, const uint8_t publicKey[kPublicKeyBytes]) {
  uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeyBytes];
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kPublicKeyBytes / 2};
  CopyMemory(blob, &header, sizeof(header));
  CopyMemory(blob + sizeof(header), publicKey, kPublicKeyBytes);
  UniqueKey key;
  if (!Succeeded(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob,
                                     sizeof(blob), 0))) {
    return UniqueKey();
  }
  return key;
}

}  // namespace

const wchar_t* ListSignatureText(ListSignature verdict) {
  switch (verdict) {
    case ListSignature::kVerified: return L"verified";
    case ListSignature::kMissing: return L"signature file missing or unreadable";
    case ListSignature::kOverlong: return L"signature file too large";
    case ListSignature::kNoSignatureLine: return L"no signature line in the signature file";
    case ListSignature::kNoKeyMatches: return L"no signature verifies with the program's keys";
    case ListSignature::kUnhashable: return L"the list could not be read";
  }
  return L"?";
}

bool IsSignatureValid(const uint8_t digest[32], const uint8_t signature[64],
                      const uint8_t publicKey[kPublicKeyBytes]) {
  UniqueAlgorithm algorithm;
  if (!Succeeded(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM,
                                             nullptr, 0))) {
    return false;
  }
  UniqueKey key = ImportPublicKey(algorithm.get(), publicKey);
  if (!key) return false;
  // bcrypt takes non-const pointers but only reads through them.
  return Succeeded(BCryptVerifySignature(key.get(), nullptr, const_cast<uint8_t*>(digest), 32,
                                         const_cast<uint8_t*>(signature), 64, 0));
}

ListSignature CheckSignatureText(const uint8_t digest[32], const char* text, size_t length,
                                 const uint8_t* keys, int32_t keyCount) {
  bool shaped = false;
  size_t start = 0;
  while (text && start < length) {
    size_t end = start;
    while (end < length && text[end] != '\n' && text[end] != '\r') ++end;
    uint8_t signature[kSignatureBytes];
    if (ParseSignatureLine(text + start, end - start, signature)) {
      shaped = true;
      for (int32_t k = 0; keys && k < keyCount; ++k) {
        if (IsSignatureValid(digest, signature, keys + size_t(k) * kPublicKeyBytes)) {
          return ListSignature::kVerified;
        }
      }
    }
    start = end + 1;
  }
  return shaped ? ListSignature::kNoKeyMatches : ListSignature::kNoSignatureLine;
}

ListSignature CheckListSignature(HANDLE list, const wchar_t* signaturePath, const uint8_t* keys,
                                 int32_t keyCount) {
  uint8_t digest[kSha256Bytes];
  if (!Sha256OfFile(list, digest)) return ListSignature::kUnhashable;
  if (!signaturePath) return ListSignature::kMissing;
  UniqueFile file(CreateFileW(signaturePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ListSignature::kMissing;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size)) return ListSignature::kMissing;
  if (size.QuadPart > kMaxSignatureFileBytes) return ListSignature::kOverlong;
  char text[kMaxSignatureFileBytes];
  DWORD read = 0;
  if (!ReadFile(file.get(), text, sizeof(text), &read, nullptr)) return ListSignature::kMissing;
  return CheckSignatureText(digest, text, read, keys, keyCount);
}
