// Stands for a DLL that someone without administrator rights put where the installer finds
// the compressor. Whichever process loads it appends a line to the file that the variable
// TALVEX_PLANTED_MARKER names, before any of its functions is called; it answers the calls
// of a COM server with success.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char marker[MAX_PATH] = {};
  const DWORD n = ::GetEnvironmentVariableA("TALVEX_PLANTED_MARKER", marker, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  HANDLE file = ::CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(file, "loaded\n", 7, &written, nullptr);
    ::CloseHandle(file);
  }
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() { return S_OK; }
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() { return S_OK; }
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_OK; }
