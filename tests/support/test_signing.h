// Signing keys made by the test itself (bcrypt, P-256), so no private key is ever on
// disk: the program's side of the signed update list, as a publisher would make it.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <string>

class TestSigningKey {
 public:
  TestSigningKey();
  ~TestSigningKey();
  TestSigningKey(const TestSigningKey&) = delete;
  TestSigningKey& operator=(const TestSigningKey&) = delete;

  // X then Y, 64 bytes: the form the program holds.
  const std::string& PublicKey() const { return public_; }
  // One line of the signature file for bytes: 128 hex digits (r then s), no line end.
  std::string SignatureLine(const std::string& bytes) const;

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
  std::string public_;
};

// The SHA-256 of bytes as 64 lower-case hex digits.
std::string Sha256Hex(const std::string& bytes);

// Hands the program the given public keys (concatenated, 64 bytes each) as if they came
// from its resource; the text must outlive their use. Empty: a program without keys.
void SetProgramKeys(const std::string& keys);

// Gives a setup program file the public keys its update list must be signed with
// (resource VELTOKEYS, 64 bytes per key), as a vendor does before code-signing it.
bool WriteProgramKeys(const std::wstring& program, const std::string& keys);
