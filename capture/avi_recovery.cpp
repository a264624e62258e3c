#include "capture/avi_recovery.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>
#include <numeric>

#include "capture/video_name.h"
#include "capture/working_files.h"

namespace talvex {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kCopyBlock = 1 << 16;
// What the scan and the rebuild read at once: thousands of small chunks in one read.
constexpr std::size_t kReadBlock = 1 << 16;
// Index entries written at once.
constexpr std::size_t kIndexBlock = 4096;
constexpr int kNameAttempts = 99;
constexpr std::uint32_t kKeyFrame = 0x10;        // AVIIF_KEYFRAME
constexpr std::uint32_t kHasIndex = 0x10;        // AVIF_HASINDEX
constexpr std::uint32_t kIsInterleaved = 0x100;  // AVIF_ISINTERLEAVED
constexpr std::int64_t kUnitsPerSecond = 10000000;
constexpr std::int64_t kDefaultPeriod = kUnitsPerSecond / 15;
constexpr std::size_t kBitmapHeaderOffset = 48;  // in a VIDEOINFOHEADER
// The first year of the inspector's calendar (that of the platform's file times).
constexpr int kFirstCalendarYear = 1601;
// An AVI 1.0 file counts its sizes in 32 bits; a rebuilt file stays below this.
constexpr std::uint64_t kRiffLimit = 0xFFFF0000u;

bool is(const std::uint8_t* p, const char* fourcc) { return std::memcmp(p, fourcc, 4) == 0; }

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool printable(const std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  }
  return true;
}

// A chunk of the video stream: "00db" (uncompressed) or "00dc" (compressed).
bool is_frame(const std::uint8_t* p) {
  return p[0] == '0' && p[1] == '0' &&
         ((p[2] == 'd' && p[3] == 'b') || (p[2] == 'd' && p[3] == 'c'));
}

// A source read through one block of memory: reads that fall within the block cost no
// read of the source, so that a walk over small chunks reads the file once, in blocks.
// Reads as large as the block go to the source directly.
class BlockReader final : public ByteSource {
 public:
  explicit BlockReader(ByteSource& source) : source_(source) {}
  std::uint64_t size() const override { return source_.size(); }
  bool read(std::uint64_t offset, void* out, std::size_t n) override {
    const std::uint64_t size = source_.size();
    if (offset > size || size - offset < n) return false;
    if (n == 0) return true;
    if (n >= kReadBlock) return source_.read(offset, out, n);
    if (offset < at_ || offset - at_ > held_ || held_ - (offset - at_) < n) {
      block_.resize(kReadBlock);
      held_ = static_cast<std::size_t>(std::min<std::uint64_t>(kReadBlock, size - offset));
      at_ = offset;
      if (!source_.read(offset, block_.data(), held_)) {
        // The block may reach past what a shrunken file still holds; the bytes asked may not.
        held_ = 0;
        return source_.read(offset, out, n);
      }
    }
    std::memcpy(out, block_.data() + (offset - at_), n);
    return true;
  }

 private:
  ByteSource& source_;
  std::vector<std::uint8_t> block_;
  std::uint64_t at_ = 0;
  std::size_t held_ = 0;
};

// The first byte at or after `from` that is not zero, or the source's size.
std::uint64_t skip_zeros(ByteSource& source, std::uint64_t from) {
  std::uint8_t block[4096];
  while (from < source.size()) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, source.size() - from));
    if (!source.read(from, block, n)) return source.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (block[i] != 0) return from + i;
    }
    from += n;
  }
  return source.size();
}

// The most of a header list the scan reads to learn the stream's format.
constexpr std::uint32_t kLargestHeaderList = 1 << 20;

