#include "capture/avi_writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <numeric>
#include <string>

namespace talvex {
namespace {

constexpr std::int64_t kUnitsPerSecond = 10000000;
constexpr std::int64_t kDefaultPeriod = kUnitsPerSecond / 15;
constexpr std::int64_t kSyncMilliseconds = 1000;
constexpr std::size_t kBitmapHeaderOffset = 48;  // in a VIDEOINFOHEADER
constexpr std::size_t kBitmapHeaderSize = 40;    // BITMAPINFOHEADER
constexpr std::uint32_t kKeyFrame = 0x10;        // AVIIF_KEYFRAME
constexpr std::uint32_t kHasIndex = 0x10;        // AVIF_HASINDEX
constexpr std::uint32_t kIsInterleaved = 0x100;  // AVIF_ISINTERLEAVED
constexpr std::uint32_t kRgb = 0, kBitfields = 3;
// The "LIST movi" header ends where the frame chunks begin.
constexpr std::uint64_t kMovieList = kAviHeaderArea - 12;
constexpr std::uint64_t kMovieWord = kAviHeaderArea - 4;
// An AVI 1.0 file counts its sizes in 32 bits.
constexpr std::uint64_t kRiffLimit = 0xFFFF0000u;

class Bytes {
 public:
  std::vector<std::uint8_t> v;
  void fourcc(const char* f) { v.insert(v.end(), f, f + 4); }
  void u32(std::uint64_t x) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(x, 0xFFFFFFFFu));
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  }
  void u16(std::uint32_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
  }
  void raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    v.insert(v.end(), b, b + n);
  }
  void zeros(std::size_t n) { v.insert(v.end(), n, 0); }
};

std::string two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

}  // namespace

std::int64_t AviWriter::steady_milliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::optional<AviStream> avi_stream(const RecordingFormat& format) {
  const auto picture = video_picture(format);
  if (!picture || picture->width <= 0 || picture->height == 0) return std::nullopt;
  const std::size_t info = format.format.size() - kBitmapHeaderOffset;
  if (info < kBitmapHeaderSize || info > kAviLargestStreamFormat) return std::nullopt;
  AviStream stream;
  stream.picture = *picture;
  stream.bitmap_info.assign(format.format.begin() + kBitmapHeaderOffset, format.format.end());
  stream.frame_period = format.frame_period > 0     ? format.frame_period
                        : picture->frame_period > 0 ? picture->frame_period
                                                    : kDefaultPeriod;
  stream.compressed = picture->compression != kRgb && picture->compression != kBitfields;
  return stream;
}

AviWriter::~AviWriter() { close(); }

void AviWriter::close() {
  if (!file_) return;
  system_calls().close_file(file_);
  file_ = nullptr;
}

bool AviWriter::write(const void* data, std::size_t size) {
  if (failed_) return false;
  if (size > 0 && system_calls().write_file(data, size, file_) != size) {
    // Whatever part of it reached the file lies past the end: overwritten by the next write.
    tail_stale_ = true;
    tail_written_ = true;
    return false;
  }
  return true;
}

bool AviWriter::at_end() {
  if (!tail_stale_) return true;
  std::clearerr(file_);
  if (!system_calls().seek_file(file_, end_)) return false;
  tail_stale_ = false;
  return true;
}

std::vector<std::uint8_t> AviWriter::headers(std::int64_t period) const {
  const bool finished = period > 0;
  if (!finished) period = stream_.frame_period;
  std::int64_t scale = period, rate = kUnitsPerSecond;
  const std::int64_t divisor = std::gcd(scale, rate);
  scale /= divisor;
  rate /= divisor;
  const std::uint32_t width = static_cast<std::uint32_t>(stream_.picture.width);
  const std::int64_t h = stream_.picture.height;
  const std::uint32_t height = static_cast<std::uint32_t>(h < 0 ? -h : h);
  const std::size_t info = stream_.bitmap_info.size();
  const std::size_t info_padded = info + (info & 1);
  const std::uint64_t count = finished ? index_.size() : 0;
  const std::uint64_t bytes_per_second =
      static_cast<std::uint64_t>(largest_) * kUnitsPerSecond / static_cast<std::uint64_t>(period);

  Bytes b;
  b.fourcc("RIFF");
  b.u32(finished ? end_ + 8 + 16 * index_.size() - 8 : 0);
  b.fourcc("AVI ");
  b.fourcc("LIST");
  b.u32(4 + 64 + 12 + 64 + 8 + info_padded);
  b.fourcc("hdrl");
  b.fourcc("avih");
  b.u32(56);
  b.u32(static_cast<std::uint64_t>(period / 10));
  b.u32(bytes_per_second);
  b.u32(0);  // padding granularity
  b.u32(kHasIndex | kIsInterleaved);
  b.u32(count);
  b.u32(0);  // initial frames
  b.u32(1);  // streams
  b.u32(largest_);
  b.u32(width);
  b.u32(height);
  b.zeros(16);
  b.fourcc("LIST");
  b.u32(4 + 64 + 8 + info_padded);
  b.fourcc("strl");
  b.fourcc("strh");
  b.u32(56);
  b.fourcc("vids");
  b.u32(stream_.picture.compression);  // handler: the compression code, 0 for plain RGB
  b.u32(0);                            // flags
  b.u16(0);                            // priority
  b.u16(0);                            // language
  b.u32(0);                            // initial frames
  b.u32(static_cast<std::uint64_t>(scale));
  b.u32(static_cast<std::uint64_t>(rate));
  b.u32(0);  // start
  b.u32(count);
  b.u32(largest_);
  b.u32(0xFFFFFFFFu);  // quality: default
  b.u32(0);            // sample size: varies
  b.u16(0);
  b.u16(0);
  b.u16(std::min<std::uint32_t>(width, 0xFFFF));
  b.u16(std::min<std::uint32_t>(height, 0xFFFF));
  b.fourcc("strf");
  b.u32(info);
  b.raw(stream_.bitmap_info.data(), info);
  b.zeros(info_padded - info);
  // The recording's start, so that a recovery can name the video without anything else.
  const CalendarTime& t = start_;
  const std::string date = std::to_string(t.year) + "-" + two(t.month) + "-" + two(t.day) + " " +
                           two(t.hour) + ":" + two(t.minute) + ":" + two(t.second);
  char created[20] = {};
  std::memcpy(created, date.data(), std::min(date.size(), sizeof created - 1));
  b.fourcc("LIST");
  b.u32(4 + 8 + sizeof created);
  b.fourcc("INFO");
  b.fourcc("ICRD");
  b.u32(sizeof created);
  b.raw(created, sizeof created);
  b.fourcc("JUNK");
  b.u32(kMovieList - b.v.size() - 4);
  b.zeros(kMovieList - b.v.size());
  b.fourcc("LIST");
  b.u32(finished ? end_ - kMovieWord : 0);
  b.fourcc("movi");
  return b.v;
}

