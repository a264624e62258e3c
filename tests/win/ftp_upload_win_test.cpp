// ftp_upload against a real FTP server on 127.0.0.1 (tests/ftp/run_with_ftp_server.py),
// checked on the server's side through its home folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "capture/ftp_upload.h"
#include "capture/ftp_upload_win.h"
#include "capture/snapshot_upload.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

using testing::read_bytes;
using testing::write_bytes;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

class FtpUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("TALVEX_FTP_PORT").empty()) GTEST_SKIP() << "run through run_with_ftp_server.py";
    saved_ = wininet_calls();
    ftp_.server = "127.0.0.1";
    ftp_.port = std::atoi(env("TALVEX_FTP_PORT").c_str());
    ftp_.user = "camera";
    ftp_.password = "s3cret";
    ftp_.destination = "cam/latest.jpg";
    home_ = env("TALVEX_FTP_HOME");
  }
  void TearDown() override { wininet_calls() = saved_; }
  std::string remote(const std::string& name) const { return home_ + "\\" + name; }

  WinInetCalls saved_{};
  FtpTexts ftp_;
  std::string home_;
  testing::ScratchDirectory dir_;
};

// A snapshot-like file of n bytes, not text, so a text-mode transfer would change it.
std::string binary_bytes(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed) & 0xFF);
  s[0] = '\r';
  s[1] = '\n';
  return s;
}

template <typename Condition>
bool wait_for(Condition condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The files of a folder on the server whose names begin with `stem`.
std::vector<std::string> remote_files(const std::string& folder, const std::string& stem) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, stem.size(), stem) == 0) names.push_back(name);
  }
  return names;
}

TEST_F(FtpUploadTest, StoresTheFileWholeAndReplacesIt) {
  for (std::size_t size : {std::size_t{1617}, std::size_t{49999}, std::size_t{120000}}) {
    const std::string first = binary_bytes(size, 1);
    write_bytes("Talvex.jpg", first);
    ASSERT_EQ(ftp_upload("Talvex.jpg", ftp_), 54) << size;
    EXPECT_EQ(read_bytes(remote("cam\\latest.jpg")), first) << size;
    const std::string second = binary_bytes(size / 2 + 1, 2);
    write_bytes("Talvex.jpg", second);
    ASSERT_EQ(ftp_upload("Talvex.jpg", ftp_), 54) << size;
    EXPECT_EQ(read_bytes(remote("cam\\latest.jpg")), second) << "replaced, not appended";
  }
}

// Servers stricter than the usual: one that renames onto no name that exists, and an
// account that may store but neither rename nor delete. Each upload still replaces the
// snapshot under its name; only the store-only account keeps the one staging file that it
// would not let go of.
TEST_F(FtpUploadTest, StricterServersStillGetEverySnapshotUnderItsName) {
  struct Case {
    const char* user;
    const char* stem;
    std::size_t files_left;
  };
  for (const Case& c : {Case{"camera", "plain.jpg", 1}, Case{"nooverwrite", "strict.jpg", 1},
                        Case{"norename", "storeonly.jpg", 2}}) {
    FtpTexts server = ftp_;
    server.user = c.user;
    server.destination = (std::string("cam/") + c.stem).c_str();
    for (int round = 0; round < 3; ++round) {
      const std::string bytes = binary_bytes(2000 + round, 10 + round);
      write_bytes("Talvex.jpg", bytes);
      ASSERT_EQ(ftp_upload("Talvex.jpg", server), 54) << c.user << " " << round;
      EXPECT_EQ(read_bytes(remote(std::string("cam\\") + c.stem)), bytes) << c.user << " " << round;
    }
    EXPECT_EQ(remote_files(remote("cam"), c.stem).size(), c.files_left) << c.user;
  }
}

// Port 0 is the platform's "default port": the upload goes to port 21.
TEST_F(FtpUploadTest, PortZeroIsTheDefaultFtpPort) {
  if (env("TALVEX_FTP_DEFAULT_PORT").empty()) GTEST_SKIP() << "no server could listen on port 21";
  const std::string bytes = binary_bytes(2000, 6);
  write_bytes("Talvex.jpg", bytes);
  FtpTexts default_port = ftp_;
  default_port.port = 0;
  ASSERT_EQ(ftp_upload("Talvex.jpg", default_port), 54);
  EXPECT_EQ(read_bytes(remote("cam\\latest.jpg")), bytes);
}