// The first video stream of a "hdrl" list's bytes (after the word "hdrl"): its BITMAPINFOHEADER
// and frame period, as a VIDEOINFOHEADER format. Nothing when a part is missing or torn.
std::optional<RecordingFormat> header_format(const std::uint8_t* p, std::size_t n) {
  for (std::size_t at = 0; n - at >= 8;) {
    const std::uint32_t size = le32(p + at + 4);
    if (size > n - at - 8) return std::nullopt;
    const std::uint8_t* body = p + at + 8;
    if (is(p + at, "LIST") && size >= 4 && is(body, "strl")) {
      const std::uint8_t* strh = nullptr;
      std::uint32_t strh_size = 0;
      for (std::size_t in = 4; size - in >= 8;) {
        const std::uint32_t sub = le32(body + in + 4);
        if (sub > size - in - 8) break;
        const std::uint8_t* data = body + in + 8;
        if (is(body + in, "strh")) {
          strh = data;
          strh_size = sub;
        } else if (is(body + in, "strf") && strh && strh_size >= 28 && is(strh, "vids") &&
                   sub >= 40 && sub <= kLargestHeaderList) {
          const std::uint32_t scale = le32(strh + 20), rate = le32(strh + 24);
          RecordingFormat format;
          format.major_type = kMediaTypeVideo;
          format.format_type = kFormatVideoInfo;
          if (scale > 0 && rate > 0) {
            format.frame_period = static_cast<std::int64_t>(static_cast<std::uint64_t>(scale) *
                                                            kUnitsPerSecond / rate);
          }
          format.format.assign(kBitmapHeaderOffset, 0);
          for (int i = 0; i < 8; ++i) {
            format.format[40 + i] = static_cast<std::uint8_t>(
                static_cast<std::uint64_t>(format.frame_period) >> (8 * i));
          }
          format.format.insert(format.format.end(), data, data + sub);
          if (!video_picture(format)) return std::nullopt;
          return format;
        }
        in += 8 + static_cast<std::size_t>(sub) + (sub & 1);
        if (in > size) break;
      }
    }
    at += 8 + static_cast<std::size_t>(size) + (size & 1);
    if (at > n) break;
  }
  return std::nullopt;
}

// The "ICRD" text "YYYY-MM-DD HH:MM:SS" of an INFO list's bytes (after the word "INFO").
std::optional<CalendarTime> info_created(const std::uint8_t* p, std::size_t n) {
  for (std::size_t at = 0; n - at >= 8;) {
    const std::uint32_t size = le32(p + at + 4);
    if (size > n - at - 8) return std::nullopt;
    if (is(p + at, "ICRD") && size >= 19) {
      const char* t = reinterpret_cast<const char*>(p + at + 8);
      auto number = [&](int from, int digits, int low, int high, int& out) {
        int v = 0;
        for (int i = 0; i < digits; ++i) {
          if (t[from + i] < '0' || t[from + i] > '9') return false;
          v = v * 10 + (t[from + i] - '0');
        }
        out = v;
        return v >= low && v <= high;
      };
      CalendarTime c;
      if (number(0, 4, 1601, 9999, c.year) && t[4] == '-' && number(5, 2, 1, 12, c.month) &&
          t[7] == '-' && number(8, 2, 1, 31, c.day) && t[10] == ' ' &&
          number(11, 2, 0, 23, c.hour) && t[13] == ':' && number(14, 2, 0, 59, c.minute) &&
          t[16] == ':' && number(17, 2, 0, 59, c.second)) {
        return c;
      }
      return std::nullopt;
    }
    at += 8 + static_cast<std::size_t>(size) + (size & 1);
    if (at > n) break;
  }
  return std::nullopt;
}

class Builder {
 public:
  Bytes bytes;
  void fourcc(const char* f) { bytes.insert(bytes.end(), f, f + 4); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void u16(std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void raw(const std::uint8_t* p, std::size_t n) { bytes.insert(bytes.end(), p, p + n); }
};

bool write_all(std::FILE* out, const void* data, std::size_t n) {
  return n == 0 || system_calls().write_file(data, n, out) == n;
}

// Copies `n` bytes of the source at `offset` to the stream through `block`.
bool copy_range(ByteSource& source, std::uint64_t offset, std::uint64_t n, std::FILE* out,
                std::vector<std::uint8_t>& block) {
  if (n > 0 && block.size() < kCopyBlock) {
    block.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBlock, n)));
  }
  while (n > 0) {
    const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), n));
    if (!source.read(offset, block.data(), step) || !write_all(out, block.data(), step)) {
      return false;
    }
    offset += step;
    n -= step;
  }
  return true;
}

std::int64_t seconds_between(const CalendarTime& a, const CalendarTime& b) {
  auto to_seconds = [](const CalendarTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
  };
  return to_seconds(b) - to_seconds(a);
}

std::string two_digits(int v) {
  char text[16];
  std::snprintf(text, sizeof text, v < 10 ? "0%d" : "%d", v);
  return text;
}

