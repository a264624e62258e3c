#include "capture/grabber_type_dshow.h"

namespace talvex {

const GUID& grabber_subtype(int screen_bits) {
  switch (screen_bits) {
    case 16:
      return MEDIASUBTYPE_RGB555;
    case 24:
      return MEDIASUBTYPE_RGB24;
    case 32:
      return MEDIASUBTYPE_RGB32;
    default:
      return MEDIASUBTYPE_RGB8;
  }
}

int screen_bits() {
  HDC screen = ::GetDC(nullptr);
  const int bits = ::GetDeviceCaps(screen, BITSPIXEL);
  ::ReleaseDC(nullptr, screen);
  return bits;
}

}  // namespace talvex
