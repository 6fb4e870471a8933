// The resources compiled into VeltoSetup.exe, read back from the built program: what the
// resource compiler made of the script (implied styles, the UTF-8 texts) and of the art.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/setup_state.h"
#include "ui/resource.h"

namespace {

class Program {
 public:
  Program()
      : module_(LoadLibraryExW(VT_SETUP_EXE, nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~Program() {
    if (module_) FreeLibrary(module_);
  }
  // The bytes of a resource; empty when it is missing.
  std::string Bytes(const wchar_t* type, int id) const {
    HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), type);
    if (!found) return std::string();
    const void* data = LockResource(LoadResource(module_, found));
    return data ? std::string(static_cast<const char*>(data), SizeofResource(module_, found))
                : std::string();
  }
  HMODULE module() const { return module_; }

 private:
  HMODULE module_;
};

// Reads a DLGTEMPLATEEX front to back.
class TemplateReader {
 public:
  explicit TemplateReader(const std::string& bytes) : bytes_(bytes) {}
  template <typename T>
  T Read() {
    T value{};
    if (offset_ + sizeof(T) <= bytes_.size()) std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
    offset_ += sizeof(T);
    return value;
  }
  std::wstring Text() {
    std::wstring text;
    for (wchar_t unit; (unit = Read<wchar_t>()) != 0 && offset_ <= bytes_.size();) text += unit;
    return text;
  }
  // A name or an ordinal; ordinals come back as "#<number>".
  std::wstring NameOrOrdinal() {
    const wchar_t first = Read<wchar_t>();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Read<uint16_t>());
    if (first == 0) return L"";
    return std::wstring(1, first) + Text();
  }
  void AlignToDword() { offset_ = (offset_ + 3) & ~size_t(3); }
  void Skip(size_t count) { offset_ += count; }

 private:
  const std::string& bytes_;
  size_t offset_ = 0;
};

struct Control {
  DWORD style;
  int16_t x, y, cx, cy;
  int32_t id;
  std::wstring className;
  std::wstring text;
};

constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
constexpr DWORD kText = kShown | SS_LEFT | WS_GROUP;
constexpr DWORD kButton = kShown | BS_PUSHBUTTON | WS_TABSTOP;
// Class ordinals of the predefined controls.
const std::wstring kButtonClass = L"#128";
const std::wstring kStaticClass = L"#130";

TEST(Resources, DialogTemplateHasTheStepsInTabOrder) {
  Program program;
  const std::string bytes = program.Bytes(RT_DIALOG, IDD_SETUP);
  ASSERT_FALSE(bytes.empty());
  TemplateReader reader(bytes);
  EXPECT_EQ(reader.Read<uint16_t>(), 1);
  EXPECT_EQ(reader.Read<uint16_t>(), 0xFFFF);  // extended template
  reader.Read<DWORD>();
  EXPECT_EQ(reader.Read<DWORD>(), 0u);
  EXPECT_EQ(reader.Read<DWORD>(), DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT |
                                        DS_MODALFRAME | DS_CENTERMOUSE));
  const uint16_t count = reader.Read<uint16_t>();
  EXPECT_EQ(reader.Read<int16_t>(), 0);
  EXPECT_EQ(reader.Read<int16_t>(), 0);
  EXPECT_EQ(reader.Read<int16_t>(), 300);
  EXPECT_EQ(reader.Read<int16_t>(), 231);
  EXPECT_EQ(reader.NameOrOrdinal(), L"");  // no menu
  EXPECT_EQ(reader.NameOrOrdinal(), L"");  // the standard dialog class
  EXPECT_EQ(reader.Text(), L"Velto インストール");
  EXPECT_EQ(reader.Read<uint16_t>(), 11);
  EXPECT_EQ(reader.Read<uint16_t>(), 400);
  EXPECT_EQ(reader.Read<uint8_t>(), 0);    // not italic
  EXPECT_EQ(reader.Read<uint8_t>(), 128);  // SHIFTJIS_CHARSET
  EXPECT_EQ(reader.Text(), L"MS UI Gothic");

  const Control expected[] = {
      {kText, 93, 86, 200, 8, 1003, kStaticClass, L"インストール済みの.NET Framework 4.Xのバージョン"},
      {kButton | WS_DISABLED, 38, 84, 50, 14, 1005, kButtonClass, L"インストール"},
      {kButton, 233, 210, 53, 14, 1002, kButtonClass, L"終了"},
      {kShown | SS_ICON, 9, 69, 16, 17, 1004, kStaticClass, L""},
      {kText, 31, 72, 247, 8, -1, kStaticClass, L"1:.NET Framework 4.6.1以降が必要です"},
      {kText, 93, 133, 200, 8, 1007, kStaticClass, L"インストール済みのLocalDBのバージョン"},
      {kButton | WS_DISABLED, 38, 131, 50, 14, 1009, kButtonClass, L"インストール"},
      {kShown | SS_ICON, 9, 116, 16, 17, 1008, kStaticClass, L""},
      {kText, 31, 119, 247, 8, -1, kStaticClass, L"2:SQL Server LocalDB 2014以降が必要です"},
      {kText, 40, 100, 253, 8, 1006, kStaticClass, L".NET Frameworkインストーラーのダウンロード中です"},
      {kText, 40, 147, 253, 8, 1010, kStaticClass, L"LocalDBインストーラーのダウンロード中です"},
      {kText, 93, 180, 200, 8, 1011, kStaticClass, L"インストール済みのVeltoシステムのバージョン"},
      {kButton | WS_DISABLED, 38, 178, 50, 14, 1013, kButtonClass, L"インストール"},
      {kShown | SS_ICON, 9, 163, 16, 17, 1012, kStaticClass, L""},
      {kText, 31, 166, 247, 8, 1015, kStaticClass, L"3:Veltoシステムをインストールします"},
      {kText, 40, 194, 253, 8, 1014, kStaticClass, L"Veltoシステムインストーラーのダウンロード中です"},
      {kShown | SS_BITMAP, 7, 7, 20, 20, 1016, kStaticClass, L""},
  };
  ASSERT_EQ(count, std::size(expected));
  for (const Control& want : expected) {
    reader.AlignToDword();
    reader.Read<DWORD>();  // help id
    EXPECT_EQ(reader.Read<DWORD>(), 0u) << want.id;
    EXPECT_EQ(reader.Read<DWORD>(), want.style) << want.id;
    EXPECT_EQ(reader.Read<int16_t>(), want.x) << want.id;
    EXPECT_EQ(reader.Read<int16_t>(), want.y) << want.id;
    EXPECT_EQ(reader.Read<int16_t>(), want.cx) << want.id;
    EXPECT_EQ(reader.Read<int16_t>(), want.cy) << want.id;
    EXPECT_EQ(reader.Read<int32_t>(), want.id);
    std::wstring className = reader.NameOrOrdinal();
    if (_wcsicmp(className.c_str(), L"Button") == 0) className = kButtonClass;
    if (_wcsicmp(className.c_str(), L"Static") == 0) className = kStaticClass;
    EXPECT_EQ(className, want.className) << want.id;
    EXPECT_EQ(reader.NameOrOrdinal(), want.text) << want.id;
    reader.Skip(reader.Read<uint16_t>());
  }
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

