#include "ui/banner.h"

#include <objbase.h>
#include <gdiplus.h>

namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

// The geometry in pixels of a banner 97 pixels high, scaled to the height asked for.
constexpr REAL kDesignHeight = 97;

struct Canvas {
  GpGraphics* graphics = nullptr;
  REAL scale = 1;
  REAL At(REAL designPixels) const { return designPixels * scale; }
};

// A band from deep blue on the left to teal on the right.
void DrawBand(const Canvas& canvas, int width, int height) {
  const GpPoint left = {0, 0};
  const GpPoint right = {width, 0};
  GpLineGradient* band = nullptr;
  if (GdipCreateLineBrushI(&left, &right, 0xFF0E3060, 0xFF1696B8, WrapModeTileFlipX, &band) != Ok) {
    return;
  }
  GdipFillRectangleI(canvas.graphics, band, 0, 0, width, height);
  GdipDeleteBrush(band);
}

// The mark: a rounded blue tile with a white V.
void DrawMark(const Canvas& canvas) {
  const REAL size = canvas.At(68);
  const REAL x = canvas.At(20);
  const REAL y = canvas.At((kDesignHeight - 68) / 2);
  const REAL inset = size * 0.04f;
  const REAL side = size - 2 * inset;
  const REAL round = size * 0.34f;
  GpPath* tile = nullptr;
  if (GdipCreatePath(FillModeAlternate, &tile) != Ok) return;
  const REAL left = x + inset, top = y + inset, right = left + side - round,
             bottom = top + side - round;
  GdipAddPathArc(tile, left, top, round, round, 180, 90);
  GdipAddPathArc(tile, right, top, round, round, 270, 90);
  GdipAddPathArc(tile, right, bottom, round, round, 0, 90);
  GdipAddPathArc(tile, left, bottom, round, round, 90, 90);
  GdipClosePathFigure(tile);
  const GpPoint from = {0, INT(top)};
  const GpPoint to = {0, INT(top + side + 1)};
  GpLineGradient* blue = nullptr;
  if (GdipCreateLineBrushI(&from, &to, 0xFF2F8FD8, 0xFF1854A6, WrapModeTileFlipX, &blue) == Ok) {
    GdipFillPath(canvas.graphics, blue, tile);
    GdipDeleteBrush(blue);
  }
  GdipDeletePath(tile);

  const REAL stroke = size * 0.15f;
  GpPen* pen = nullptr;
  if (GdipCreatePen1(0xFFFFFFFF, stroke, UnitPixel, &pen) != Ok) return;
  GdipSetPenLineJoin(pen, LineJoinRound);
  const GpPointF v[] = {{x + size * 0.25f, y + size * 0.28f},
                        {x + size * 0.47f, y + size * 0.74f},
                        {x + size * 0.76f, y + size * 0.24f}};
  GdipDrawLines(canvas.graphics, pen, v, 3);
  GdipDeletePen(pen);
  // Round ends as discs over the line's ends: a round line cap is drawn as a shape of its
  // own, whose seam shows on some renderers.
  GpSolidFill* white = nullptr;
  if (GdipCreateSolidFill(0xFFFFFFFF, &white) != Ok) return;
  for (int end = 0; end < 3; end += 2) {
    GdipFillEllipse(canvas.graphics, white, v[end].X - stroke / 2, v[end].Y - stroke / 2, stroke,
                    stroke);
  }
  GdipDeleteBrush(white);
}

// A line of lettering with its baseline at (x, y), in design pixels.
void Letter(HDC dc, const Canvas& canvas, const wchar_t* text, int emPixels, int weight,
            const wchar_t* face, BYTE charset, COLORREF colour, REAL x, REAL y) {
  HFONT font = CreateFontW(-INT(canvas.At(REAL(emPixels)) + 0.5f), 0, 0, 0, weight, FALSE, FALSE,
                           FALSE, charset, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS,
                           ANTIALIASED_QUALITY, DEFAULT_PITCH, face);
  if (!font) return;
  HGDIOBJ old = SelectObject(dc, font);
  SetTextColor(dc, colour);
  TextOutW(dc, INT(canvas.At(x)), INT(canvas.At(y)), text, lstrlenW(text));
  SelectObject(dc, old);
  DeleteObject(font);
}

}  // namespace

GdiplusSession::GdiplusSession() noexcept {
  const GdiplusStartupInput input;
  started_ = GdiplusStartup(&token_, &input, nullptr) == Ok;
}

GdiplusSession::~GdiplusSession() {
  if (started_) GdiplusShutdown(token_);
}

UniqueGdiObject DrawBanner(int width, int height) {
  if (width <= 0 || height <= 0) return UniqueGdiObject();
  HDC screen = GetDC(nullptr);
  UniqueGdiObject bitmap(CreateCompatibleBitmap(screen, width, height));
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  if (!bitmap || !dc) {
    if (dc) DeleteDC(dc);
    return UniqueGdiObject();
  }
  HGDIOBJ old = SelectObject(dc, bitmap.get());
  Canvas canvas;
  canvas.scale = REAL(height) / kDesignHeight;
  if (GdipCreateFromHDC(dc, &canvas.graphics) == Ok) {
    GdipSetSmoothingMode(canvas.graphics, SmoothingModeAntiAlias);
    GdipSetPixelOffsetMode(canvas.graphics, PixelOffsetModeHalf);
    DrawBand(canvas, width, height);
    DrawMark(canvas);
    GdipDeleteGraphics(canvas.graphics);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextAlign(dc, TA_LEFT | TA_BASELINE);
  Letter(dc, canvas, L"Velto", 40, FW_BOLD, L"Segoe UI", ANSI_CHARSET, RGB(255, 255, 255), 106, 50);
  // A Japanese face: where it is missing, the character set makes Windows take another.
  Letter(dc, canvas, L"業務システム セットアップ", 17, FW_NORMAL, L"Meiryo UI", SHIFTJIS_CHARSET,
         RGB(0xDD, 0xEE, 0xFF), 108, 78);
  SelectObject(dc, old);
  DeleteDC(dc);
  return bitmap;
}
