// Opens the fallback page (Win32 edge).
#pragma once

// Opens the page in the person's default browser, exactly as signed, while
// the link is there (splash/fallback_link.h); otherwise does nothing. The
// window stays as it is. On the window's thread.
void OpenFallbackPage();