// "_2", "_3" ... before the extension, for names that are taken.
std::string numbered(const std::string& name, int number) {
  if (number == 1) return name;
  const std::size_t dot = name.rfind('.');
  return name.substr(0, dot) + "_" + std::to_string(number) + name.substr(dot);
}

bool exists(const char* name) {
  std::uint64_t size;
  CalendarTime time;
  return system_calls().file_status(name, size, time);
}

// Gives `from` the first free name of the series of `base`.
bool rename_to_free_name(const char* from, const std::string& base, std::string& name) {
  for (int n = 1; n <= kNameAttempts; ++n) {
    const std::string candidate = numbered(base, n);
    if (exists(candidate.c_str())) continue;
    if (system_calls().rename_no_replace(from, candidate.c_str())) {
      name = candidate;
      return true;
    }
    if (!exists(candidate.c_str())) return false;  // not a name clash: give up
  }
  return false;
}

}  // namespace

bool rename_to_dated_name(const char* from, const CalendarTime& start, const CalendarTime& end,
                          std::string& name) {
  return rename_to_free_name(from, format_video_file_name(start, end), name);
}

bool MemorySource::read(std::uint64_t offset, void* out, std::size_t n) {
  if (offset > bytes_.size() || bytes_.size() - offset < n) return false;
  if (n > 0) std::memcpy(out, bytes_.data() + offset, n);
  return true;
}

bool FileSource::read(std::uint64_t offset, void* out, std::size_t n) {
  if (offset > size_ || size_ - offset < n) return false;
  const SystemCalls& sys = system_calls();
  return sys.seek_file(file_, offset) && sys.read_file(out, n, file_) == n;
}

AviScan scan_avi(ByteSource& file) {
  BlockReader source(file);
  AviScan scan;
  const std::uint64_t size = source.size();
  std::uint8_t h[12];
  std::uint64_t p = 0;
  if (size >= 12 && source.read(0, h, 12) && is(h, "RIFF") && is(h + 8, "AVI ")) {
    scan.headers = true;
    p = 12;
  }
  bool header_list = false, movie_list = false, index = false, torn = false;
  // A RIFF size of 0 is what the recorder writes until it finishes the file.
  const bool riff_size_written = scan.headers && le32(h + 4) != 0;
  while (size - p >= 8) {
    if (!source.read(p, h, 8)) {
      torn = true;
      break;
    }
    if (le32(h) == 0 && le32(h + 4) == 0) {
      // Zeros stand where the multiplexer had kept room for headers it never wrote. After
      // the first frame they are a tail that a power cut left unwritten: the end.
      if (!scan.frames.empty()) break;
      p = skip_zeros(source, p);
      if (p % 2 != 0) {
        torn = true;
        break;
      }
      continue;
    }
    if (!printable(h)) {
      torn = true;
      break;
    }
    const std::uint32_t n = le32(h + 4);
    if (is(h, "RIFF") || is(h, "LIST")) {
      if (size - p < 12 || !source.read(p + 8, h + 8, 4)) {
        torn = true;
        break;
      }
      const bool riff = is(h, "RIFF");
      // The containers of the frames are entered; their sizes may never have been written.
      if ((riff && (is(h + 8, "AVI ") || is(h + 8, "AVIX"))) ||
          (!riff && (is(h + 8, "movi") || is(h + 8, "rec ")))) {
        if (!riff && is(h + 8, "movi")) movie_list = true;
        p += 12;
        continue;
      }
    }
    if (size - (p + 8) < n) {
      torn = true;
      break;
    }
    if (is_frame(h)) {
      if (scan.frames.size() == kMostRecoveredFrames) {
        scan.over_limit = true;
        break;
      }
      FrameChunk chunk;
      chunk.offset = p;
      chunk.size = n;
      std::memcpy(chunk.id.data(), h, 4);
      scan.frames.push_back(chunk);
    } else if (is(h, "LIST") && (is(h + 8, "hdrl") || is(h + 8, "INFO"))) {
      const bool hdrl = is(h + 8, "hdrl");
      header_list = header_list || hdrl;
      if (n > 4 && n <= kLargestHeaderList) {
        std::vector<std::uint8_t> list(n - 4);
        if (source.read(p + 12, list.data(), list.size())) {
          if (hdrl && !scan.format) scan.format = header_format(list.data(), list.size());
          if (!hdrl && !scan.created) scan.created = info_created(list.data(), list.size());
        }
      }
    } else if (is(h, "idx1")) {
      index = true;
    }
    p += 8 + static_cast<std::uint64_t>(n) + (n & 1);
    if (p > size) p = size;  // a last pad byte the file does not hold
  }
  scan.intact = scan.headers && riff_size_written && header_list && movie_list && index && !torn &&
                !scan.over_limit;
  return scan;
}

