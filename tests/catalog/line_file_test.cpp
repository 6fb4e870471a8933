#include <gtest/gtest.h>

#include <shlwapi.h>

#include <string>
#include <vector>

#include "catalog/comma_field.h"
#include "catalog/line_file.h"
#include "support/test_support.h"

namespace {

const std::string kMark = "\xEF\xBB\xBF";
// "更新情報" in UTF-8.
const std::string kJapaneseUtf8 = "\xE6\x9B\xB4\xE6\x96\xB0\xE6\x83\x85\xE5\xA0\xB1";
const std::wstring kJapanese = L"更新情報";

std::wstring Oem(const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  const int units = MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), int(bytes.size()), text.data(),
                                        int(text.size()));
  text.resize(units);
  return text;
}

std::vector<std::wstring> ReadAllLines(const std::wstring& path) {
  std::vector<std::wstring> lines;
  LineReader reader;
  EXPECT_TRUE(reader.Open(path.c_str()));
  // Bounded: a reader that hands out the same bytes again would otherwise never end.
  for (int i = 0; i < 10000; ++i) {
    HeapString line = reader.ReadLine();
    if (!line) break;
    lines.push_back(line.get());
  }
  EXPECT_FALSE(reader.ReadLine()) << "the end of the file is reported again";
  reader.Close();
  reader.Close();
  return lines;
}

struct ReadCase {
  const char* name;
  std::string bytes;
  std::vector<std::wstring> lines;
};

TEST(LineReader, SplitsLinesAsTheBufferRulesSay) {
  const std::string x510(510, 'x'), x511(511, 'x'), x512(512, 'x'), x1023(1023, 'x');
  const std::wstring w510(510, L'x'), w511(511, L'x');
  const ReadCase cases[] = {
      {"empty file", "", {}},
      {"only the mark", kMark, {}},
      {"one byte", "x", {L"x"}},
      {"two bytes", "xy", {L"xy"}},
      {"CR LF and an empty line", "x\r\n\r\ny\r\n", {L"x", L"", L"y"}},
      {"lone CR and lone LF", "x\ry\nz\r\n", {L"x", L"y", L"z"}},
      {"LF CR is two line ends", "x\n\ry\r\n", {L"x", L"", L"y"}},
      {"line ends alone", "\r\n\n\r", {L"", L"", L""}},
      {"text after the last line end", "a\r\nb", {L"a", L"b"}},
      {"mark and text without line end", kMark + "a,b", {L"a,b"}},
      {"Japanese after the mark", kMark + kJapaneseUtf8 + "\r\n", {kJapanese}},
      // Without the mark the same bytes are OEM text, not UTF-8 and not the ANSI code page.
      {"Japanese without the mark", kJapaneseUtf8 + "\r\n", {Oem(kJapaneseUtf8)}},
      {"two bytes of the mark only", "\xEF\xBB", {Oem("\xEF\xBB")}},
      {"510 bytes before CR LF fit", x510 + "\r\ny\r\n", {w510, L"y"}},
      {"510 bytes after the mark fit", kMark + x510 + "\r\n", {w510}},
      {"511 bytes before a lone LF fit", x511 + "\ny\n", {w511, L"y"}},
      {"511 bytes before a lone CR fit", x511 + "\ry\r", {w511, L"y"}},
      {"511 bytes at the end of the file", x511, {w511}},
      {"511 bytes before CR LF do not fit", "a\r\n" + x511 + "\r\ny\r\n", {L"a", L"y"}},
      {"512 bytes before LF do not fit", x512 + "\ny\n", {L"y"}},
      {"an overlong line's tail is no record", "a\n" + x510 + "xx1,evil,,,,\r\nb\n", {L"a", L"b"}},
      {"CR LF of an overlong line split by the buffer", x1023 + "\r\ny\r\n", {L"y"}},
      {"overlong line at the end of the file", "a\r\n" + x1023, {L"a"}},
      {"overlong lines in a row", x512 + "\n" + x512 + "\r" + x512 + "\r\nz", {L"z"}},
  };
  TempFolder temp;
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(temp / L"list.upi", c.bytes);
    EXPECT_EQ(ReadAllLines(temp / L"list.upi"), c.lines);
  }
}

TEST(LineReader, ReadsManyLinesAcrossBufferRefills) {
  TempFolder temp;
  std::string bytes = kMark;
  std::vector<std::wstring> expected;
  for (int i = 0; i < 300; ++i) {
    const std::string line = std::to_string(i) + "," + std::string(i % 37, 'a');
    bytes += line + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
    expected.push_back(Widen(line));
  }
  WriteFileBytes(temp / L"list.upi", bytes);
  EXPECT_EQ(ReadAllLines(temp / L"list.upi"), expected);
}

TEST(LineReader, OpenFailsForMissingFilesAndLeavesNothingOpen) {
  TempFolder temp;
  LineReader reader;
  EXPECT_FALSE(reader.Open((temp / L"missing.upi").c_str()));
  EXPECT_FALSE(reader.Open(nullptr));
  EXPECT_FALSE(reader.file);
  EXPECT_FALSE(reader.buffer);
  EXPECT_FALSE(reader.ReadLine());
  reader.Close();
}

