// What a process holds, counted from outside it: the handles in the system's handle table
// (GetProcessHandleCount answers 0 under Wine) and its threads.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <cstring>
#include <vector>

namespace talvex::testing {

// 0 when the table cannot be read.
inline unsigned long process_handle_count(DWORD pid) {
  // SystemHandleInformation: a count, then one entry a handle.
  struct Entry {
    ULONG owner;
    UCHAR type;
    UCHAR flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<char> buffer(1 << 20);
  ULONG length = 0;
  LONG status;
  while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                         &length)) == kInfoLengthMismatch &&
         buffer.size() < (256u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return 0;
  ULONG count = 0;
  std::memcpy(&count, buffer.data(), sizeof count);
  const std::size_t first = sizeof(void*);  // the count, padded to the entries' alignment
  unsigned long mine = 0;
  for (ULONG i = 0; i < count && first + (i + 1) * sizeof(Entry) <= buffer.size(); ++i) {
    Entry e;
    std::memcpy(&e, buffer.data() + first + i * sizeof(Entry), sizeof e);
    if (e.owner == pid) ++mine;
  }
  return mine;
}

inline unsigned long process_thread_count(DWORD pid) {
  unsigned long threads = 0;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Thread32First(snapshot, &entry); more;
       more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == pid) ++threads;
  }
  ::CloseHandle(snapshot);
  return threads;
}

}  // namespace talvex::testing
