// The splash's colours and its two images: the painter's alone. Portable: no
// <windows.h>.
#pragma once

#include <atomic>
#include <cstdint>

// A GDI+ image wrapper of the Win32 edge (splash/splash_image_win.h).
class Image;

struct SplashLook {
  std::uint32_t backgroundColor;
  std::uint32_t textColor;
  std::uint32_t hintColor;
  // Loaded by start-up on the main thread, before the window shows.
  std::atomic<Image*> tileImage;
  std::atomic<Image*> logoImage;
};

static_assert(std::atomic<Image*>::is_always_lock_free);

extern SplashLook splashLook;
