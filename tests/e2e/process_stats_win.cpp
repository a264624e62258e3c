// Prints the handle count, thread count and memory of the running processes of one
// executable name, as Windows counts them: "handles=N threads=N working_set_kb=N
// private_kb=N" per process. Used by scripts/soak.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

#include "tests/win/process_counts_win.h"

int main(int argc, char** argv) {
  const char* name = argc > 1 ? argv[1] : "Talvex.exe";
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int found = 0;
  for (BOOL more = ::Process32First(snapshot, &entry); more;
       more = ::Process32Next(snapshot, &entry)) {
    if (::_stricmp(entry.szExeFile, name) != 0) continue;
    HANDLE process =
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID);
    if (!process) continue;
    // Counted in the system's handle table: GetProcessHandleCount answers 0 under Wine.
    // Private memory is the commit charge: Wine 8 leaves PrivateUsage at 0.
    const unsigned long handles = talvex::testing::process_handle_count(entry.th32ProcessID);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof memory);
    std::printf("handles=%lu threads=%lu working_set_kb=%llu private_kb=%llu\n", handles,
                entry.cntThreads, static_cast<unsigned long long>(memory.WorkingSetSize / 1024),
                static_cast<unsigned long long>(memory.PagefileUsage / 1024));
    ::CloseHandle(process);
    ++found;
  }
  ::CloseHandle(snapshot);
  return found > 0 ? 0 : 2;
}
