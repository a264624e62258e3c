#include "common/message_box_win.h"

#include "common/message_catalogue.h"

namespace talvex {

int message_box(HWND owner, const char* caption, int number) {
  const MessageCatalogue& catalogue = program_catalogue();
  if (caption == nullptr || !catalogue.contains(number)) return number;
  return ::MessageBoxA(owner, catalogue.text(number), caption, MB_OK);
}

}  // namespace talvex