std::int64_t recovered_frame_period(const RecordingFormat& format, const CalendarTime& start,
                                    const CalendarTime& end, std::size_t frames) {
  if (format.frame_period > 0) return format.frame_period;
  if (const auto picture = video_picture(format); picture && picture->frame_period > 0) {
    return picture->frame_period;
  }
  const std::int64_t seconds = seconds_between(start, end);
  if (frames > 0 && seconds > 0) {
    return std::max<std::int64_t>(1, seconds * kUnitsPerSecond / static_cast<std::int64_t>(frames));
  }
  return kDefaultPeriod;
}

bool write_rebuilt_avi(ByteSource& file, std::span<const FrameChunk> frames,
                       const RecordingFormat& format, std::int64_t frame_period, std::FILE* out) {
  BlockReader source(file);
  const auto picture = video_picture(format);
  if (!picture || frame_period <= 0) return false;
  const std::size_t strf_size = format.format.size() - kBitmapHeaderOffset;
  const std::uint32_t strf_padded = static_cast<std::uint32_t>(strf_size + (strf_size & 1));

  // As many frames as an AVI 1.0 file can count.
  std::uint64_t movie_size = 4;
  std::uint32_t largest = 0;
  std::size_t count = 0;
  for (const FrameChunk& f : frames) {
    const std::uint64_t grown = movie_size + 8 + f.size + (f.size & 1) + 16;
    if (grown + 1024 + strf_padded > kRiffLimit) break;
    movie_size = grown - 16;
    largest = std::max(largest, f.size);
    ++count;
  }
  frames = frames.first(count);
  const std::uint32_t index_size = static_cast<std::uint32_t>(16 * count);
  const std::uint32_t strl_size = 4 + (8 + 56) + (8 + strf_padded);
  const std::uint32_t hdrl_size = 4 + (8 + 56) + (8 + strl_size);
  const std::uint64_t riff_size = 4 + (8 + hdrl_size) + (8 + movie_size) + (8 + index_size);

  std::int64_t scale = frame_period, rate = kUnitsPerSecond;
  const std::int64_t divisor = std::gcd(scale, rate);
  scale /= divisor;
  rate /= divisor;
  const std::uint32_t width = static_cast<std::uint32_t>(picture->width);
  const std::uint32_t height = static_cast<std::uint32_t>(
      picture->height < 0 ? -static_cast<std::int64_t>(picture->height) : picture->height);
  const std::uint64_t micro_seconds = static_cast<std::uint64_t>(frame_period / 10);
  const std::uint64_t bytes_per_second = static_cast<std::uint64_t>(largest) *
                                         static_cast<std::uint64_t>(kUnitsPerSecond) /
                                         static_cast<std::uint64_t>(frame_period);

  Builder b;
  b.fourcc("RIFF");
  b.u32(static_cast<std::uint32_t>(riff_size));
  b.fourcc("AVI ");
  b.fourcc("LIST");
  b.u32(hdrl_size);
  b.fourcc("hdrl");
  b.fourcc("avih");
  b.u32(56);
  b.u32(static_cast<std::uint32_t>(std::min<std::uint64_t>(micro_seconds, 0xFFFFFFFFu)));
  b.u32(static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes_per_second, 0xFFFFFFFFu)));
  b.u32(0);  // padding granularity
  b.u32(kHasIndex | kIsInterleaved);
  b.u32(static_cast<std::uint32_t>(count));
  b.u32(0);  // initial frames
  b.u32(1);  // streams
  b.u32(largest);
  b.u32(width);
  b.u32(height);
  for (int i = 0; i < 4; ++i) b.u32(0);
  b.fourcc("LIST");
  b.u32(strl_size);
  b.fourcc("strl");
  b.fourcc("strh");
  b.u32(56);
  b.fourcc("vids");
  b.u32(picture->compression);  // handler: the picture's compression code, 0 for plain RGB
  b.u32(0);                     // flags
  b.u16(0);                     // priority
  b.u16(0);                     // language
  b.u32(0);                     // initial frames
  b.u32(static_cast<std::uint32_t>(scale));
  b.u32(static_cast<std::uint32_t>(rate));
  b.u32(0);  // start
  b.u32(static_cast<std::uint32_t>(count));
  b.u32(largest);
  b.u32(0xFFFFFFFFu);  // quality: default
  b.u32(0);            // sample size: varies
  b.u16(0);
  b.u16(0);
  b.u16(static_cast<std::uint16_t>(width));
  b.u16(static_cast<std::uint16_t>(height));
  b.fourcc("strf");
  b.u32(static_cast<std::uint32_t>(strf_size));
  b.raw(format.format.data() + kBitmapHeaderOffset, strf_size);
  if (strf_size & 1) b.bytes.push_back(0);
  b.fourcc("LIST");
  b.u32(static_cast<std::uint32_t>(movie_size));
  b.fourcc("movi");
  if (!write_all(out, b.bytes.data(), b.bytes.size())) return false;

  std::vector<std::uint8_t> block;
  for (const FrameChunk& f : frames) {
    std::uint8_t header[8];
    std::memcpy(header, f.id.data(), 4);
    for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<std::uint8_t>(f.size >> (8 * i));
    if (!write_all(out, header, 8) || !copy_range(source, f.offset + 8, f.size, out, block)) {
      return false;
    }
    if ((f.size & 1) && !write_all(out, "", 1)) return false;
  }

  // The index, written a block of entries at a time.
  Builder index;
  index.fourcc("idx1");
  index.u32(index_size);
  std::uint64_t offset = 4;  // from the "movi" word
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const FrameChunk& f = frames[i];
    index.raw(reinterpret_cast<const std::uint8_t*>(f.id.data()), 4);
    index.u32(kKeyFrame);
    index.u32(static_cast<std::uint32_t>(offset));
    index.u32(f.size);
    offset += 8 + f.size + (f.size & 1);
    if ((i + 1) % kIndexBlock == 0) {
      if (!write_all(out, index.bytes.data(), index.bytes.size())) return false;
      index.bytes.clear();
    }
  }
  return write_all(out, index.bytes.data(), index.bytes.size());
}

