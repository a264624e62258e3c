// The WinInet calls of the upload, as a table that tests replace to provoke failures.
#pragma once

#include <windows.h>

#include <wininet.h>

namespace talvex {

struct WinInetCalls {
  HINTERNET(WINAPI* open)(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags);
  HINTERNET(WINAPI* connect)
  (HINTERNET session, LPCSTR server, INTERNET_PORT port, LPCSTR user, LPCSTR password,
   DWORD service, DWORD flags, DWORD_PTR context);
  HINTERNET(WINAPI* open_remote_file)
  (HINTERNET connection, LPCSTR name, DWORD access, DWORD flags, DWORD_PTR context);
  BOOL(WINAPI* write)(HINTERNET file, LPCVOID data, DWORD size, LPDWORD written);
  BOOL(WINAPI* close)(HINTERNET handle);
  BOOL(WINAPI* rename)(HINTERNET connection, LPCSTR from, LPCSTR to);
  BOOL(WINAPI* remove)(HINTERNET connection, LPCSTR name);
};
WinInetCalls& wininet_calls();

// How long WinInet may wait on a server that stops answering.
constexpr DWORD kFtpTimeoutMs = 10000;

}  // namespace talvex
