// Random and mutated update lists through the scan and the loader: whatever the bytes,
// nothing crashes, nothing but the information file is written, and what reaches
// SetupState is terminated, bounded and names no path outside its folder.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "state/setup_state.h"
#include "catalog/comma_field.h"
#include "catalog/line_file.h"
#include "catalog/update_info.h"
#include "catalog/update_selection.h"
#include "catalog_test_support.h"
#include "support/test_support.h"
#include "util/strings.h"

namespace {

constexpr int kLists = 1500;
const std::string kMark = "\xEF\xBB\xBF";
const std::string kPriorInfo = kMark + "0,1,,,,Prior\r\n";
const char* const kLineEnds[] = {"\r\n", "\n", "\r", "\n\r", "\r\r\n"};
const char* const kNames[] = {"setupA", "..", ".", "..\\evil", "a/b", "C:x", "\\\\srv\\s\\x",
                              "\xE6\x9B\xB4\xE6\x96\xB0", "", " a ", "con", "x.upd"};

class ListGenerator {
 public:
  explicit ListGenerator(uint32_t seed) : random_(seed) {}

  std::string List() {
    std::string list = Chance(2) ? kMark : "";
    const int lines = Pick(16);
    for (int i = 0; i < lines; ++i) {
      list += Line();
      list += kLineEnds[Pick(std::size(kLineEnds))];
    }
    if (Chance(4)) list += Line();  // no line end after the last line
    if (Chance(4)) Mutate(list);
    return list;
  }

 private:
  int Pick(size_t count) { return int(random_() % count); }
  bool Chance(int oneIn) { return Pick(size_t(oneIn)) == 0; }

  std::string Stamp() {
    static const SYSTEMTIME now = {2027, 1, 5, 1, 0, 0, 30, 0};
    return StampAt(now, Pick(41) - 20);
  }

  std::string Number() {
    switch (Pick(7)) {
      case 0: return "99999999999999999999999";
      case 1: return "-" + std::to_string(random_());
      case 2: return std::to_string(Pick(8));
      case 3: return "0";
      default: return std::to_string(Pick(16) - 4);
    }
  }

  std::string Noise(size_t length) {
    std::string bytes(length, '\0');
    for (char& byte : bytes) byte = char(random_());
    return bytes;
  }

  std::string Name() {
    return Chance(8) ? std::string(200 + Pick(400), 'n') : kNames[Pick(std::size(kNames))];
  }

  std::string Line() {
    switch (Pick(10)) {
      case 0: return Noise(Pick(400));
      case 1: return std::string(500 + Pick(700), char('a' + Pick(26)));
      case 2: return std::string(Pick(2000), ',') + Number();
      case 3: return Chance(2) ? "" : "--" + Noise(Pick(20));
      case 4: return "-2,ProductNameShort," + Name();
      case 5: return "-1," + Number() + ",,," + Stamp() + "," + Name();
      default: {
        // A record of any type with up to seven fields: names, stamps, numbers.
        std::string line = Number();
        const int fields = Pick(8);
        for (int f = 1; f <= fields; ++f) {
          line += ",";
          if (f == 4) {
            line += Chance(5) ? Noise(Pick(16)) : Stamp();
          } else {
            line += (f == 1 || f == 5) && Chance(2) ? Name() : Number();
          }
        }
        return line;
      }
    }
  }

  void Mutate(std::string& list) {
    const int edits = 1 + Pick(8);
    for (int i = 0; i < edits && !list.empty(); ++i) {
      const size_t at = size_t(Pick(list.size()));
      switch (Pick(4)) {
        case 0: list[at] = char(random_()); break;
        case 1: list.insert(at, 1, Chance(2) ? '\r' : '\n'); break;
        case 2: list.erase(at, size_t(Pick(40))); break;
        default: list.insert(at, Noise(Pick(600))); break;
      }
    }
  }

