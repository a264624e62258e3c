#include "capture/live_view.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>
#include <utility>

#include "app/talvex_messages.h"
#include "capture/snapshot.h"
#include "capture/video_name.h"
#include "common/digest.h"

// One request's line and headers are bounded by the library (8 KiB each); a body is never
// needed, so none is taken.
#define CPPHTTPLIB_PAYLOAD_MAX_LENGTH 0
#include "httplib.h"

namespace talvex {
namespace {

constexpr int kStreamQuality = 75;
constexpr char kBoundary[] = "talvexframe";
constexpr std::size_t kListedVideos = 100;
constexpr std::size_t kFileChunk = 64 * 1024;

std::string two(int v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", v);
  return text;
}

std::string date_text(const CalendarTime& t) {
  if (t.year == 0) return "";
  return std::to_string(t.year) + "-" + two(t.month) + "-" + two(t.day) + " " + two(t.hour) + ":" +
         two(t.minute) + ":" + two(t.second);
}

std::string html_escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string json_escaped(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool earlier(const CalendarTime& a, const CalendarTime& b) {
  const int ka[] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
  const int kb[] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
  return std::lexicographical_compare(std::begin(ka), std::end(ka), std::begin(kb), std::end(kb));
}

constexpr char kLivePage[] = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Talvex live view</title>
<style>
body{margin:0;background:#111;color:#eee;font:15px/1.4 sans-serif}
header,p,nav{margin:0;padding:8px 12px}
header b{font-size:17px}
img{display:block;max-width:100%;height:auto;margin:0 auto;background:#000}
a{color:#8cf}
</style></head><body>
<header><b id="device">Talvex</b> <span id="time"></span></header>
<img id="live" src="/stream.mjpg" alt="live picture">
<p id="status"></p>
<nav><a href="/videos">Recent videos</a> &middot; <a href="/snapshot.jpg">Snapshot</a></nav>
<script>
const $ = id => document.getElementById(id);
async function refresh() {
  try {
    const s = await (await fetch('/status', {cache: 'no-store'})).json();
    $('device').textContent = s.device;
    $('time').textContent = s.frame_time;
    $('status').textContent = (s.camera ? 'Camera sending' : 'Camera not sending (047)') +
      ' \u00b7 motion detection ' + (s.motion ? 'on' : 'off') + ' \u00b7 ' +
      (s.free_bytes / 1073741824).toFixed(1) + ' GB free';
  } catch (e) {}
}
refresh();
setInterval(refresh, 1000);
$('live').onerror = () => setTimeout(() => { $('live').src = '/stream.mjpg?' + Date.now(); }, 2000);
</script></body></html>
)";

}  // namespace

// ---- LiveFrames ----

void LiveFrames::offer(const std::uint8_t* pixels, std::size_t size, int width, int height,
                       int bit_count) {
  if (watchers_.load() == 0 || pixels == nullptr || size == 0) return;
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> lock(frame_lock_);
    if (stopped_ || now - last_copy_ < kFramePeriod) return;
    last_copy_ = now;
    try {
      raw_.assign(pixels, pixels + size);
    } catch (const std::bad_alloc&) {
      return;
    }
    width_ = width;
    height_ = height;
    bit_count_ = bit_count;
    ++sequence_;
    taken_ = system_calls().local_time();
  }
  frame_arrived_.notify_all();
}

LiveFrames::Jpeg LiveFrames::newest_jpeg() {
  std::lock_guard<std::mutex> encoding(jpeg_lock_);
  std::vector<std::uint8_t> raw;
  int width, height, bits;
  std::uint64_t sequence;
  CalendarTime taken;
  {
    std::lock_guard<std::mutex> lock(frame_lock_);
    if (sequence_ == jpeg_.sequence) return jpeg_;
    raw = raw_;
    width = width_;
    height = height_;
    bits = bit_count_;
    sequence = sequence_;
    taken = taken_;
  }
  auto bytes = std::make_shared<std::string>();
  if (encode_frame_jpeg(raw.data(), raw.size(), width, height, bits, kStreamQuality, *bytes)) {
    jpeg_ = Jpeg{std::move(bytes), sequence, taken};
  }
  return jpeg_;
}

bool LiveFrames::wait_newer(std::uint64_t sequence, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(frame_lock_);
  frame_arrived_.wait_for(lock, timeout, [&] { return stopped_ || sequence_ > sequence; });
  return !stopped_ && sequence_ > sequence;
}

CalendarTime LiveFrames::newest_time() {
  std::lock_guard<std::mutex> lock(frame_lock_);
  return taken_;
}

void LiveFrames::set_device(const std::string& name) {
  std::lock_guard<std::mutex> lock(frame_lock_);
  device_ = name;
}

std::string LiveFrames::device() {
  std::lock_guard<std::mutex> lock(frame_lock_);
  return device_;
}

void LiveFrames::stop() {
  {
    std::lock_guard<std::mutex> lock(frame_lock_);
    stopped_ = true;
  }
  frame_arrived_.notify_all();
}

void LiveFrames::start() {
  std::lock_guard<std::mutex> lock(frame_lock_);
  stopped_ = false;
}

// ---- The video list ----

std::vector<ListedVideo> list_videos(const std::string& folder, std::size_t limit) {
  std::vector<ListedVideo> videos;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    ListedVideo v;
    try {
      v.name = it->path().filename().string();
    } catch (const std::exception&) {
      continue;  // a name the narrow code page cannot hold is none of ours
    }
    if (!parse_video_file_name(v.name, v.start, v.end)) continue;
    std::error_code ignored;
    if (!it->is_regular_file(ignored) || it->is_symlink(ignored)) continue;
    v.size = it->file_size(ignored);
    videos.push_back(std::move(v));
  }
  auto newer = [](const ListedVideo& a, const ListedVideo& b) {
    if (earlier(b.start, a.start)) return true;
    if (earlier(a.start, b.start)) return false;
    if (earlier(b.end, a.end)) return true;
    if (earlier(a.end, b.end)) return false;
    return a.name > b.name;
  };
  if (videos.size() > limit) {
    std::partial_sort(videos.begin(), videos.begin() + static_cast<std::ptrdiff_t>(limit),
                      videos.end(), newer);
    videos.resize(limit);
  } else {
    std::sort(videos.begin(), videos.end(), newer);
  }
  return videos;
}

// ---- The server ----

class LiveViewServer::Impl {
 public:
  Impl(LiveFrames& frames, std::function<LiveStatus()>& status, const LiveViewConfig& config)
      : frames_(frames), status_(status), config_(config), login_(make_secret(), Clock::now()) {}

