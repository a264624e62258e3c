// Stands in for the capture program in the installer's end-to-end tests: it notes that it
// was started, its working directory and its command line in "Talvex_started.txt" in that
// directory, and ends.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  char directory[MAX_PATH] = {};
  ::GetCurrentDirectoryA(MAX_PATH, directory);
  if (std::FILE* f = std::fopen("Talvex_started.txt", "wb")) {
    std::fprintf(f, "%s\n%s\n", directory, command_line ? command_line : "");
    std::fclose(f);
  }
  return 0;
}