TEST_F(FtpUploadTest, EachFailureHasItsNumber) {
  write_bytes("Talvex.jpg", binary_bytes(1000, 3));
  FtpTexts wrong_password = ftp_;
  wrong_password.password = "wrong";
  EXPECT_EQ(ftp_upload("Talvex.jpg", wrong_password), 39);
  EXPECT_EQ(ftp_upload("Talvex.jpg", FtpTexts{}), 39);  // the default server " "
  // Never cut to 16 bits: cut, 70000 would reach the server that listens on port 4464 there.
  FtpTexts no_port = ftp_;
  for (int port : {65536, -1, -5}) {
    no_port.port = port;
    EXPECT_EQ(ftp_upload("Talvex.jpg", no_port), 39) << port;
  }
  no_port.server = env("TALVEX_FTP_WRAP_SERVER").c_str();
  no_port.port = 70000;
  EXPECT_EQ(ftp_upload("Talvex.jpg", no_port), 39);
  no_port.port = 4464;  // 70000 cut to 16 bits
  EXPECT_EQ(ftp_upload("Talvex.jpg", no_port), 54) << "no server on port 4464";
  FtpTexts no_folder = ftp_;
  no_folder.destination = "missing/latest.jpg";
  EXPECT_EQ(ftp_upload("Talvex.jpg", no_folder), 40);

  FtpTexts other = ftp_;
  other.destination = "missing_local.jpg";
  EXPECT_EQ(ftp_upload("no such file.jpg", other), 41);
  // The store ended without data, and nothing of it is left under the name or beside it.
  EXPECT_TRUE(remote_files(home_, "missing_local").empty());

  write_bytes("empty.jpg", "");
  other.destination = "empty.jpg";
  EXPECT_EQ(ftp_upload("empty.jpg", other), 42);

  // Held open by another handle without write sharing: "r+b" can't open it.
  HANDLE held = ::CreateFileA("Talvex.jpg", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  other.destination = "locked.jpg";
  EXPECT_EQ(ftp_upload("Talvex.jpg", other), 41);
  ::CloseHandle(held);
}

// What the network can't be made to do on demand, through the table; and every path
// closes exactly what it opened.
TEST_F(FtpUploadTest, FaultsAndClosing) {
  static int opened = 0, closed = 0;
  opened = closed = 0;
  write_bytes("Talvex.jpg", binary_bytes(500, 4));
  WinInetCalls& net = wininet_calls();
  net.close = [](HINTERNET h) -> BOOL {
    ++closed;
    return ::InternetCloseHandle(h);
  };
  net.open = [](LPCSTR a, DWORD b, LPCSTR c, LPCSTR d, DWORD e) -> HINTERNET {
    HINTERNET h = ::InternetOpenA(a, b, c, d, e);
    if (h) ++opened;
    return h;
  };
  net.connect = [](HINTERNET s, LPCSTR a, INTERNET_PORT p, LPCSTR u, LPCSTR w, DWORD v, DWORD f,
                   DWORD_PTR c) -> HINTERNET {
    HINTERNET h = ::InternetConnectA(s, a, p, u, w, v, f, c);
    if (h) ++opened;
    return h;
  };
  net.open_remote_file = [](HINTERNET c, LPCSTR n, DWORD a, DWORD f, DWORD_PTR x) -> HINTERNET {
    HINTERNET h = ::FtpOpenFileA(c, n, a, f, x);
    if (h) ++opened;
    return h;
  };
  EXPECT_EQ(ftp_upload("Talvex.jpg", ftp_), 54);
  EXPECT_EQ(opened, 3);
  EXPECT_EQ(closed, 3);
  FtpTexts no_folder = ftp_;
  no_folder.destination = "missing/x.jpg";
  EXPECT_EQ(ftp_upload("Talvex.jpg", no_folder), 40);
  EXPECT_EQ(opened, closed);

  net.write = [](HINTERNET f, LPCVOID d, DWORD n, LPDWORD w) -> BOOL {
    return ::InternetWriteFile(f, d, n / 2, w);
  };
  EXPECT_EQ(ftp_upload("Talvex.jpg", ftp_), 43);
  EXPECT_EQ(opened, closed);

  net.open = [](LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD) -> HINTERNET { return nullptr; };
  EXPECT_EQ(ftp_upload("Talvex.jpg", ftp_), 38);
  EXPECT_EQ(opened, closed);
}

// The first store waits on the server, unanswered, until the second has been received: the
// first attempt passes its deadline (shortened here; the connection's own waits are not),
// the second goes and succeeds, and only then does the first finish, on its own thread. The
// name ends with the second snapshot, the newer one, and nothing else is left beside it.
TEST_F(FtpUploadTest, AnAbandonedAttemptNeverReplacesANewerSnapshot) {
  FtpTexts held = ftp_;
  held.port = std::atoi(env("TALVEX_FTP_HELD_PORT").c_str());
  held.destination = "cam/held.jpg";
  const std::string older = binary_bytes(3000, 7);
  const std::string newer = binary_bytes(2500, 8);
  auto job = [&held](const std::string& bytes) {
    UploadJob j;
    j.bytes.assign(bytes.begin(), bytes.end());
    j.ftp = held;
    return j;
  };
  ASSERT_EQ(unreturned_upload_attempts(), 0);
  {
    SnapshotUploader uploader(ftp_upload_attempt, std::chrono::milliseconds(1500));
    uploader.submit(job(older));
    uploader.submit(job(newer));  // kept until the first is abandoned
    int result = 0;
    ASSERT_TRUE(
        wait_for([&] { return uploader.take_finished(result); }, std::chrono::milliseconds(5000)));
    EXPECT_EQ(result, 40) << "abandoned in the store";
    ASSERT_TRUE(
        wait_for([&] { return uploader.take_finished(result); }, std::chrono::milliseconds(5000)));
    EXPECT_EQ(result, 54);
  }
  ASSERT_TRUE(
      wait_for([] { return unreturned_upload_attempts() == 0; }, std::chrono::milliseconds(20000)))
      << "the abandoned attempt never returned";
  const std::string ended = read_bytes(remote("cam\\held.jpg"));
  EXPECT_TRUE(ended == newer) << (ended == older ? "the older snapshot" : "neither snapshot")
                              << " under the name";
  EXPECT_EQ(remote_files(remote("cam"), "held"), std::vector<std::string>{"held.jpg"});
}

// A server that accepts and then says nothing: the upload gives up within its bound of
// about 10 s (Wine's own wait for a reply is 30 s).
TEST_F(FtpUploadTest, SilentServerDoesNotHoldThePass) {
  write_bytes("Talvex.jpg", binary_bytes(500, 5));
  FtpTexts silent = ftp_;
  silent.port = std::atoi(env("TALVEX_FTP_HANG_PORT").c_str());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ftp_upload("Talvex.jpg", silent), 39);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(12))
      << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()
      << " ms: a hang, not a time-out";
}

}  // namespace
}  // namespace talvex
