#include "ui/banner.h"

#include <objbase.h>
#include <gdiplus.h>

#include <cstring>
#include <utility>

#include "ui/resource.h"

namespace {

constexpr wchar_t kBannerResourceType[] = L"PNG";

}  // namespace

void GdiplusBitmapTraits::Close(Value value) noexcept {
  Gdiplus::DllExports::GdipDisposeImage(value);
}

BannerBitmap LoadBannerBitmap(HMODULE module) {
  BannerBitmap banner;
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_BANNER), kBannerResourceType);
  if (!resource) return banner;
  const DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (size == 0 || !bytes) return banner;

  banner.memory.reset(GlobalAlloc(GMEM_MOVEABLE, size));
  if (!banner.memory) return banner;
  void* copy = GlobalLock(banner.memory.get());
  if (!copy) return banner;
  std::memcpy(copy, bytes, size);
  GlobalUnlock(banner.memory.get());

  // The block stays ours (fDeleteOnRelease FALSE): it must outlive the stream.
  if (FAILED(CreateStreamOnHGlobal(banner.memory.get(), FALSE, banner.stream.put()))) {
    return banner;
  }
  Gdiplus::GpBitmap* decoded = nullptr;
  const Gdiplus::GpStatus status =
      Gdiplus::DllExports::GdipCreateBitmapFromStream(banner.stream.get(), &decoded);
  // A failed decode may still hand back an object; it is disposed all the same.
  UniqueGdiplusBitmap bitmap(decoded);
  if (status == Gdiplus::Ok) banner.bitmap = std::move(bitmap);
  return banner;
}

UniqueGdiObject BannerHandle(HMODULE module) {
  BannerBitmap banner = LoadBannerBitmap(module);
  if (!banner.bitmap) return UniqueGdiObject();
  HBITMAP handle = nullptr;
  const Gdiplus::GpStatus status =
      Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(banner.bitmap.get(), &handle, 0);
  return status == Gdiplus::Ok ? UniqueGdiObject(handle) : UniqueGdiObject();
}