  std::mt19937 random_;
};

std::vector<std::wstring> LinesOf(const std::wstring& path) {
  std::vector<std::wstring> lines;
  LineReader reader;
  if (!reader.Open(path.c_str())) return lines;
  for (HeapString line = reader.ReadLine(); line && lines.size() < 100000; line = reader.ReadLine()) {
    lines.push_back(line.get());
  }
  return lines;
}

std::set<std::wstring> FolderEntries(const std::wstring& folder) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.insert(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// Every line of the written information came from the list, in list order: settings,
// then at most one section header, and from it on settings and entries only.
void CheckWrittenSection(const std::vector<std::wstring>& list, const std::vector<std::wstring>& info) {
  size_t from = 0;
  bool headerSeen = false;
  for (const std::wstring& line : info) {
    while (from < list.size() && list[from] != line) ++from;
    ASSERT_LT(from, list.size()) << "a written line is not a line of the list: " << Narrow(line);
    ++from;
    ASSERT_FALSE(IsCommentLine(line.c_str()));
    const int32_t type = RecordType(line.c_str());
    ASSERT_TRUE(type == -2 || type == 0 || type >= 1) << Narrow(line);
    if (type == 0) {
      ASSERT_FALSE(headerSeen) << "two section headers";
      headerSeen = true;
    }
    ASSERT_TRUE(type < 1 || headerSeen) << "an entry before the section header";
  }
}

void CheckComponentFiles() {
  for (int i = 0; i < kComponentFileCount; ++i) {
    const auto& entry = gSetup.componentFiles[i];
    const wchar_t* end = std::find(std::begin(entry), std::end(entry), L'\0');
    ASSERT_NE(end, std::end(entry)) << "entry not terminated";
    ASSERT_LE(end - entry, 259);
    // A name that is no bare file name is kept only as a refused (missing) piece.
    ASSERT_EQ(entry[0] != L'\0' && !IsBareFileName(entry), gSetup.componentRefused[i])
        << Narrow(entry);
  }
}

TEST(Robustness, RandomListsThroughTheScanAndTheLoader) {
  TempFolder folder;
  const std::wstring list = folder / L"vtupdaterlist.upi";
  const std::wstring temp = folder / L"vtupdaterinfo.tmp";
  const std::wstring info = folder / L"vtupdaterinfo.upi";
  const std::set<std::wstring> allowed = {L"vtupdaterlist.upi", L"vtupdaterinfo.upi"};
  const uint32_t seed = 20261207;
  ListGenerator generator(seed);
  int selected = 0, selfUpdates = 0;
  for (int i = 0; i < kLists; ++i) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << ", list " << i);
    WriteFileBytes(info, kPriorInfo);
    WriteFileBytes(list, generator.List());
    HeapString setupBaseName;
    const ScanOutcome outcome =
        ScanUpdateList(list.c_str(), L"20270105_0100", temp.c_str(), info.c_str(), &setupBaseName);
    if (outcome == ScanOutcome::kSelfUpdate) {
      ++selfUpdates;
      RemoveTree(temp);
    }
    for (const std::wstring& name : FolderEntries(folder.path())) {
      ASSERT_EQ(allowed.count(name), 1u) << "written: " << Narrow(name);
    }
    // Either the new information stands whole or the earlier one is untouched.
    ASSERT_TRUE(outcome == ScanOutcome::kSelected || ReadFileBytes(info) == kPriorInfo);
    if (outcome == ScanOutcome::kSelected) {
      ++selected;
      ASSERT_EQ(ReadFileBytes(info).substr(0, 3), kMark);
      CheckWrittenSection(LinesOf(list), LinesOf(info));
      ResetSetupState();
      ASSERT_TRUE(ReadUpdateInfo(info.c_str()));
      CheckComponentFiles();
    }
    // The loader meets the raw list too, as it would a hand-edited information file.
    ResetSetupState();
    ASSERT_TRUE(ReadUpdateInfo(list.c_str()));
    CheckComponentFiles();
    if (HasFatalFailure()) return;
  }
  // The generator must reach every outcome, or the run proves little.
  EXPECT_GT(selected, kLists / 10);
  EXPECT_GT(selfUpdates, kLists / 20);
  ResetSetupState();
}

}  // namespace