  static std::string make_secret() {
    unsigned char bytes[16] = {};
    random_bytes(bytes, sizeof bytes);
    std::string secret;
    for (unsigned char b : bytes) secret += std::to_string(b) + ".";
    return md5_hex(secret);
  }

  bool start() {
    server_.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server_.set_keep_alive_timeout(kIdleTimeout.count());
    server_.set_read_timeout(kIdleTimeout.count(), 0);
    server_.set_write_timeout(kWriteTimeout.count(), 0);
    server_.set_payload_max_length(0);
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      return authorise(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                 : httplib::Server::HandlerResponse::Handled;
    });
    server_.Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kLivePage, "text/html; charset=utf-8");
      no_store(res);
    });
    server_.Get("/status",
                [this](const httplib::Request&, httplib::Response& res) { serve_status(res); });
    server_.Get("/snapshot.jpg",
                [this](const httplib::Request&, httplib::Response& res) { serve_snapshot(res); });
    server_.Get("/stream.mjpg",
                [this](const httplib::Request&, httplib::Response& res) { serve_stream(res); });
    server_.Get("/videos",
                [](const httplib::Request&, httplib::Response& res) { serve_video_list(res); });
    server_.Get("/videos/(.*)", [](const httplib::Request& req, httplib::Response& res) {
      serve_video(req.matches[1].str(), res);
    });
    if (config_.port == 0) {
      port_ = server_.bind_to_any_port(config_.address);
      if (port_ <= 0) return false;
    } else {
      if (!server_.bind_to_port(config_.address, config_.port)) return false;
      port_ = config_.port;
    }
    listener_ = std::thread([this] { server_.listen_after_bind(); });
    return true;
  }

  void stop() {
    stopping_ = true;
    frames_.stop();
    // The listener may not have begun to listen yet; stop() acts only once it has.
    for (int i = 0; i < 200 && listener_.joinable() && !server_.is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    server_.stop();
    if (listener_.joinable()) listener_.join();
    frames_.start();
  }

  int port() const { return port_; }
  bool running() const { return listener_.joinable() && !stopping_; }

 private:
  using Clock = DigestLogin::Clock;

  static void no_store(httplib::Response& res) { res.set_header("Cache-Control", "no-store"); }

  bool authorise(const httplib::Request& req, httplib::Response& res) {
    const std::string authorization = req.get_header_value("Authorization");
    // The library %-decodes every header value: the header's uri and username are compared
    // as decoded, while the response is checked over the target as the client sent it.
    const DigestLogin::HeaderView decoded{httplib::detail::decode_url(req.target, false),
                                          httplib::detail::decode_url(config_.account.user, false)};
    const auto verdict = login_.check(authorization, req.method, req.target, config_.account,
                                      Clock::now(), &decoded);
    if (verdict == DigestLogin::Verdict::kGranted) {
      throttle_.succeeded(req.remote_addr);
      return true;
    }
    if (verdict == DigestLogin::Verdict::kRefused) {
      const auto wait = throttle_.failed(req.remote_addr);
      if (wait.count() > 0) std::this_thread::sleep_for(wait);
    }
    res.status = 401;
    res.set_header(
        "WWW-Authenticate",
        login_.challenge(config_.account, verdict == DigestLogin::Verdict::kStale, Clock::now()));
    // No body: the library would cut a body to a Range the request asked for.
    return false;
  }

  void serve_status(httplib::Response& res) {
    const LiveStatus s = status_ ? status_() : LiveStatus{};
    std::error_code error;
    const auto space = std::filesystem::space(".", error);
    const std::uint64_t free_bytes = error ? 0 : static_cast<std::uint64_t>(space.available);
    std::string json = "{\"device\":\"" + json_escaped(s.device) +
                       "\",\"camera\":" + (s.camera_sending ? "true" : "false") +
                       ",\"motion\":" + (s.motion_enabled ? "true" : "false") +
                       ",\"free_bytes\":" + std::to_string(free_bytes) + ",\"frame_time\":\"" +
                       date_text(frames_.newest_time()) + "\"}";
    res.set_content(json, "application/json");
    no_store(res);
  }

  // The newest frame, after waiting up to a second for one while nobody watched.
  void serve_snapshot(httplib::Response& res) {
    LiveFrames::Watcher watching(frames_);
    LiveFrames::Jpeg jpeg = frames_.newest_jpeg();
    if (frames_.wait_newer(jpeg.sequence, std::chrono::seconds(1))) jpeg = frames_.newest_jpeg();
    if (!jpeg.bytes) {
      res.status = 503;
      return;
    }
    res.set_content(*jpeg.bytes, "image/jpeg");
    no_store(res);
  }

  void serve_stream(httplib::Response& res) {
    if (++streams_ > kMaxStreams) {
      --streams_;
      res.status = 503;
      res.set_header("Retry-After", "5");
      return;
    }
    auto watching = std::make_shared<LiveFrames::Watcher>(frames_);
    auto sent = std::make_shared<std::uint64_t>(0);
    no_store(res);
    res.set_chunked_content_provider(
        std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
        [this, watching, sent](std::size_t, httplib::DataSink& sink) {
          if (stopping_) return false;
          frames_.wait_newer(*sent, std::chrono::seconds(1));
          if (stopping_) return false;
          const LiveFrames::Jpeg jpeg = frames_.newest_jpeg();
          if (!jpeg.bytes || jpeg.sequence == *sent) return true;  // no new picture yet
          *sent = jpeg.sequence;
          const std::string head = std::string("--") + kBoundary +
                                   "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                   std::to_string(jpeg.bytes->size()) + "\r\n\r\n";
          return sink.write(head.data(), head.size()) &&
                 sink.write(jpeg.bytes->data(), jpeg.bytes->size()) && sink.write("\r\n", 2);
        },
        [this](bool) { --streams_; });
  }

  static void serve_video_list(httplib::Response& res) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Talvex videos</title>\n<style>body{margin:0;padding:8px 12px;background:#111;"
        "color:#eee;font:15px/1.4 sans-serif}a{color:#8cf}td,th{padding:4px 8px;text-align:"
        "left}td.n{text-align:right}</style></head><body>\n<p><a href=\"/\">Live view</a></p>\n"
        "<table>\n<tr><th>Start</th><th>End</th><th>Size (MB)</th><th></th></tr>\n";
    for (const ListedVideo& v : list_videos(".", kListedVideos)) {
      char size[32];
      std::snprintf(size, sizeof size, "%.1f", static_cast<double>(v.size) / 1048576.0);
      html += "<tr><td>" + date_text(v.start) + "</td><td>" + date_text(v.end) +
              "</td><td class=\"n\">" + size + "</td><td><a href=\"/videos/" +
              html_escaped(v.name) + "\" download>" + html_escaped(v.name) + "</a></td></tr>\n";
    }
    html += "</table>\n</body></html>\n";
    res.set_content(html, "text/html; charset=utf-8");
    no_store(res);
  }

  // Only a finished video of the folder, by its exact name; the library answers Range.
  static void serve_video(const std::string& name, httplib::Response& res) {
    CalendarTime start, end;
    std::error_code error;
    const std::filesystem::path path(name);
    if (!parse_video_file_name(name, start, end) ||
        !std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error))) {
      res.status = 404;
      return;
    }
    const auto size = std::filesystem::file_size(path, error);
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    if (error || !*file || size == 0) {
      res.status = 404;
      return;
    }
    res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    res.set_content_provider(
        static_cast<std::size_t>(size), "video/x-msvideo",
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          std::vector<char> chunk(std::min(length, kFileChunk));
          file->clear();
          file->seekg(static_cast<std::streamoff>(offset));
          file->read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
          const auto n = static_cast<std::size_t>(file->gcount());
          return n > 0 && sink.write(chunk.data(), n);
        });
  }

  LiveFrames& frames_;
  std::function<LiveStatus()>& status_;
  const LiveViewConfig config_;
  DigestLogin login_;
  LoginThrottle throttle_;
  httplib::Server server_;
  std::thread listener_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> streams_{0};
  int port_ = 0;
};

LiveViewServer::LiveViewServer(LiveFrames& frames, std::function<LiveStatus()> status)
    : frames_(frames), status_(std::move(status)) {}

LiveViewServer::~LiveViewServer() { stop(); }

int LiveViewServer::start(const LiveViewConfig& config) {
  stop();
  if (config.account.user.empty() || config.account.password_digest.empty() ||
      config.account.realm.empty() || config.port < 0 || config.port > 65535) {
    return msg::kLiveViewFailed;
  }
  auto impl = std::make_unique<Impl>(frames_, status_, config);
  if (!impl->start()) return msg::kLiveViewFailed;
  impl_ = std::move(impl);
  return msg::kOk;
}

void LiveViewServer::stop() {
  if (!impl_) return;
  impl_->stop();
  impl_.reset();
}

bool LiveViewServer::running() const { return impl_ && impl_->running(); }

int LiveViewServer::port() const { return impl_ ? impl_->port() : 0; }

}  // namespace talvex
