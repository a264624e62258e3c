#include "capture/ftp_upload.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/talvex_messages.h"
#include "capture/ftp_upload_win.h"
#include "capture/snapshot_upload.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

constexpr char kAgent[] = "Talvex Capture";
constexpr std::size_t kTransferBufferSize = 50000;
// A buffer less its last byte is what goes per write.
constexpr std::size_t kPiece = kTransferBufferSize - 1;
constexpr DWORD kRemoteFileFlags = FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_NO_CACHE_WRITE;

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
  // Closes now: false when the platform reported a failure.
  bool close() {
    HINTERNET h = handle_;
    handle_ = nullptr;
    return h == nullptr || wininet_calls().close(h) != FALSE;
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

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
  static WinInetCalls calls{::InternetOpenA,     ::InternetConnectA,    ::FtpOpenFileA,
                            ::InternetWriteFile, ::InternetCloseHandle, ::FtpRenameFileA,
                            ::FtpDeleteFileA};
  return calls;
}

namespace {

// The server answered the command with a refusal (as opposed to a connection that failed
// or stopped answering).
bool refused_by_server() { return ::GetLastError() == ERROR_INTERNET_EXTENDED_ERROR; }

// Stores the job's snapshot under `name` on the connection: 54, or 40 to 43. `refused`
// tells whether a 40 was the server's answer to the store.
int store(HINTERNET connection, const char* name, const UploadJob& job, std::atomic<int>& failure,
          bool& refused) {
  const WinInetCalls& net = wininet_calls();
  failure = msg::kFtpNoRemoteFile;
  InternetHandle remote(net.open_remote_file(connection, name, GENERIC_WRITE, kRemoteFileFlags, 0));
  if (!remote) {
    refused = refused_by_server();
    return msg::kFtpNoRemoteFile;
  }

  failure = msg::kFtpIncomplete;
  std::size_t total = 0;
  auto send = [&](const char* data, std::size_t size) {
    DWORD written = 0;
    net.write(remote.get(), data, static_cast<DWORD>(size), &written);
    total += size;
    return written == size;
  };
  if (job.local_file.empty()) {
    // The bytes the pass read back from its snapshot, a piece at a time.
    for (std::size_t at = 0; at < job.bytes.size(); at += kPiece) {
      if (!send(job.bytes.data() + at, std::min(kPiece, job.bytes.size() - at))) {
        return msg::kFtpIncomplete;
      }
    }
  } else {
    std::vector<char> buffer(kTransferBufferSize);
    ScopedFile local(system_calls().open_file(job.local_file.c_str(), "r+b"));
    if (!local) return msg::kFtpNoLocalFile;
    // The whole file is sent, a buffer at a time; a snapshot fits in the first.
    for (;;) {
      const std::size_t read = std::fread(buffer.data(), 1, kPiece, local.get());
      if (read == 0) break;
      if (!send(buffer.data(), read)) return msg::kFtpIncomplete;
    }
  }
  if (total == 0) return msg::kFtpNothingRead;
  // The store ends with the remote file's close; one that fails has not stored it.
  if (!remote.close()) return msg::kFtpIncomplete;
  return msg::kOk;
}

// The server, port, user and remote name: what a refusal to rename is remembered for.
std::string target_of(const FtpTexts& ftp) {
  return std::string(ftp.server.c_str()) + '\n' + std::to_string(ftp.port) + '\n' +
         ftp.user.c_str() + '\n' + ftp.destination.c_str();
}

}  // namespace

int ftp_upload_attempt(const UploadJob& job, std::atomic<int>& failure) {
  const WinInetCalls& net = wininet_calls();
  const FtpTexts& ftp = job.ftp;
  failure = msg::kFtpNoSession;
  InternetHandle session(net.open(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session) return msg::kFtpNoSession;
  bound_waits(session.get());

  // A port the setting can hold but a connection can't is refused, not cut to 16 bits. Port
  // 0 goes to the platform, which takes it for the default FTP port.
  failure = msg::kFtpNoConnection;
  if (ftp.port < 0 || ftp.port > 65535) return msg::kFtpNoConnection;
  InternetHandle connection(net.connect(session.get(), ftp.server.c_str(),
                                        static_cast<INTERNET_PORT>(ftp.port), ftp.user.c_str(),
                                        ftp.password.c_str(), INTERNET_SERVICE_FTP, 0, 0));
  if (!connection) return msg::kFtpNoConnection;

  // The snapshot goes under a staging name first and is renamed onto the remote name in its
  // turn, so that the name never holds a part of a file, nor an older snapshot than the
  // newest that arrived. A server that refuses the staging name or the rename gets it
  // under the remote name directly instead, as a plain store.
  RemoteNameTurns& turns = remote_name_turns();
  if (turns.overtaken(job.sequence)) return msg::kOk;  // a newer snapshot is there already
  const std::string target = target_of(ftp);
  const char* name = ftp.destination.c_str();
  bool fell_back = false;
  if (!turns.stores_directly(target)) {
    const StagingNumber number;
    const std::string staged = std::string(name) + ".part" + std::to_string(number.get());
    bool refused = false;
    const int stored = store(connection.get(), staged.c_str(), job, failure, refused);
    if (stored != msg::kOk) {
      if (stored != msg::kFtpNoRemoteFile) net.remove(connection.get(), staged.c_str());
      if (stored != msg::kFtpNoRemoteFile || !refused) return stored;
    } else {
      const RemoteNameTurns::Turn turn = turns.take_turn(job.sequence, [&] {
        if (net.rename(connection.get(), staged.c_str(), name)) return true;
        // Some servers rename onto no name that exists: the old snapshot goes first there.
        if (!refused_by_server()) return false;
        net.remove(connection.get(), name);
        if (net.rename(connection.get(), staged.c_str(), name)) return true;
        refused = refused_by_server();
        return false;
      });
      if (turn == RemoteNameTurns::Turn::kPlaced) return msg::kOk;
      net.remove(connection.get(), staged.c_str());
      // Overtaken: a newer snapshot is under the name already, and stays.
      if (turn == RemoteNameTurns::Turn::kOvertaken) return msg::kOk;
      if (!refused) return msg::kFtpIncomplete;
    }
    fell_back = true;
  }

  if (turns.overtaken(job.sequence)) return msg::kOk;
  bool refused = false;
  const int stored = store(connection.get(), name, job, failure, refused);
  if (stored == msg::kOk) {
    turns.placed(job.sequence);
    if (fell_back) turns.store_directly(target);
  }
  return stored;
}

int ftp_upload(const char* local_file, const FtpTexts& ftp) {
  SnapshotUploader uploader(ftp_upload_attempt);
  UploadJob job;
  job.local_file = local_file;
  job.ftp = ftp;
  uploader.submit(std::move(job));
  return uploader.wait();
}

}  // namespace talvex
