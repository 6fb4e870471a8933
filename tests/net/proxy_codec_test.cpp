#include <gtest/gtest.h>

#include <random>
#include <string>

#include "net/proxy_codec.h"
#include "support/servers/proxy_ini.h"
#include "support/test_support.h"

namespace {

std::wstring Decoded(const wchar_t* text, bool* ok = nullptr) {
  wchar_t output[kProxyValueUnits];
  wmemset(output, L'#', kProxyValueUnits);
  const bool result = DecodeProxyValue(text, output);
  if (ok) *ok = result;
  EXPECT_NE(wmemchr(output, L'\0', kProxyValueUnits), nullptr) << "no terminator in the buffer";
  return output;
}

int DecodedByte(const wchar_t* pair, uint32_t key) {
  const wchar_t* cursor = pair;
  uint8_t byte = 0;
  if (!DecodeProxyByte(&cursor, key, &byte)) return -1;
  EXPECT_EQ(cursor, pair + 2);
  return byte;
}

TEST(ProxyCodec, EachBitOfThePairLandsWhereTheTableSays) {
  // d is the pair's value (second character high), e the rearranged byte with key 0.
  struct Row { const wchar_t* pair; int e; };
  const Row rows[] = {
      {L"00", 0x24},  // bits 5 and 2 of e are inverted bits of d
      {L"10", 0x64},  // d bit 0 -> e bit 6
      {L"20", 0x34},  // d bit 1 -> e bit 4
      {L"40", 0x26},  // d bit 2 -> e bit 1
      {L"80", 0x25},  // d bit 3 -> e bit 0
      {L"01", 0xA4},  // d bit 4 -> e bit 7
      {L"02", 0x20},  // d bit 5 -> e bit 2, inverted
      {L"04", 0x04},  // d bit 6 -> e bit 5, inverted
      {L"08", 0x2C},  // d bit 7 -> e bit 3
      {L"FF", 0xDB},
  };
  for (const Row& row : rows) EXPECT_EQ(DecodedByte(row.pair, 0), row.e) << Narrow(row.pair);
  // The key nibble is applied to both halves.
  EXPECT_EQ(DecodedByte(L"00", 5), 0x24 ^ 0x55);
  EXPECT_EQ(DecodedByte(L"FF", 15), 0xDB ^ 0xFF);
}

TEST(ProxyCodec, DigitsReadCaseFreeAndOthersCountAsZero) {
  EXPECT_EQ(DecodedByte(L"aB", 3), DecodedByte(L"Ab", 3));
  EXPECT_EQ(DecodedByte(L"fe", 9), DecodedByte(L"FE", 9));
  EXPECT_EQ(DecodedByte(L"-0", 1), DecodedByte(L"00", 1));
  EXPECT_EQ(DecodedByte(L"0\x3042", 1), DecodedByte(L"00", 1));
  // Letters past F are worth 16 and more: G as the low part spills into bit 4, as the
  // high part it falls out of the byte.
  EXPECT_EQ(DecodedByte(L"G0", 0), DecodedByte(L"01", 0));
  EXPECT_EQ(DecodedByte(L"0G", 0), DecodedByte(L"00", 0));
  EXPECT_EQ(DecodedByte(L"0", 0), -1);
  EXPECT_EQ(DecodedByte(L"", 0), -1);
}

TEST(ProxyCodec, MalformedValuesFailWithAnEmptyTerminatedOutput) {
  bool ok = false;
  EXPECT_EQ(Decoded(L"", &ok), L"");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decoded(L"K", &ok), L"");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decoded(nullptr, &ok), L"");
  EXPECT_TRUE(ok);

  const std::wstring abc = EncodeProxyValue(L"abc");
  EXPECT_EQ(Decoded(abc.c_str(), &ok), L"abc");
  EXPECT_TRUE(ok);
  // An odd number of characters after the key character.
  EXPECT_EQ(Decoded((abc + L"1").c_str(), &ok), L"");
  EXPECT_FALSE(ok);
  // A group still open at the end: the first byte of a two-byte unit alone.
  const std::wstring wide = EncodeProxyValue(L"\x00E9");
  ASSERT_EQ(wide.size(), 5u);
  EXPECT_EQ(Decoded(wide.substr(0, 3).c_str(), &ok), L"");
  EXPECT_FALSE(ok);
}

TEST(ProxyCodec, HoldsAtMost255Characters) {
  bool ok = false;
  const std::wstring longest(255, L'x');
  EXPECT_EQ(Decoded(EncodeProxyValue(longest).c_str(), &ok), longest);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decoded(EncodeProxyValue(longest + L"x").c_str(), &ok), L"");
  EXPECT_FALSE(ok);
}

TEST(ProxyCodec, DecodesWhatTheTestEncoderWritesForRandomTexts) {
  std::mt19937 random(20240917);
  std::uniform_int_distribution<int> length(0, 255);
  std::uniform_int_distribution<int> keyCharacter(0x21, 0x7E);
  std::uniform_int_distribution<int> range(0, 3);
  for (int round = 0; round < 300; ++round) {
    std::wstring text(length(random), L'\0');
    // Mostly ASCII, two-byte and three-byte groups, Japanese and surrogate units.
    const int upper[] = {0x7F, 0x3FFF, 0xFFFF, 0x30FF};
    std::uniform_int_distribution<int> unit(1, upper[range(random)]);
    for (wchar_t& u : text) u = wchar_t(unit(random));
    const std::wstring encoded =
        EncodeProxyValue(text, wchar_t(keyCharacter(random)), round % 2 == 1);
    bool ok = false;
    EXPECT_EQ(Decoded(encoded.c_str(), &ok), text) << "round " << round;
    EXPECT_TRUE(ok);
  }
}

}  // namespace
