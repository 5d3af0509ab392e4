#include "splash/splash_image_win.h"

#include <objidl.h>
#include <shlwapi.h>

GpImage* LoadEmbeddedImage(const EmbeddedFile& png) {
  GpImage* image = nullptr;
  if (!GdiplusLoaded()) return image;
  // The stream holds its own copy of the bytes; the image takes a reference
  // of its own for as long as it reads from them.
  IStream* stream = SHCreateMemStream(png.bytes, png.size);
  gdiplus.GdipLoadImageFromStream(stream, &image);
  if (stream != nullptr) stream->Release();
  return image;
}
