// The sample grabber's media subtype for the screen's colour depth, shared by the capture
// graph and the inspector's playback.
#pragma once

#include <dshow.h>

namespace talvex {

// RGB555 for 16 bits, RGB24 for 24, RGB32 for 32, RGB8 for 8 and any other depth.
const GUID& grabber_subtype(int screen_bits);
// The bits per pixel of the screen now.
int screen_bits();

}  // namespace talvex