TEST(LineWriter, WritesTheMarkAndCrLfLinesThatReadBack) {
  TempFolder temp;
  const std::wstring path = temp / L"info.tmp";
  LineWriter writer;
  ASSERT_TRUE(writer.Open(path.c_str()));
  EXPECT_TRUE(writer.WriteLine(L"abc"));
  EXPECT_TRUE(writer.WriteLine(L""));
  EXPECT_TRUE(writer.WriteLine(kJapanese.c_str()));
  writer.Close();
  writer.Close();
  EXPECT_EQ(ReadFileBytes(path), kMark + "abc\r\n\r\n" + kJapaneseUtf8 + "\r\n");
  EXPECT_EQ(ReadAllLines(path), (std::vector<std::wstring>{L"abc", L"", kJapanese}));

  // Open truncates an existing file.
  ASSERT_TRUE(writer.Open(path.c_str()));
  EXPECT_TRUE(writer.WriteLine(L""));
  writer.Close();
  EXPECT_EQ(ReadFileBytes(path), kMark + "\r\n");
}

TEST(LineWriter, WritesOnlyLinesThatAReaderTakes) {
  TempFolder temp;
  const std::wstring path = temp / L"info.tmp";
  const std::wstring kanji170(170, L'更');  // 510 bytes in UTF-8
  LineWriter writer;
  ASSERT_TRUE(writer.Open(path.c_str()));
  EXPECT_TRUE(writer.WriteLine(std::wstring(510, L'x').c_str()));
  EXPECT_FALSE(writer.WriteLine(std::wstring(511, L'x').c_str()));
  EXPECT_TRUE(writer.WriteLine(kanji170.c_str()));
  EXPECT_FALSE(writer.WriteLine((kanji170 + L"x").c_str()));
  writer.Close();
  EXPECT_EQ(ReadAllLines(path), (std::vector<std::wstring>{std::wstring(510, L'x'), kanji170}));
}

TEST(LineWriter, ReportsWhatItCannotWrite) {
  TempFolder temp;
  LineWriter writer;
  EXPECT_FALSE(writer.WriteLine(L"x")) << "no file open";
  EXPECT_FALSE(writer.Open((temp / L"missing\\info.tmp").c_str()));
  EXPECT_FALSE(writer.WriteLine(L"x"));

  // A device that takes no bytes: the file opens, the mark cannot be written.
  EXPECT_FALSE(writer.Open(L"Z:\\dev\\full"));
  EXPECT_TRUE(writer.file) << "the handle stays held until Close";
  EXPECT_FALSE(writer.WriteLine(L"x"));
  writer.Close();
  EXPECT_FALSE(writer.file);
}

struct FieldCase {
  const wchar_t* line;
  int32_t index;
  const wchar_t* field;  // null: absent
};

TEST(CommaField, TakesFieldsBetweenCommasWithoutTrimming) {
  const FieldCase cases[] = {
      {L"a,b", 0, L"a"},     {L"a,b", 1, L"b"},      {L"a,b", 2, nullptr},
      {L"abc", 0, nullptr},  {L"", 0, nullptr},      {L"a,,c", 1, L""},
      {L"a,", 1, L""},       {L",b", 0, L""},        {L" a , b", 1, L" b"},
      {L" a , b", 0, L" a "}, {L",", 0, L""},        {L",", 1, L""},
      {L",", 2, nullptr},    {L"0,1,2,3,4,5", 5, L"5"}, {L"0,1,2,3,4,5", 6, nullptr},
      {L"a,b", -1, nullptr}, {nullptr, 0, nullptr},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "line=" << (c.line ? c.line : L"<null>") << " index=" << c.index);
    HeapString field = CommaField(c.line, c.index);
    ASSERT_EQ(bool(field), c.field != nullptr);
    if (field) {
      EXPECT_STREQ(field.get(), c.field);
    }
  }
}

TEST(FieldNumber, ReadsFieldsAsStrToIntWDoes) {
  const struct {
    const wchar_t* field;
    int32_t value;
  } cases[] = {
      {L"12", 12},   {L"-2", -2},     {L"007", 7},   {L"12b", 12},  {L"x", 0},
      {L"+5", 0},    {L" 5", 0},      {L"", 0},      {L"-", 0},     {L"--5", 0},
      {L"-0", 0},    {L"1 2", 1},     {L"2147483647", 2147483647},
      {L"-2147483648", INT32_MIN},   {L"2147483648", INT32_MIN},
      {L"4294967297", 1},             {L"99999999999999999999", 1661992959},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "field='" << c.field << "'");
    // The platform's reader is the reference the table is checked against as well.
    EXPECT_EQ(FieldNumber(c.field), c.value);
    EXPECT_EQ(FieldNumber(c.field), StrToIntW(c.field));
  }
  EXPECT_EQ(FieldNumber(nullptr), 0);
}

}  // namespace
