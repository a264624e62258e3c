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
  static WinInetCalls calls{::InternetOpenA, ::InternetConnectA, ::FtpOpenFileA,
                            ::InternetWriteFile, ::InternetCloseHandle};
  return calls;
}

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

  failure = msg::kFtpNoRemoteFile;
  InternetHandle remote(net.open_remote_file(connection.get(), ftp.destination.c_str(),
                                             GENERIC_WRITE, kRemoteFileFlags, 0));
  if (!remote) return msg::kFtpNoRemoteFile;

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

int ftp_upload(const char* local_file, const FtpTexts& ftp) {
  SnapshotUploader uploader(ftp_upload_attempt);
  UploadJob job;
  job.local_file = local_file;
  job.ftp = ftp;
  uploader.submit(std::move(job));
  return uploader.wait();
}

}  // namespace talvex