bool save_video(const std::function<bool(std::FILE*)>& produce, const CalendarTime& start,
                const CalendarTime& end, std::string& name) {
  const SystemCalls& sys = system_calls();
  bool ok;
  {
    ScopedFile file(sys.open_file(kSaveWorkingName, "wb"));
    if (!file) return false;
    ok = produce(file.get());
    ok = ok && sys.flush_file(file.get());
    ok = file.close() && ok;
  }
  ok = ok && rename_to_free_name(kSaveWorkingName, format_video_file_name(start, end), name);
  if (!ok) sys.remove_file(kSaveWorkingName);
  return ok;
}

namespace {

// A name that the inspector lists and reads back: the strict parser takes it and gives the
// same fields, both dates exist, and the end is not before the start (a crash in the hour
// that the clock goes back can give one).
bool nameable(const CalendarTime& start, const CalendarTime& end) {
  CalendarTime first, last;
  if (!parse_video_file_name(format_video_file_name(start, end), first, last)) return false;
  auto fields = [](const CalendarTime& t) {
    return std::array<int, 6>{t.year, t.month, t.day, t.hour, t.minute, t.second};
  };
  auto date_exists = [](const CalendarTime& t) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    return t.year >= kFirstCalendarYear && t.day <= kDays[t.month - 1] + (t.month == 2 && leap);
  };
  return fields(first) == fields(start) && fields(last) == fields(end) && date_exists(first) &&
         date_exists(last) && fields(first) <= fields(last);
}

// Moves the temporary recording, untouched, out of the way of the next recording under a
// name that no recording writes and the inspector does not list.
void keep_aside(const CalendarTime& written, RecoveryReport& report) {
  const SystemCalls& sys = system_calls();
  const std::string kept = "Talvex_unrecovered_" + std::to_string(written.year) + "-" +
                           two_digits(written.month) + "-" + two_digits(written.day) + "_" +
                           two_digits(written.hour) + "-" + two_digits(written.minute) + "-" +
                           two_digits(written.second) + ".avi";
  report.outcome = RecoveryReport::Outcome::kKept;
  if (rename_to_free_name(kTempRecordingName, kept, report.name)) {
    sys.remove_file(kRecordingDescriptorName);
  } else {
    report.name = kTempRecordingName;
  }
}

