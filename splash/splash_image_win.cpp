#include "splash/splash_image_win.h"

#include <objidl.h>
#include <shlwapi.h>

#include <cstring>
#include <new>

namespace {
// The allocation size of the platform's image object.
constexpr std::size_t kImageObjectSize = 16;
static_assert(sizeof(Image) <= kImageObjectSize);
}  // namespace

Image* LoadEmbeddedImage(const EmbeddedFile& png) {
  if (!GdiplusLoaded()) return nullptr;
  void* memory = gdiplus.GdipAlloc(kImageObjectSize);
  if (memory == nullptr) return nullptr;
  std::memset(memory, 0, kImageObjectSize);
  // The stream holds its own copy of the bytes. Its reference is never
  // released: GDI+ may read from it for as long as the image lives.
  IStream* stream = SHCreateMemStream(png.bytes, png.size);
  Image* image = new (memory) Image{nullptr, 0};
  image->lastResult = gdiplus.GdipLoadImageFromStream(stream, &image->nativeImage);
  return image;
}

GpImage* NativeImage(const Image* image) { return image ? image->nativeImage : nullptr; }
