// The resources compiled into VeltoSetup.exe, read back from the built program: the art in
// the formats the dialog and Windows expect, the manifest and the version information.
// The dialog template's header is read here; its controls are checked through the dialog
// itself (setup_dialog_test.cpp).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "state/setup_state.h"
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

// The fixed part of an extended dialog template, up to the point size of its font.
#pragma pack(push, 2)
struct DialogHeader {
  WORD version, signature;
  DWORD helpId, extendedStyle, style;
  WORD items;
  short x, y, cx, cy;
  WORD menu, windowClass;  // both empty: no menu, the standard dialog class
};
#pragma pack(pop)

TEST(Resources, DialogTemplateAsksForItsStyleSizeAndJapaneseFont) {
  Program program;
  const std::string bytes = program.Bytes(RT_DIALOG, IDD_SETUP);
  ASSERT_GT(bytes.size(), sizeof(DialogHeader));
  DialogHeader header;
  std::memcpy(&header, bytes.data(), sizeof(header));
  EXPECT_EQ(header.signature, 0xFFFF);
  EXPECT_EQ(header.extendedStyle, 0u);
  EXPECT_EQ(header.style, DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_MODALFRAME |
                                DS_CENTERMOUSE));
  EXPECT_EQ(header.items, 23);
  // Wide enough for the longest status line at every display scale.
  EXPECT_EQ(header.cx, 340);
  EXPECT_EQ(header.cy, 231);
  EXPECT_EQ(header.menu, 0);
  EXPECT_EQ(header.windowClass, 0);
  // Caption, then point size, weight, italic, character set and typeface.
  const wchar_t* caption = reinterpret_cast<const wchar_t*>(bytes.data() + sizeof(header));
  EXPECT_STREQ(caption, L"Velto インストール");
  const char* font = reinterpret_cast<const char*>(caption + wcslen(caption) + 1);
  EXPECT_EQ(*reinterpret_cast<const WORD*>(font), 11);
  EXPECT_EQ(*reinterpret_cast<const WORD*>(font + 2), 400);
  EXPECT_EQ(font[4], 0);
  EXPECT_EQ(static_cast<unsigned char>(font[5]), SHIFTJIS_CHARSET);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(font + 6), L"MS UI Gothic");
}

uint32_t BigEndian(const std::string& bytes, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

// The entries of an icon group, in their order.
std::vector<GroupIconEntry> IconEntries(const Program& program, int id) {
  const std::string bytes = program.Bytes(RT_GROUP_ICON, id);
  std::vector<GroupIconEntry> entries;
  if (bytes.size() < 6) return entries;
  const WORD count = *reinterpret_cast<const WORD*>(bytes.data() + 4);
  for (WORD i = 0; i < count && 6 + (i + 1) * sizeof(GroupIconEntry) <= bytes.size(); ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, bytes.data() + 6 + i * sizeof(GroupIconEntry), sizeof(entry));
    entries.push_back(entry);
  }
  return entries;
}

// (width, bit count) of every image of an icon group, 256 written as 256.
std::vector<std::pair<int, int>> IconImages(const Program& program, int id) {
  std::vector<std::pair<int, int>> images;
  for (const GroupIconEntry& entry : IconEntries(program, id)) {
    images.emplace_back(entry.width ? entry.width : 256, entry.bitCount);
  }
  return images;
}

TEST(Resources, IconGroupsHaveTheirSizesAndColourDepths) {
  Program program;
  using Images = std::vector<std::pair<int, int>>;
  // What Windows asks for at 96, 144 and 192 DPI, and 256 for the shell's largest views.
  EXPECT_EQ(IconImages(program, IDI_SETUP),
            (Images{{256, 32}, {64, 32}, {48, 32}, {32, 32}, {24, 32}, {16, 32}}));
  // The step marks at 100, 125, 150 and 200 %.
  for (int id : {IDI_DONE, IDI_CURRENT, IDI_PENDING}) {
    EXPECT_EQ(IconImages(program, id), (Images{{32, 32}, {40, 32}, {48, 32}, {64, 32}})) << id;
  }
  // Each mark is a real, loadable icon.
  for (int id : {IDI_SETUP, IDI_DONE, IDI_CURRENT, IDI_PENDING}) {
    EXPECT_NE(LoadIconW(program.module(), MAKEINTRESOURCEW(id)), nullptr) << id;
  }
}

// The large images of the program icon are PNG-compressed, in the one PNG format Windows
// takes for an icon image (8-bit RGBA); the small ones are 32-bit bitmaps with alpha.
TEST(Resources, ProgramIconIsPngFromFortyEightPixelsUp) {
  Program program;
  for (const GroupIconEntry& entry : IconEntries(program, IDI_SETUP)) {
    const int width = entry.width ? entry.width : 256;
    const std::string image = program.Bytes(RT_ICON, entry.id);
    ASSERT_GT(image.size(), 40u) << width;
    EXPECT_EQ(image.size(), entry.bytes) << width;
    if (width >= 48) {
      EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << width;
      EXPECT_EQ(BigEndian(image, 16), uint32_t(width));
      EXPECT_EQ(BigEndian(image, 20), uint32_t(width));
      EXPECT_EQ(image[24], 8) << width;  // bits per channel
      EXPECT_EQ(image[25], 6) << width;  // RGBA
      EXPECT_EQ(image[28], 0) << width;  // not interlaced
    } else {
      BITMAPINFOHEADER header;
      std::memcpy(&header, image.data(), sizeof(header));
      EXPECT_EQ(header.biSize, sizeof(header)) << width;
      EXPECT_EQ(header.biWidth, width);
      EXPECT_EQ(header.biHeight, 2 * width);  // the image and its mask
      EXPECT_EQ(header.biBitCount, 32) << width;
      EXPECT_EQ(header.biCompression, DWORD(BI_RGB)) << width;
    }
  }
}

// Every size loads as an icon of that size: the PNG images too.
TEST(Resources, IconsLoadAtEverySize) {
  Program program;
  const std::pair<int, int> kLoads[] = {{IDI_SETUP, 16}, {IDI_SETUP, 24},  {IDI_SETUP, 32},
                                        {IDI_SETUP, 48}, {IDI_SETUP, 64},  {IDI_SETUP, 256},
                                        {IDI_DONE, 32},  {IDI_CURRENT, 40}, {IDI_PENDING, 48},
                                        {IDI_DONE, 64}};
  for (const auto& [id, size] : kLoads) {
    HICON icon = static_cast<HICON>(
        LoadImageW(program.module(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << id << " " << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info)) << size;
    BITMAP colour{};
    ASSERT_NE(info.hbmColor, nullptr) << size;
    ASSERT_NE(GetObjectW(info.hbmColor, sizeof(colour), &colour), 0) << size;
    EXPECT_EQ(colour.bmWidth, size);
    EXPECT_EQ(colour.bmHeight, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
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
           // Drawn at the monitor's scale: per-monitor v2, else per-monitor, else the system's.
           "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
           "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
           "PerMonitorV2, PerMonitor</dpiAwareness>",
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
