// Hashing, signature and pin checks against Wine's real bcrypt.dll, with keys the test
// makes itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_signing.h"
#include "support/test_support.h"
#include "verify/hex.h"
#include "verify/list_signature.h"
#include "verify/pinned_file.h"
#include "verify/program_keys.h"
#include "verify/sha256.h"
#include "verify/streamed_sha256.h"

namespace {

std::string HexOf(const uint8_t* bytes, size_t count) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < count; ++i) {
    snprintf(pair, sizeof(pair), "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

TEST(ParseHex, AcceptsExactlyTheRightNumberOfDigitsInEitherCase) {
  const struct {
    const char* text;
    bool valid;
  } cases[] = {
      {"00ff10Ab", true},  {"00FF10AB", true},   {"00ff10a", false},  {"00ff10ab0", false},
      {"00ff10ag", false}, {"00 f10ab", false},  {"", false},         {"\xC0" "0ff10ab", false},
      {"0x0f10ab", false}, {"00ff10a\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    uint8_t out[4] = {};
    EXPECT_EQ(ParseHex(c.text, strlen(c.text), out, 4), c.valid);
    if (c.valid) {
      EXPECT_EQ(HexOf(out, 4), "00ff10ab");
    }
  }
  uint8_t pin[kSha256Bytes];
  EXPECT_TRUE(ParseHexText(std::wstring(64, L'A').c_str(), pin, kSha256Bytes));
  EXPECT_FALSE(ParseHexText(std::wstring(65, L'a').c_str(), pin, kSha256Bytes));
  EXPECT_FALSE(ParseHexText(std::wstring(63, L'a').c_str(), pin, kSha256Bytes));
  EXPECT_FALSE(ParseHexText(nullptr, pin, kSha256Bytes));
  // A wide unit whose low byte is a digit is not one.
  std::wstring wide(64, L'a');
  wide[5] = wchar_t(0x0130);
  EXPECT_FALSE(ParseHexText(wide.c_str(), pin, kSha256Bytes));
}

TEST(Sha256, HashesWholeFilesInBlocksFromTheirStart) {
  TempFolder temp;
  const struct {
    std::string bytes;
    const char* digest;  // published test vectors
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    WriteFileBytes(temp / L"f", c.bytes);
    UniqueFile file(CreateFileW((temp / L"f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    // Wherever the handle stands, the whole file counts.
    LARGE_INTEGER middle = {};
    middle.QuadPart = LONGLONG(c.bytes.size() / 2);
    SetFilePointerEx(file.get(), middle, nullptr, FILE_BEGIN);
    uint8_t digest[kSha256Bytes];
    ASSERT_TRUE(Sha256OfFile(file.get(), digest));
    EXPECT_EQ(HexOf(digest, kSha256Bytes), c.digest);
    ASSERT_TRUE(Sha256OfBytes(c.bytes.data(), uint32_t(c.bytes.size()), digest));
    EXPECT_EQ(HexOf(digest, kSha256Bytes), c.digest);
  }
}

// The digest taken while a transfer writes: only bytes that arrived in order from the
// first count; a transfer that starts again from 0 starts the digest again.
TEST(StreamedSha256, CoversTheFileOnlyWhenEveryByteArrivedInOrder) {
  const std::string content = RandomBytes(3 * (1 << 20) + 12345, 3);  // more than two blocks
  const std::string other = RandomBytes(5000, 4);
  struct Write {
    uint32_t offset;
    uint32_t size;
    bool other;  // bytes of `other` (a first file that the server made start again)
  };
  const uint32_t kChunk = 8192;
  const struct {
    const char* name;
    std::vector<Write> writes;  // empty size: the rest of content in chunks from offset
    bool covered;
  } cases[] = {
      {"fresh", {{0, 0, false}}, true},
      {"resumed within the same watch", {{0, 40000, false}, {40000, 0, false}}, true},
      {"started again from 0", {{0, 5000, true}, {0, 0, false}}, true},
      {"resumed from a partial file it never saw", {{40000, 0, false}}, false},
      {"a gap", {{0, 40000, false}, {40001, 0, false}}, false},
      {"nothing written", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StreamedSha256 streamed;
    for (const Write& write : c.writes) {
      const std::string& bytes = write.other ? other : content;
      const uint32_t end = write.size ? write.offset + write.size : uint32_t(bytes.size());
      for (uint32_t at = write.offset; at < end; at += kChunk) {
        StreamedSha256::Add(&streamed, at, bytes.data() + at, std::min(kChunk, end - at));
      }
    }
    uint8_t digest[kSha256Bytes];
    uint32_t size = 0;
    ASSERT_EQ(streamed.Finish(digest, &size), c.covered);
    if (!c.covered) continue;
    uint8_t expected[kSha256Bytes];
    ASSERT_TRUE(Sha256OfBytes(content.data(), uint32_t(content.size()), expected));
    EXPECT_EQ(size, content.size());
    EXPECT_EQ(HexOf(digest, kSha256Bytes), HexOf(expected, kSha256Bytes));
  }
}

TEST(ListSignature, OneLineThatVerifiesWithOneKeyIsEnough) {
  const TestSigningKey publisher;
  const TestSigningKey newPublisher;
  const TestSigningKey stranger;
  const std::string list = "\xEF\xBB\xBF" "0,1,,,20200101_0000,V\r\n1,setup\r\n";
  std::string changed = list;
  changed[10] ^= 1;
  const std::string good = publisher.SignatureLine(list);
  std::string flipped = good;
  flipped[7] = flipped[7] == '0' ? '1' : '0';
  const std::string oneKey = publisher.PublicKey();
  const std::string twoKeys = stranger.PublicKey() + newPublisher.PublicKey();
  // About one signature in 256 has an r (or s) whose first byte is 0: it must verify too.
  const auto signedWithZeroAt = [&](size_t digit) {
    std::string line = good;
    for (int i = 0; i < 8192 && line.compare(digit, 2, "00") != 0; ++i) {
      line = publisher.SignatureLine(list);
    }
    EXPECT_EQ(line.substr(digit, 2), "00");
    return line + "\n";
  };

  const struct {
    const char* name;
    std::string signature;
    const std::string* keys;
    ListSignature verdict;
  } cases[] = {
      {"signed by the key", good + "\n", &oneKey, ListSignature::kVerified},
      {"r begins with a zero byte", signedWithZeroAt(0), &oneKey, ListSignature::kVerified},
      {"s begins with a zero byte", signedWithZeroAt(64), &oneKey, ListSignature::kVerified},
      {"without a line end, upper case", [&] {
         std::string upper = good;
         for (char& c : upper) c = char(toupper(c));
         return upper;
       }(), &oneKey, ListSignature::kVerified},
      {"the list with one byte changed", publisher.SignatureLine(changed) + "\n", &oneKey,
       ListSignature::kNoKeyMatches},
      {"one digit of the signature changed", flipped + "\n", &oneKey, ListSignature::kNoKeyMatches},
      {"signed by an unknown key", stranger.SignatureLine(list) + "\n", &oneKey,
       ListSignature::kNoKeyMatches},
      {"empty", "", &oneKey, ListSignature::kNoSignatureLine},
      {"garbage", "not a signature\r\n\x01\x02\xff\r\n", &oneKey, ListSignature::kNoSignatureLine},
      {"a line one digit too long", good + "0\n", &oneKey, ListSignature::kNoSignatureLine},
      {"a line one digit short", good.substr(1) + "\n", &oneKey, ListSignature::kNoSignatureLine},
      {"blank around the line", " " + good + "\n", &oneKey, ListSignature::kNoSignatureLine},
      {"several lines, the last one good",
       "junk\r\n" + stranger.SignatureLine(list) + "\r\n\r\n" + good + "\r\n", &oneKey,
       ListSignature::kVerified},
      {"lines ended by CR alone", flipped + "\r" + good + "\r", &oneKey, ListSignature::kVerified},
      {"two keys in the program, signed by the second",
       newPublisher.SignatureLine(list) + "\n", &twoKeys, ListSignature::kVerified},
      {"two keys in the program, signed by neither", good + "\n", &twoKeys,
       ListSignature::kNoKeyMatches},
  };
  uint8_t digest[kSha256Bytes];
  ASSERT_TRUE(Sha256OfBytes(list.data(), uint32_t(list.size()), digest));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckSignatureText(digest, c.signature.data(), c.signature.size(),
                                 reinterpret_cast<const uint8_t*>(c.keys->data()),
                                 int32_t(c.keys->size() / kPublicKeyBytes)),
              c.verdict);
  }

  // The files: absent, overlong (refused unread, even with a good line in it), good.
  TempFolder temp;
  WriteFileBytes(temp / L"list", list);
  UniqueFile handle(CreateFileW((temp / L"list").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  const auto* keys = reinterpret_cast<const uint8_t*>(oneKey.data());
  EXPECT_EQ(CheckListSignature(handle.get(), (temp / L"none.sig").c_str(), keys, 1),
            ListSignature::kMissing);
  WriteFileBytes(temp / L"big.sig", good + "\n" + std::string(kMaxSignatureFileBytes, '\n'));
  EXPECT_EQ(CheckListSignature(handle.get(), (temp / L"big.sig").c_str(), keys, 1),
            ListSignature::kOverlong);
  WriteFileBytes(temp / L"good.sig", std::string(4000, '\n') + good + "\n");
  EXPECT_EQ(CheckListSignature(handle.get(), (temp / L"good.sig").c_str(), keys, 1),
            ListSignature::kVerified);
  EXPECT_EQ(CheckListSignature(handle.get(), (temp / L"good.sig").c_str(), nullptr, 0),
            ListSignature::kNoKeyMatches);
}

TEST(PinnedFile, IsHeldAgainstChangeOnlyWhenItMatches) {
  TempFolder temp;
  const std::wstring path = temp / L"installer.exe";
  WriteFileBytes(path, "abc");
  uint8_t pin[kSha256Bytes];
  ASSERT_TRUE(ParseHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", 64, pin,
                       kSha256Bytes));
  PinCheck check = PinCheck::kUnreadable;
  {
    UniqueFile held = OpenPinnedFile(path.c_str(), pin, &check);
    ASSERT_TRUE(held);
    EXPECT_EQ(check, PinCheck::kMatches);
    // While held: no writer, no rename, no delete; readers (the process started) may open it.
    UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer);
    EXPECT_FALSE(MoveFileW(path.c_str(), (temp / L"moved.exe").c_str()));
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    UniqueFile reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader);
  }
  EXPECT_EQ(ReadFileBytes(path), "abc");

  WriteFileBytes(path, "abd");
  EXPECT_FALSE(OpenPinnedFile(path.c_str(), pin, &check));
  EXPECT_EQ(check, PinCheck::kDiffers);
  EXPECT_TRUE(DeleteFileW(path.c_str())) << "a refused file is not left open";
  EXPECT_FALSE(OpenPinnedFile(path.c_str(), pin, &check));
  EXPECT_EQ(check, PinCheck::kUnreadable);
}

TEST(ProgramKeys, ComeFromTheResourceAWholeKeyAtATime) {
  TempFolder temp;
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const struct {
    size_t bytes;
    int32_t count;
    bool present;
    // A resource in a language is not read: which one a lookup picks depends on the PC.
    WORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
  } cases[] = {{128, 2, true}, {64, 1, true}, {70, 1, true}, {10, 0, true}, {0, 0, false},
               {64, 0, true, 1033}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const std::wstring copy =
        temp / (L"keys" + std::to_wstring(c.bytes) + L"_" + std::to_wstring(c.language) + L".exe");
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
    if (c.bytes) {
      const std::string keys(c.bytes, '\x5A');
      HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
      ASSERT_TRUE(update);
      ASSERT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(10), L"VELTOKEYS", c.language,
                                  const_cast<char*>(keys.data()), DWORD(keys.size())));
      ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
    }
    HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module);
    const ProgramKeys keys = LoadProgramKeys(module);
    EXPECT_EQ(keys.count, c.count);
    EXPECT_EQ(keys.present, c.present);
    if (c.count) {
      EXPECT_EQ(keys.keys[63], 0x5A);
    }
    FreeLibrary(module);
  }
}

// The build makes VELTOKEYS language-neutral, and the stamp command replaces it: afterwards
// exactly the new keys verify, also where a stray VELTOKEYS in a language was added.
TEST(ProgramKeys, TheStampCommandReplacesTheBuiltInKeys) {
  TempFolder temp;
  const TestSigningKey vendor;
  std::wstring vendorHex;
  for (unsigned char byte : vendor.PublicKey()) {
    wchar_t digits[3];
    swprintf(digits, 3, L"%02x", byte);
    vendorHex += digits;
  }
  const std::string list = "0,1,,,20000101_0000,Velto\r\n";
  WriteFileBytes(temp / L"list.upd", list);
  WriteFileBytes(temp / L"list.sig", vendor.SignatureLine(list) + "\n");
  for (bool stray : {false, true}) {
    SCOPED_TRACE(stray ? "with a stray VELTOKEYS in language 1033" : "as built");
    const std::wstring copy = temp / L"program.exe";
    ASSERT_TRUE(CopyFileW(VT_KEYED_PROBE, copy.c_str(), FALSE));
    HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module);
    const ProgramKeys built = LoadProgramKeys(module);
    ASSERT_EQ(built.count, 1) << "the built-in key is read";
    EXPECT_EQ(built.keys[63], 0x3F);
    FreeLibrary(module);
    if (stray) {
      const std::string other(64, '\x11');
      HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
      ASSERT_TRUE(update);
      ASSERT_TRUE(UpdateResourceW(update, RT_RCDATA, L"VELTOKEYS", 1033,
                                  const_cast<char*>(other.data()), DWORD(other.size())));
      ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
    }
    std::wstring command = L"\"" VT_STAMP_KEYS L"\" \"" + copy + L"\" " + vendorHex;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);

    module = LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module);
    const ProgramKeys stamped = LoadProgramKeys(module);
    ASSERT_EQ(stamped.count, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stamped.keys), 64), vendor.PublicKey());
    UniqueFile listFile(CreateFileW((temp / L"list.upd").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(CheckListSignature(listFile.get(), (temp / L"list.sig").c_str(), stamped.keys,
                                 stamped.count),
              ListSignature::kVerified);
    FreeLibrary(module);
  }
}

}  // namespace