// Saves a scanned temporary recording: a copy when it is intact, else an AVI rebuilt from
// its frame chunks with `format`.
bool save_scanned(ByteSource& source, const AviScan& scan, const RecordingFormat* format,
                  const CalendarTime& start, const CalendarTime& end, std::string& name,
                  std::size_t& frames) {
  frames = 0;
  if (scan.over_limit || (scan.frames.empty() && !scan.intact)) return false;
  bool saved;
  if (scan.intact) {
    // The multiplexer finished the file: a copy, checked to be whole.
    saved = save_video(
        [&](std::FILE* out) {
          std::vector<std::uint8_t> block;
          return copy_range(source, 0, source.size(), out, block);
        },
        start, end, name);
  } else {
    if (!format) return false;
    const std::int64_t period = recovered_frame_period(*format, start, end, scan.frames.size());
    saved = save_video(
        [&](std::FILE* out) {
          return write_rebuilt_avi(source, scan.frames, *format, period, out);
        },
        start, end, name);
  }
  frames = scan.frames.size();
  return saved;
}

RecoveryReport recover() {
  const SystemCalls& sys = system_calls();
  RecoveryReport report;
  std::uint64_t size = 0;
  CalendarTime written;
  if (!sys.file_status(kTempRecordingName, size, written)) {
    sys.remove_file(kRecordingDescriptorName);
    return report;
  }
  ScopedFile file(sys.open_file(kTempRecordingName, "rb"));
  if (!file) return report;
  FileSource source(file.get(), size);
  AviScan scan = scan_avi(source);
  if (scan.frames.empty() && !scan.over_limit) {
    sys.remove_file(kRecordingDescriptorName);
    return report;
  }
  report.frames = scan.frames.size();
  // The file's own headers first: a descriptor beside it can only be an older recording's.
  const auto descriptor = read_descriptor_file();
  const RecordingFormat* format = scan.format ? &*scan.format
                                  : descriptor && video_picture(descriptor->format)
                                      ? &descriptor->format
                                      : nullptr;
  std::optional<CalendarTime> start = scan.created;
  if (!start && descriptor) start = descriptor->start;
  bool recovered = false;
  if (start && !scan.over_limit && nameable(*start, written)) {
    if (scan.intact) {
      // Finished and only not renamed: it gets its name, as the save would have given it.
      file.close();
      recovered = rename_to_dated_name(kTempRecordingName, *start, written, report.name);
    } else if (format) {
      recovered = save_scanned(source, scan, format, *start, written, report.name, report.frames);
      file.close();
      if (recovered) sys.remove_file(kTempRecordingName);
    }
  }
  file.close();
  // The table of frames is not needed from here.
  scan = AviScan{};
  if (recovered) {
    sys.remove_file(kRecordingDescriptorName);
    report.outcome = RecoveryReport::Outcome::kRecovered;
    return report;
  }
  keep_aside(written, report);
  return report;
}

}  // namespace

bool save_temporary_recording(const RecordingFormat* format, const CalendarTime& start,
                              const CalendarTime& end, std::string& name, std::size_t& frames) {
  const SystemCalls& sys = system_calls();
  frames = 0;
  std::uint64_t size = 0;
  CalendarTime written;
  if (!sys.file_status(kTempRecordingName, size, written)) return false;
  ScopedFile file(sys.open_file(kTempRecordingName, "rb"));
  if (!file) return false;
  FileSource source(file.get(), size);
  return save_scanned(source, scan_avi(source), format, start, end, name, frames);
}

RecoveryReport recover_interrupted_recording() noexcept {
  try {
    return recover();
  } catch (const std::bad_alloc&) {
    // Not the memory this file needs. What the unwinding freed is enough to move it aside
    // untouched, so that the next start does not fail on it again.
    system_calls().remove_file(kSaveWorkingName);
    RecoveryReport report;
    report.outcome = RecoveryReport::Outcome::kKept;
    try {
      std::uint64_t size = 0;
      CalendarTime written;
      if (system_calls().file_status(kTempRecordingName, size, written)) {
        keep_aside(written, report);
      }
    } catch (const std::bad_alloc&) {
      report.outcome = RecoveryReport::Outcome::kKept;
      report.name = kTempRecordingName;  // as short as a string holds without the heap
    }
    return report;
  }
}

}  // namespace talvex
