// The splash's images: GDI+ images decoded from the PNGs embedded in the
// exe. Start-up decodes both before the window shows; the painter lets them
// go once its static layer holds them, and decodes them again for the next
// layer.
#pragma once

#include "resources/splash_artwork.h"
#include "splash/gdiplus_flat_win.h"

// Decodes a PNG held in memory into a new GDI+ image. Null when GDI+ is
// missing or the decode fails, which draws nothing.
GpImage* LoadEmbeddedImage(const EmbeddedFile& png);
