// The live view's server for real: listening on 127.0.0.1, asked by curl, an HTTP client
// of its own with its own Digest login.
#include "capture/live_view.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/talvex_messages.h"
#include "common/digest.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

constexpr char kRealm[] = "Talvex 0011223344556677";

DigestAccount account() { return {"cam", kRealm, md5_hex(std::string("cam:") + kRealm + ":pw")}; }

// Runs curl; its status code, the body in `body_file`.
int curl(const std::string& arguments, const std::string& body_file = "body.out") {
  const std::string command =
      "curl -s --max-time 5 -o '" + body_file + "' -w '%{http_code}' " + arguments;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char code[16] = {};
  const std::size_t n = std::fread(code, 1, sizeof code - 1, pipe);
  ::pclose(pipe);
  return n > 0 ? std::atoi(code) : -1;
}

class LiveViewServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LiveViewConfig config;
    config.address = "127.0.0.1";
    config.port = 0;
    config.account = account();
    ASSERT_EQ(server_.start(config), msg::kOk);
    base_ = "http://127.0.0.1:" + std::to_string(server_.port());
  }
  std::string url(const std::string& path) const { return "'" + base_ + path + "'"; }
  static std::string login(const std::string& password = "pw") {
    return "--digest -u 'cam:" + password + "' ";
  }

  // Offers frames as a camera would, 20 a second, until the test ends.
  void feed_frames() {
    feeder_ = std::thread([this] {
      std::vector<std::uint8_t> pixels(64 * 48 * 3);
      for (std::uint8_t shade = 0; !stop_feeding_; shade += 7) {
        std::fill(pixels.begin(), pixels.end(), shade);
        frames_.offer(pixels.data(), pixels.size(), 64, 48, 24);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
  }
  void TearDown() override {
    server_.stop();
    stop_feeding_ = true;
    if (feeder_.joinable()) feeder_.join();
  }

  testing::ScratchDirectory folder_;
  LiveFrames frames_;
  LiveViewServer server_{frames_, [] { return LiveStatus{"Talvex \"Test\" Camera", true, true}; }};
  std::string base_;
  std::atomic<bool> stop_feeding_{false};
  std::thread feeder_;
};

TEST_F(LiveViewServerTest, EveryRequestNeedsTheLogin) {
  for (const char* path : {"/", "/status", "/videos", "/snapshot.jpg", "/stream.mjpg"}) {
    EXPECT_EQ(curl(url(path)), 401) << path;
    EXPECT_EQ(curl(login("wrong") + url(path)), 401) << path;
  }
  EXPECT_EQ(curl("--digest -u 'Cam:pw' " + url("/")), 401);
  EXPECT_EQ(curl("--basic -u 'cam:pw' " + url("/")), 401);
  EXPECT_EQ(curl(login() + url("/")), 200);
  EXPECT_NE(testing::read_bytes("body.out").find("/stream.mjpg"), std::string::npos);
  EXPECT_EQ(curl(login() + url("/status")), 200);
  const std::string status = testing::read_bytes("body.out");
  EXPECT_NE(status.find("\"device\":\"Talvex \\\"Test\\\" Camera\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"camera\":true"), std::string::npos) << status;
  EXPECT_NE(status.find("\"free_bytes\":"), std::string::npos) << status;
}

TEST_F(LiveViewServerTest, ServesTheFoldersVideosAndNothingElse) {
  const std::string older = "Talvex_Camera_2026-03-14_07-05-03_2026-03-14_07-05-33.avi";
  const std::string newer = "Talvex_Camera_2026-03-15_07-05-03_2026-03-15_07-05-33.avi";
  const std::string same_seconds = "Talvex_Camera_2026-03-15_07-05-03_2026-03-15_07-05-33_2.avi";
  std::string bytes(300000, '\0');
  std::mt19937 random(7);
  for (char& c : bytes) c = static_cast<char>(random());
  for (const std::string& name : {older, newer, same_seconds}) testing::write_bytes(name, bytes);
  testing::write_bytes("Talvex.cfg", "settings");
  testing::write_bytes("Talvex_tmp.avi", "recording");
  const std::string directory = "Talvex_Camera_2026-03-16_07-05-03_2026-03-16_07-05-33.avi";
  std::filesystem::create_directory(directory);
  const std::string link = "Talvex_Camera_2026-03-17_07-05-03_2026-03-17_07-05-33.avi";
  std::filesystem::create_symlink("Talvex.cfg", link);

  ASSERT_EQ(curl(login() + url("/videos")), 200);
  const std::string list = testing::read_bytes("body.out");
  const std::size_t first = list.find(same_seconds), second = list.find(newer + "\""),
                    third = list.find(older);
  ASSERT_NE(first, std::string::npos) << list;
  ASSERT_NE(second, std::string::npos) << list;
  ASSERT_NE(third, std::string::npos) << list;
  EXPECT_LT(first, second);  // newest first; the same seconds by name
  EXPECT_LT(second, third);
  EXPECT_EQ(list.find(directory), std::string::npos);
  EXPECT_EQ(list.find(link), std::string::npos);
  EXPECT_EQ(list.find("Talvex_tmp"), std::string::npos);

  ASSERT_EQ(curl(login() + url("/videos/" + newer)), 200);
  EXPECT_EQ(testing::read_bytes("body.out"), bytes);
  ASSERT_EQ(curl(login() + "-r 1000-1999 " + url("/videos/" + older)), 206);
  EXPECT_EQ(testing::read_bytes("body.out"), bytes.substr(1000, 1000));
  ASSERT_EQ(curl(login() + "-r 299990- " + url("/videos/" + older)), 206);
  EXPECT_EQ(testing::read_bytes("body.out"), bytes.substr(299990));

  const std::string hostile[] = {
      "/videos/../Talvex.cfg",
      "/videos/%2e%2e/Talvex.cfg",
      "/videos/%2E%2E%2FTalvex.cfg",
      "/videos/..%5cTalvex.cfg",
      "/videos/Talvex.cfg",
      "/videos/Talvex_tmp.avi",
      "/videos/" + directory,
      "/videos/" + link,
      "/videos/talvex_camera_2026-03-14_07-05-03_2026-03-14_07-05-33.avi",
      "/videos/" + older + "%00.txt",
      "/videos/" + older + "/../../Talvex.cfg",
      "/videos/C:%5cWindows%5cwin.ini",
      "/videos/TALVEX~1.AVI",
      "/videos/%252e%252e%252fTalvex.cfg",
      "/Talvex.cfg",
      "/../Talvex.cfg",
      "/videos//etc/passwd",
  };
  // Refused, and nothing served. A target whose %-escapes make a backslash or a NUL fails
  // the login already: the header's uri, %-decoded by the library, no longer reads whole.
  for (const std::string& path : hostile) {
    const int code = curl(login() + "--path-as-is " + url(path));
    EXPECT_TRUE(code == 404 || code == 400 || code == 401) << path << " " << code;
    const std::string body = testing::read_bytes("body.out");
    EXPECT_EQ(body.find("settings"), std::string::npos) << path;
    EXPECT_EQ(body.find("root:"), std::string::npos) << path;
  }
}

int jpeg_frames_in(const std::string& stream) {
  int frames = 0;
  for (std::size_t at = 0; (at = stream.find("Content-Type: image/jpeg", at)) != std::string::npos;
       ++at) {
    ++frames;
  }
  return frames;
}

TEST_F(LiveViewServerTest, StreamsToAtMostEightViewersAndStopsWithThemConnected) {
  feed_frames();
  ASSERT_EQ(curl(login() + url("/snapshot.jpg")), 200);
  const std::string jpeg = testing::read_bytes("body.out");
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg.substr(0, 2), "\xff\xd8");
  EXPECT_EQ(jpeg.substr(jpeg.size() - 2), "\xff\xd9");

  // Twelve viewers at once, each for 3 s.
  std::vector<std::thread> viewers;
  std::vector<int> codes(12);
  for (int i = 0; i < 12; ++i) {
    viewers.emplace_back([&, i] {
      codes[i] = curl(login() + "--max-time 3 " + url("/stream.mjpg"),
                      "stream" + std::to_string(i) + ".out");
    });
  }
  for (std::thread& t : viewers) t.join();
  int served = 0, refused = 0;
  for (int i = 0; i < 12; ++i) {
    const std::string stream = testing::read_bytes("stream" + std::to_string(i) + ".out");
    if (jpeg_frames_in(stream) > 0) {
      ++served;
      EXPECT_GE(jpeg_frames_in(stream), 10) << i;  // 3 s at up to 10 frames a second
    } else {
      ++refused;
      EXPECT_EQ(codes[i], 503) << i;
    }
  }
  EXPECT_EQ(served, LiveViewServer::kMaxStreams);
  EXPECT_EQ(refused, 12 - LiveViewServer::kMaxStreams);

  // Viewers that stay: the server still stops, and at once.
  std::vector<std::thread> stayers;
  for (int i = 0; i < 4; ++i) {
    stayers.emplace_back(
        [&] { curl(login() + "--max-time 20 " + url("/stream.mjpg"), "/dev/null"); });
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto before = std::chrono::steady_clock::now();
  server_.stop();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_LT(took, std::chrono::seconds(4));
  for (std::thread& t : stayers) t.join();
}

TEST(LiveViewServer, RefusesToStartWithoutAPasswordOrAPort) {
  LiveFrames frames;
  LiveViewServer server(frames, nullptr);
  LiveViewConfig config;
  config.address = "127.0.0.1";
  config.account = account();
  config.account.password_digest.clear();
  EXPECT_EQ(server.start(config), msg::kLiveViewFailed);
  EXPECT_FALSE(server.running());

  // A port another program listens on.
  const int other = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(other, 1), 0);
  socklen_t length = sizeof address;
  ::getsockname(other, reinterpret_cast<sockaddr*>(&address), &length);
  config.account = account();
  config.port = ntohs(address.sin_port);
  EXPECT_EQ(server.start(config), msg::kLiveViewFailed);
  ::close(other);
  EXPECT_EQ(server.start(config), msg::kOk);  // free again
}

}  // namespace
}  // namespace talvex
