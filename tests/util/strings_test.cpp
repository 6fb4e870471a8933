#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "util/strings.h"

namespace {

struct JoinCase {
  const wchar_t* first;
  const wchar_t* second;
  const wchar_t* path;    // JoinPath
  const wchar_t* concat;  // ConcatString
};

TEST(Strings, JoinPathAndConcatFollowTheSeparatorRules) {
  const JoinCase cases[] = {
      {L"C:\\x\\", L"y", L"C:\\x\\y", L"C:\\x\\y"},
      {L"C:\\x", L"y", L"C:\\x\\y", L"C:\\xy"},
      {L"C:", L"y", L"C:y", L"C:y"},
      {L"http://h/", L"n", L"http://h/n", L"http://h/n"},
      {L"", L"x", L"\\x", L"x"},
      {L"C:\\x\\", L"\\y", L"C:\\x\\\\y", L"C:\\x\\\\y"},
      {L"ab", L".upi", L"ab\\.upi", L"ab.upi"},
      {L"a", L"", L"a\\", L"a"},
      {nullptr, L"y", nullptr, nullptr},
      {L"x", nullptr, nullptr, nullptr},
  };
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "first=" << (c.first ? c.first : L"<null>")
                                    << " second=" << (c.second ? c.second : L"<null>"));
    EXPECT_EQ(Text(JoinPath(c.first, c.second)), c.path ? c.path : L"<null>");
    EXPECT_EQ(Text(ConcatString(c.first, c.second)), c.concat ? c.concat : L"<null>");
  }
}

TEST(Strings, ParentFolderEndsWithTheSeparatorAboveTheLastName) {
  const struct {
    const wchar_t* path;
    const wchar_t* parent;
  } cases[] = {
      {L"C:\\a\\b.exe", L"C:\\a\\"}, {L"C:\\a\\", L"C:\\"},   {L"C:", nullptr},
      {L"b.exe", nullptr},           {L"", nullptr},          {L"\\", nullptr},
      {L"a/b", L"a/"},               {L"C:b", L"C:"},         {L"\\\\srv\\s\\f", L"\\\\srv\\s\\"},
      {nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "path=" << (c.path ? c.path : L"<null>"));
    EXPECT_EQ(Text(ParentFolder(c.path)), c.parent ? c.parent : L"<null>");
  }
}

TEST(Strings, CopyStringHonoursItsCapacity) {
  wchar_t buffer[4] = {L'#', L'#', L'#', L'#'};
  CopyString(buffer, L"abcdef", 4);
  EXPECT_EQ(std::wstring(buffer), L"abc");

  wchar_t one[2] = {L'#', L'#'};
  CopyString(one, L"abc", 1);
  EXPECT_EQ(one[0], L'\0');
  EXPECT_EQ(one[1], L'#');

  wchar_t untouched[2] = {L'#', L'#'};
  CopyString(untouched, L"abc", 0);
  CopyString(untouched, nullptr, 2);
  CopyString(nullptr, L"abc", 2);
  EXPECT_EQ(untouched[0], L'#');
}

TEST(Strings, NewAndDuplicateDistinguishEmptyFromNull) {
  EXPECT_FALSE(NewString(0));
  EXPECT_FALSE(NewString(-5));
  HeapString zeros = NewString(3);
  ASSERT_TRUE(zeros);
  EXPECT_EQ(zeros.get()[0], L'\0');
  EXPECT_EQ(zeros.get()[2], L'\0');

  HeapString empty = DuplicateString(nullptr);
  ASSERT_TRUE(empty);
  EXPECT_EQ(Text(empty), L"");
  HeapString copy = DuplicateString(L"日本語");
  EXPECT_EQ(Text(copy), L"日本語");
}

TEST(Strings, BareFileNamesStayInsideTheirFolder) {
  for (const wchar_t* good : {L"setupA", L"a.b", L"..x", L"名前", L"CONSOLE.upi", L"nul2.upd",
                              L"COM0", L"LPT10", L"xnul", L"a b.upi", L"com.upd"}) {
    EXPECT_TRUE(IsBareFileName(good)) << good;
  }
  for (const wchar_t* bad :
       {L"", L".", L"..", L"...", L"a\\b", L"a/b", L"C:x", L"..\\x", L"a<b", L"a>b", L"a\"b",
        L"a|b", L"a?b", L"a*b", L"a\tb", L"a\x1f", L"a.", L"a ", L"setup.upi.", L"NUL",
        L"nul.upi", L"Con", L"prn.upd", L"aux.a.b", L"COM1", L"com9.upi", L"LPT1", L"lpt9.x"}) {
    EXPECT_FALSE(IsBareFileName(bad)) << bad;
  }
  EXPECT_FALSE(IsBareFileName(nullptr));
}

}  // namespace
