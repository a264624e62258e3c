#pragma once

#include <windows.h>

namespace talvex {

// Shows the text of `number` in a plain OK box owned by `owner` and returns the box's
// result; shows nothing and returns the number itself when the caption is missing or the
// number lies outside the program's catalogue.
int message_box(HWND owner, const char* caption, int number);

}  // namespace talvex
