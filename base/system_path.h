// The system's buffers for a folder or file path (the system folder, the
// local application-data folder, a downloaded file): 259 units and a NUL.
#pragma once

#include <cstddef>

inline constexpr std::size_t kSystemPathCapacity = 260;
