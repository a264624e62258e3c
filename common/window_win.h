#pragma once

#include <windows.h>

namespace talvex {

// The x position that centres a window of `width` pixels on the desktop; 0 for a negative
// width or when the desktop's rectangle can't be read.
int centre_x(int width);

}  // namespace talvex