bool AviWriter::open(const char* name, const AviStream& stream, const CalendarTime& start) {
  close();
  failed_ = false;
  stream_ = stream;
  start_ = start;
  index_.clear();
  largest_ = 0;
  end_ = kAviHeaderArea;
  if (stream_.frame_period <= 0 || stream_.bitmap_info.size() > kAviLargestStreamFormat) {
    return false;
  }
  tail_stale_ = false;
  tail_written_ = false;
  file_ = system_calls().open_file(name, "wb");
  if (!file_) return false;
  // Unbuffered: a write the disk refused leaves nothing behind in a buffer, so that the
  // next one can start over at the end of the last whole frame.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  const std::vector<std::uint8_t> h = headers(0);
  if (!write(h.data(), h.size()) || !system_calls().flush_file(file_)) {
    failed_ = true;
    close();
    return false;
  }
  last_sync_ = clock_();
  return true;
}

std::uint64_t AviWriter::size_with(std::size_t size) const {
  return end_ + 8 + size + (size & 1) + 8 + 16 * (index_.size() + 1);
}

bool AviWriter::append(const std::uint8_t* data, std::size_t size, bool key, std::int64_t time) {
  if (!file_ || failed_) return false;
  if (size_with(size) > kRiffLimit) {
    failed_ = true;
    return false;
  }
  if (!at_end()) return false;
  std::uint8_t header[8];
  std::memcpy(header, stream_.compressed ? "00dc" : "00db", 4);
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  if (!write(header, 8) || !write(data, size) || ((size & 1) && !write("", 1))) return false;
  // A killed process loses nothing that reached the system; a power cut at most the last
  // second. A frame the system could not take is not part of the file.
  if (std::fflush(file_) != 0) {
    tail_stale_ = tail_written_ = true;
    return false;
  }
  const std::int64_t now = clock_();
  if (now - last_sync_ >= kSyncMilliseconds) {
    if (!system_calls().flush_file(file_)) {
      tail_stale_ = tail_written_ = true;
      return false;
    }
    last_sync_ = now;
  }
  if (index_.empty()) first_time_ = time;
  last_time_ = time;
  index_.push_back(
      {static_cast<std::uint32_t>(end_ - kMovieWord), static_cast<std::uint32_t>(size), key});
  largest_ = std::max(largest_, static_cast<std::uint32_t>(size));
  end_ += 8 + size + (size & 1);
  return true;
}

bool AviWriter::finish() {
  if (!file_) return false;
  bool ok = !failed_;
  if (ok) {
    // Always from the end of the last whole frame: a finish that failed may be tried again.
    tail_stale_ = true;
    Bytes index;
    index.fourcc("idx1");
    index.u32(16 * index_.size());
    const char* id = stream_.compressed ? "00dc" : "00db";
    for (const Entry& e : index_) {
      index.fourcc(id);
      index.u32(e.key ? kKeyFrame : 0);
      index.u32(e.offset);
      index.u32(e.size);
    }
    std::int64_t period = stream_.frame_period;
    if (index_.size() >= 2 && last_time_ > first_time_) {
      const std::int64_t gaps = static_cast<std::int64_t>(index_.size() - 1);
      period = std::max<std::int64_t>(1, (last_time_ - first_time_ + gaps / 2) / gaps);
    }
    const std::vector<std::uint8_t> h = headers(period);
    ok = at_end() && write(index.v.data(), index.v.size());
    // What a refused frame left past the index goes; where it cannot, it stays behind the
    // last chunk the headers count, where no reader looks.
    if (ok && tail_written_) system_calls().truncate_file(file_, end_ + index.v.size());
    ok = ok && system_calls().seek_file(file_, 0) && write(h.data(), h.size()) &&
         system_calls().flush_file(file_);
    // The file stays open for another try once the disk has room.
    if (!ok) return false;
  }
  ok = system_calls().close_file(file_) == 0 && ok;
  file_ = nullptr;
  if (!ok) failed_ = true;
  return ok;
}

}  // namespace talvex
