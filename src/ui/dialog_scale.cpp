#include "ui/dialog_scale.h"

#include "util/owners.h"

namespace {

// Reads an extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items),
// which the resource compiler writes as words, double words and strings in a row.
class TemplateReader {
 public:
  TemplateReader(const BYTE* bytes, DWORD size) : at_(bytes), end_(bytes + size) {}

  bool ok() const { return at_ <= end_; }
  WORD Word() { return WORD(Take(2)); }
  DWORD Dword() { return Take(4); }
  // A string, or a resource ordinal (0xFFFF and one word), which gives null.
  const wchar_t* String() {
    if (!Fits(2)) return nullptr;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(at_);
    if (*text == 0xFFFF) {
      at_ += 4;
      return nullptr;
    }
    while (Fits(2) && *reinterpret_cast<const wchar_t*>(at_) != 0) at_ += 2;
    at_ += 2;
    return text;
  }
  void Skip(DWORD bytes) { at_ += bytes; }
  void AlignToDword(const BYTE* base) { at_ += (4 - (at_ - base) % 4) % 4; }

 private:
  bool Fits(DWORD bytes) const { return DWORD(end_ - at_) >= bytes && at_ < end_; }
  DWORD Take(DWORD bytes) {
    DWORD value = 0;
    if (Fits(bytes)) {
      for (DWORD i = 0; i < bytes; ++i) value |= DWORD(at_[i]) << (8 * i);
    }
    at_ += bytes;
    return value;
  }
  const BYTE* at_;
  const BYTE* end_;
};

struct TemplateRect {
  short x, y, cx, cy;
};

TemplateRect ReadRect(TemplateReader& reader) {
  TemplateRect rect;
  rect.x = short(reader.Word());
  rect.y = short(reader.Word());
  rect.cx = short(reader.Word());
  rect.cy = short(reader.Word());
  return rect;
}

// Dialog base units of a font as the dialog manager takes them: the average width of
// the 52 Latin letters and the font's height.
SIZE BaseUnits(HFONT font) {
  SIZE units = {};
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics = {};
  SIZE letters = {};
  static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  if (GetTextMetricsW(dc, &metrics) && GetTextExtentPoint32W(dc, kLetters, 52, &letters)) {
    units.cx = (letters.cx / 26 + 1) / 2;
    units.cy = metrics.tmHeight;
  }
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return units;
}

RECT PixelRect(const TemplateRect& rect, SIZE units) {
  const int left = MulDiv(rect.x, units.cx, 4);
  const int top = MulDiv(rect.y, units.cy, 8);
  return {left, top, left + MulDiv(rect.cx, units.cx, 4), top + MulDiv(rect.cy, units.cy, 8)};
}

// Windows 10 1607 and later; looked up, so that the program still starts on Vista.
template <typename Function>
Function User32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The font of the dialog's latest layout: its controls draw with it until the next one.
UniqueGdiObject gLayoutFont;

}  // namespace

UINT WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
  UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
  if (!dpi) {
    HDC screen = GetDC(nullptr);
    dpi = UINT(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
  }
  return dpi ? dpi : kBaseDpi;
}

int ScaledPixels(int pixelsAt100, UINT dpi) { return MulDiv(pixelsAt100, int(dpi), kBaseDpi); }

namespace {

// The window's size for dpi into size; with apply, the controls and the window laid out
// for it as well.
bool Layout(HWND dialog, int templateId, UINT dpi, bool apply, const RECT* suggested,
            SIZE* size) {
  const HMODULE module = GetModuleHandleW(nullptr);
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(templateId), RT_DIALOG);
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const BYTE* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (!bytes) return false;
  TemplateReader reader(bytes, SizeofResource(module, resource));
  if (reader.Word() != 1 || reader.Word() != 0xFFFF) return false;  // not extended
  reader.Skip(8);                                                   // help id, extended style
  const DWORD style = reader.Dword();
  const WORD count = reader.Word();
  const TemplateRect frame = ReadRect(reader);
  reader.String();  // menu
  reader.String();  // class
  reader.String();  // caption
  if (!(style & DS_SETFONT)) return false;
  LOGFONTW face = {};
  const int points = reader.Word();
  face.lfHeight = -MulDiv(points, int(dpi), 72);
  face.lfWeight = LONG(reader.Word());
  const WORD italicAndCharset = reader.Word();
  face.lfItalic = LOBYTE(italicAndCharset);
  face.lfCharSet = HIBYTE(italicAndCharset);
  const wchar_t* faceName = reader.String();
  if (!reader.ok() || !faceName) return false;
  lstrcpynW(face.lfFaceName, faceName, LF_FACESIZE);
  UniqueGdiObject font(CreateFontIndirectW(&face));
  const SIZE units = font ? BaseUnits(static_cast<HFONT>(font.get())) : SIZE{};
  if (!units.cx || !units.cy) return false;

  // The controls were made from the template in its order, which they keep.
  HWND control = apply ? GetWindow(dialog, GW_CHILD) : nullptr;
  for (WORD i = 0; i < count && control; ++i, control = GetWindow(control, GW_HWNDNEXT)) {
    reader.AlignToDword(bytes);
    reader.Skip(12);  // help id, extended style, style
    const TemplateRect rect = ReadRect(reader);
    const DWORD id = reader.Dword();
    reader.String();  // class
    reader.String();  // text
    reader.Skip(reader.Word());
    if (!reader.ok() || short(GetDlgCtrlID(control)) != short(id)) return false;
    const RECT place = PixelRect(rect, units);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    SetWindowPos(control, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (apply) gLayoutFont = static_cast<UniqueGdiObject&&>(font);

  RECT window = PixelRect({0, 0, frame.cx, frame.cy}, units);
  using AdjustFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  const auto adjustForDpi = User32Function<AdjustFunction>("AdjustWindowRectExForDpi");
  const DWORD windowStyle = DWORD(GetWindowLongPtrW(dialog, GWL_STYLE));
  const DWORD exStyle = DWORD(GetWindowLongPtrW(dialog, GWL_EXSTYLE));
  if (!adjustForDpi || !adjustForDpi(&window, windowStyle, FALSE, exStyle, dpi)) {
    AdjustWindowRectEx(&window, windowStyle, FALSE, exStyle);
  }
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  *size = {width, height};
  if (!apply) return true;
  RECT now = {};
  GetWindowRect(dialog, &now);
  const int left = suggested ? suggested->left : (now.left + now.right - width) / 2;
  const int top = suggested ? suggested->top : (now.top + now.bottom - height) / 2;
  SetWindowPos(dialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(dialog, nullptr, TRUE);
  return true;
}

}  // namespace

bool LayOutForDpi(HWND dialog, int templateId, UINT dpi, const RECT* suggested) {
  SIZE size = {};
  return Layout(dialog, templateId, dpi, true, suggested, &size);
}

bool WindowSizeForDpi(HWND dialog, int templateId, UINT dpi, SIZE* size) {
  return Layout(dialog, templateId, dpi, false, nullptr, size);
}
