#include "support/test_signing.h"

#include <gtest/gtest.h>

#include "state/setup_state.h"

namespace {

std::string Hex(const unsigned char* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

void Digest(const std::string& bytes, unsigned char digest[32]) {
  BCRYPT_ALG_HANDLE sha = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ASSERT_GE(BCryptOpenAlgorithmProvider(&sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0), 0);
  ASSERT_GE(BCryptCreateHash(sha, &hash, nullptr, 0, nullptr, 0, 0), 0);
  BCryptHashData(hash, (PUCHAR)bytes.data(), ULONG(bytes.size()), 0);
  ASSERT_GE(BCryptFinishHash(hash, digest, 32, 0), 0);
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(sha, 0);
}

}  // namespace

TestSigningKey::TestSigningKey() {
  EXPECT_GE(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0), 0);
  EXPECT_GE(BCryptGenerateKeyPair(algorithm_, &key_, 256, 0), 0);
  EXPECT_GE(BCryptFinalizeKeyPair(key_, 0), 0);
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64] = {};
  ULONG size = 0;
  EXPECT_GE(BCryptExportKey(key_, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof(blob), &size, 0), 0);
  public_.assign(reinterpret_cast<const char*>(blob + sizeof(BCRYPT_ECCKEY_BLOB)), 64);
}

TestSigningKey::~TestSigningKey() {
  if (key_) BCryptDestroyKey(key_);
  if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
}

std::string TestSigningKey::SignatureLine(const std::string& bytes) const {
  unsigned char digest[32];
  Digest(bytes, digest);
  unsigned char signature[64];
  ULONG size = 0;
  EXPECT_GE(BCryptSignHash(key_, nullptr, digest, 32, signature, 64, &size, 0), 0);
  return Hex(signature, 64);
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[32];
  Digest(bytes, digest);
  return Hex(digest, 32);
}

void SetProgramKeys(const std::string& keys) {
  gSetup.updateKeys = keys.empty() ? nullptr : reinterpret_cast<const uint8_t*>(keys.data());
  gSetup.updateKeyCount = int32_t(keys.size() / 64);
  gSetup.updateKeysPresent = !keys.empty();
}

bool WriteProgramKeys(const std::wstring& program, const std::string& keys) {
  HANDLE update = BeginUpdateResourceW(program.c_str(), FALSE);
  if (!update) return false;
  const bool written =
      UpdateResourceW(update, MAKEINTRESOURCEW(10), L"VELTOKEYS",
                      MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                      const_cast<char*>(keys.data()), DWORD(keys.size())) != FALSE;
  return EndUpdateResourceW(update, !written) && written;
}