// (width, bit count) of every image of an icon group, 256 written as 256.
std::vector<std::pair<int, int>> IconImages(const Program& program, int id) {
  const std::string bytes = program.Bytes(RT_GROUP_ICON, id);
  std::vector<std::pair<int, int>> images;
  if (bytes.size() < 6) return images;
  const WORD count = *reinterpret_cast<const WORD*>(bytes.data() + 4);
  for (WORD i = 0; i < count && 6 + (i + 1) * sizeof(GroupIconEntry) <= bytes.size(); ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, bytes.data() + 6 + i * sizeof(GroupIconEntry), sizeof(entry));
    images.emplace_back(entry.width ? entry.width : 256, entry.bitCount);
  }
  return images;
}

TEST(Resources, IconGroupsHaveTheirSizesAndColourDepths) {
  Program program;
  using Images = std::vector<std::pair<int, int>>;
  EXPECT_EQ(IconImages(program, IDI_SETUP),
            (Images{{256, 32}, {128, 32}, {64, 32}, {48, 32}, {32, 32}, {24, 32}, {16, 32}}));
  EXPECT_EQ(IconImages(program, IDI_DONE), (Images{{32, 8}}));
  EXPECT_EQ(IconImages(program, IDI_CURRENT), (Images{{32, 8}}));
  EXPECT_EQ(IconImages(program, IDI_PENDING), (Images{{16, 8}}));
  // Each mark is a real, loadable icon.
  for (int id : {IDI_SETUP, IDI_DONE, IDI_CURRENT, IDI_PENDING}) {
    EXPECT_NE(LoadIconW(program.module(), MAKEINTRESOURCEW(id)), nullptr) << id;
  }
}

uint32_t BigEndian(const std::string& bytes, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

TEST(Resources, BannerIsAnInterlacedRgbPng) {
  Program program;
  const std::string png = program.Bytes(L"PNG", IDR_BANNER);
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(BigEndian(png, 16), 570u);
  EXPECT_EQ(BigEndian(png, 20), 97u);
  EXPECT_EQ(png[24], 8);  // bits per channel
  EXPECT_EQ(png[25], 2);  // RGB
  EXPECT_EQ(png[28], 1);  // Adam7
}

TEST(Resources, ManifestAsksForCommonControls6AndTheUsersRights) {
  Program program;
  const std::string manifest = program.Bytes(RT_MANIFEST, 1);
  for (const char* part : {
           "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
           "level=\"asInvoker\" uiAccess=\"false\"",
           "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10
       }) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

std::wstring VersionString(const std::vector<char>& info, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\041104b0\\") + name;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || !value) return L"";
  return static_cast<const wchar_t*>(value);
}

TEST(Resources, VersionInformationNamesTheProductAndTheSetupRevision) {
  const DWORD size = GetFileVersionInfoSizeW(VT_SETUP_EXE, nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(VT_SETUP_EXE, 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), DWORD(kSetupRevision));
  EXPECT_EQ(HIWORD(fixed->dwProductVersionMS), DWORD(kSetupRevision));
  EXPECT_EQ(VersionString(info, L"ProductName"), L"Velto Setup");
  EXPECT_EQ(VersionString(info, L"FileVersion"), std::to_wstring(kSetupRevision));
  EXPECT_EQ(VersionString(info, L"OriginalFilename"), L"VeltoSetup.exe");
  EXPECT_FALSE(VersionString(info, L"FileDescription").empty());
}

}  // namespace
