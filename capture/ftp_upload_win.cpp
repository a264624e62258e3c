#include "capture/ftp_upload.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "capture/ftp_upload_win.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

constexpr char kAgent[] = "Talvex Capture";
constexpr std::size_t kTransferBufferSize = 50000;
constexpr DWORD kRemoteFileFlags = FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_NO_CACHE_WRITE;

constexpr int kNoSession = 38;
constexpr int kNoConnection = 39;
constexpr int kNoRemoteFile = 40;
constexpr int kNoLocalFile = 41;
constexpr int kNothingRead = 42;
constexpr int kIncomplete = 43;
constexpr int kOk = 54;

// One internet handle, closed through the table when it leaves scope. Declared session,
// connection, remote file, so they close newest first.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h) : handle_(h) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() {
    if (handle_) wininet_calls().close(handle_);
  }
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

// The connection and login, on a thread of its own: a server that accepts and then says
// nothing keeps WinInet waiting for a minute whatever the time-out options say (Wine reads
// its replies with a fixed wait). After kFtpTimeoutMs the attempt is abandoned; should it
// still succeed, its own thread closes the connection.
struct ConnectAttempt {
  std::mutex attempt_lock;  // guards everything below
  std::condition_variable finished_changed;
  bool finished = false;
  bool abandoned = false;
  HINTERNET connection = nullptr;
};

HINTERNET connect_within_bound(HINTERNET session, const FtpTexts& ftp) {
  auto attempt = std::make_shared<ConnectAttempt>();
  const WinInetCalls net = wininet_calls();
  const std::string server = ftp.server.str(), user = ftp.user.str(), password = ftp.password.str();
  const auto port = static_cast<INTERNET_PORT>(ftp.port);
  try {
    std::thread([attempt, net, session, server, user, password, port] {
      HINTERNET connection = net.connect(session, server.c_str(), port, user.c_str(),
                                         password.c_str(), INTERNET_SERVICE_FTP, 0, 0);
      std::lock_guard<std::mutex> lock(attempt->attempt_lock);
      if (attempt->abandoned) {
        if (connection) net.close(connection);
      } else {
        attempt->connection = connection;
      }
      attempt->finished = true;
      attempt->finished_changed.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  std::unique_lock<std::mutex> lock(attempt->attempt_lock);
  if (!attempt->finished_changed.wait_for(lock, std::chrono::milliseconds(kFtpTimeoutMs),
                                          [&attempt] { return attempt->finished; })) {
    attempt->abandoned = true;
    return nullptr;
  }
  return attempt->connection;
}

void bound_waits(HINTERNET session) {
  DWORD timeout = kFtpTimeoutMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                       INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
    ::InternetSetOptionA(session, option, &timeout, sizeof timeout);
  }
}

}  // namespace

WinInetCalls& wininet_calls() {
  static WinInetCalls calls{::InternetOpenA, ::InternetConnectA, ::FtpOpenFileA,
                            ::InternetWriteFile, ::InternetCloseHandle};
  return calls;
}

int ftp_upload(const char* local_file, const FtpTexts& ftp) {
  const WinInetCalls& net = wininet_calls();
  InternetHandle session(net.open(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session) return kNoSession;
  bound_waits(session.get());

  // A port the setting can hold but a connection can't is refused, not cut to 16 bits. Port
  // 0 goes to the platform, which takes it for the default FTP port.
  if (ftp.port < 0 || ftp.port > 65535) return kNoConnection;
  InternetHandle connection(connect_within_bound(session.get(), ftp));
  if (!connection) return kNoConnection;

  InternetHandle remote(net.open_remote_file(connection.get(), ftp.destination.c_str(),
                                             GENERIC_WRITE, kRemoteFileFlags, 0));
  if (!remote) return kNoRemoteFile;

  std::vector<char> buffer(kTransferBufferSize);
  ScopedFile local(system_calls().open_file(local_file, "r+b"));
  if (!local) return kNoLocalFile;
  // The whole file is sent, a buffer at a time; a snapshot fits in the first.
  std::size_t total = 0;
  for (;;) {
    const std::size_t read = std::fread(buffer.data(), 1, kTransferBufferSize - 1, local.get());
    if (read == 0) break;
    total += read;
    DWORD written = 0;
    net.write(remote.get(), buffer.data(), static_cast<DWORD>(read), &written);
    if (written != read) return kIncomplete;
  }
  local.close();
  return total == 0 ? kNothingRead : kOk;
}

}  // namespace talvex
