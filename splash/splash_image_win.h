// The GDI+ image wrapper of the splash: a native image handle and the status
// of the call that made it. The splash's two images are loaded once at
// start-up and never released.
#pragma once

#include "resources/splash_artwork.h"
#include "splash/gdiplus_flat_win.h"

class Image {
 public:
  GpImage* nativeImage;
  GpStatus lastResult;
};

// Decodes a PNG held in memory into a new Image. Null when the object cannot
// be allocated; a failed decode gives an Image with a null native handle and
// the failure as its status, which draws nothing.
Image* LoadEmbeddedImage(const EmbeddedFile& png);

// The native handle of `image`, or null for a missing image.
GpImage* NativeImage(const Image* image);
