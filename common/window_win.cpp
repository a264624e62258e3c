#include "common/window_win.h"

namespace talvex {

int centre_x(int width) {
  if (width < 0) return 0;
  RECT desktop;
  if (!::GetWindowRect(::GetDesktopWindow(), &desktop)) return 0;
  return ((desktop.right - desktop.left) - width) / 2;
}

}  // namespace talvex
