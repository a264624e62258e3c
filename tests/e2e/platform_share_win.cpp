// What the platform itself keeps of the capture program's repeated work, measured in this
// process: ROUNDS snapshot uploads as the program makes them, each on a thread of its own
// (session, connection, a store under a staging name, the rename onto the remote name,
// every handle closed, the thread joined). Prints what this process gained over them,
// "handles=N threads=N private_kb=N rounds=N", after one round that warms up the libraries.
// Used by scripts/soak, which allows the program that much beside its own margin.
//
//   talvex_platform_share ROUNDS SERVER PORT USER PASSWORD DESTINATION
#include <windows.h>

#include <psapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/win/process_counts_win.h"

namespace {

struct Args {
  std::string server, user, password, destination;
  INTERNET_PORT port = 21;
};

void one_upload(const Args& a, const std::vector<char>& bytes) {
  HINTERNET session =
      ::InternetOpenA("Talvex Capture", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (!session) return;
  DWORD timeout = 10000;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                       INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
    ::InternetSetOptionA(session, option, &timeout, sizeof timeout);
  }
  HINTERNET connection = ::InternetConnectA(session, a.server.c_str(), a.port, a.user.c_str(),
                                            a.password.c_str(), INTERNET_SERVICE_FTP, 0, 0);
  if (connection) {
    const std::string staged = a.destination + ".part0";
    HINTERNET remote = ::FtpOpenFileA(connection, staged.c_str(), GENERIC_WRITE,
                                      FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (remote) {
      DWORD written = 0;
      ::InternetWriteFile(remote, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
      ::InternetCloseHandle(remote);
      ::FtpRenameFileA(connection, staged.c_str(), a.destination.c_str());
    }
    ::InternetCloseHandle(connection);
  }
  ::InternetCloseHandle(session);
}

unsigned long long private_kb() {
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof memory);
  return memory.PagefileUsage / 1024;  // the commit charge: Wine 8 leaves PrivateUsage at 0
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) return 2;
  const int rounds = std::atoi(argv[1]);
  Args a{argv[2], argv[4], argv[5], argv[6], static_cast<INTERNET_PORT>(std::atoi(argv[3]))};
  std::vector<char> bytes(10000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131);

  auto round = [&] { std::thread([&] { one_upload(a, bytes); }).join(); };
  round();
  const DWORD pid = ::GetCurrentProcessId();
  const long handles = static_cast<long>(talvex::testing::process_handle_count(pid));
  const long threads = static_cast<long>(talvex::testing::process_thread_count(pid));
  const long long memory = static_cast<long long>(private_kb());
  for (int i = 0; i < rounds; ++i) round();
  std::printf("handles=%ld threads=%ld private_kb=%lld rounds=%d\n",
              static_cast<long>(talvex::testing::process_handle_count(pid)) - handles,
              static_cast<long>(talvex::testing::process_thread_count(pid)) - threads,
              static_cast<long long>(private_kb()) - memory, rounds);
  return 0;
}
