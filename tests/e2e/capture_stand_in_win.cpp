// Stands in for the capture program in the installer's end-to-end tests: it notes that it
// was started, its working directory, its command line and the program that started it in
// "Talvex_started.txt" in that directory, and ends.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

// The file name of the process that started this one; empty when it can't be told.
std::string parent_program() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return {};
  const DWORD self = ::GetCurrentProcessId();
  DWORD parent = 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more;
       more = ::Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  std::string name;
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more && parent != 0;
       more = ::Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == parent) name = entry.szExeFile;
  }
  ::CloseHandle(snapshot);
  return name;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  char directory[MAX_PATH] = {};
  ::GetCurrentDirectoryA(MAX_PATH, directory);
  const std::string parent = parent_program();
  if (std::FILE* f = std::fopen("Talvex_started.txt", "wb")) {
    std::fprintf(f, "%s\n%s\n%s\n", directory, command_line ? command_line : "", parent.c_str());
    std::fclose(f);
  }
  return 0;
}
