// The splash's colours and its two images: the painter's alone. Portable: no
// <windows.h>.
#pragma once

#include <atomic>
#include <cstdint>

// A GDI+ image of the Win32 edge (splash/splash_image_win.h).
struct GpImage;

struct SplashLook {
  std::uint32_t backgroundColor;
  std::uint32_t textColor;
  std::uint32_t hintColor;
  // Decoded by start-up on the main thread, before the window shows; null
  // once the painter's static layer holds them, until the next layer.
  std::atomic<GpImage*> tileImage;
  std::atomic<GpImage*> logoImage;
};

static_assert(std::atomic<GpImage*>::is_always_lock_free);

extern SplashLook splashLook;
