// Whether Windows shows a high-contrast theme.
#pragma once

// Asks the system each time. Alone in its file, so that a test build can
// answer for a system with such a theme (Wine never reports one).
bool HighContrastOn();
