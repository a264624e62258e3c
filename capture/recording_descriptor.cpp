#include "capture/recording_descriptor.h"

#include <cstring>

namespace talvex {
namespace {

constexpr std::uint8_t kSignature[4] = {'T', 'X', 'R', 'D'};
constexpr std::uint32_t kVersion = 1;
// A format block larger than this is not a video format of ours.
constexpr std::uint32_t kFormatLimit = 1 << 16;
constexpr std::size_t kVideoInfoSize = 88;  // VIDEOINFOHEADER with its BITMAPINFOHEADER
constexpr std::size_t kReadLimit = 1 << 17;

std::uint32_t check_sum(std::span<const std::uint8_t> bytes) {  // FNV-1a
  std::uint32_t h = 2166136261u;
  for (std::uint8_t b : bytes) h = (h ^ b) * 16777619u;
  return h;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put64(std::vector<std::uint8_t>& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Reads little-endian fields and remembers whether any read ran past the end.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  std::size_t position() const { return at_; }
  bool take(void* out, std::size_t n) {
    if (!ok_ || bytes_.size() - at_ < n) return ok_ = false;
    if (n == 0) return true;
    std::memcpy(out, bytes_.data() + at_, n);
    at_ += n;
    return true;
  }
  std::uint32_t u32() {
    std::uint8_t b[4] = {};
    take(b, 4);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
  }
  std::uint64_t u64() {
    const std::uint64_t low = u32();
    return low | (static_cast<std::uint64_t>(u32()) << 32);
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

const MediaGuid kMediaTypeVideo = {0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00,
                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const MediaGuid kFormatVideoInfo = {0x80, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11,
                                    0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A};

std::optional<VideoPicture> video_picture(const RecordingFormat& format) {
  if (format.format_type != kFormatVideoInfo || format.format.size() < kVideoInfoSize) {
    return std::nullopt;
  }
  const std::uint8_t* f = format.format.data();
  VideoPicture picture;
  std::uint64_t period = le32(f + 40) | (static_cast<std::uint64_t>(le32(f + 44)) << 32);
  picture.frame_period = static_cast<std::int64_t>(period);
  // The BITMAPINFOHEADER follows the 48 bytes of rectangles, rates and frame period.
  picture.width = static_cast<std::int32_t>(le32(f + 48 + 4));
  picture.height = static_cast<std::int32_t>(le32(f + 48 + 8));
  picture.compression = le32(f + 48 + 16);
  if (picture.width <= 0 || picture.height == 0 || picture.height == INT32_MIN) {
    return std::nullopt;
  }
  return picture;
}

std::vector<std::uint8_t> descriptor_bytes(const RecordingDescriptor& d) {
  std::vector<std::uint8_t> out(std::begin(kSignature), std::end(kSignature));
  put32(out, kVersion);
  for (const MediaGuid* g : {&d.format.major_type, &d.format.sub_type, &d.format.format_type}) {
    out.insert(out.end(), g->begin(), g->end());
  }
  put64(out, static_cast<std::uint64_t>(d.format.frame_period));
  for (int v : {d.start.year, d.start.month, d.start.day, d.start.hour, d.start.minute,
                d.start.second, d.start.milliseconds}) {
    put32(out, static_cast<std::uint32_t>(v));
  }
  put32(out, static_cast<std::uint32_t>(d.format.format.size()));
  out.insert(out.end(), d.format.format.begin(), d.format.format.end());
  put32(out, check_sum(out));
  return out;
}

std::optional<RecordingDescriptor> parse_descriptor(std::span<const std::uint8_t> bytes) {
  Reader r(bytes);
  std::uint8_t signature[4] = {};
  r.take(signature, 4);
  if (!r.ok() || std::memcmp(signature, kSignature, 4) != 0 || r.u32() != kVersion) {
    return std::nullopt;
  }
  RecordingDescriptor d;
  r.take(d.format.major_type.data(), 16);
  r.take(d.format.sub_type.data(), 16);
  r.take(d.format.format_type.data(), 16);
  d.format.frame_period = static_cast<std::int64_t>(r.u64());
  int* fields[] = {&d.start.year,   &d.start.month,  &d.start.day,         &d.start.hour,
                   &d.start.minute, &d.start.second, &d.start.milliseconds};
  for (int* field : fields) *field = static_cast<std::int32_t>(r.u32());
  const std::uint32_t format_size = r.u32();
  if (!r.ok() || format_size > kFormatLimit || bytes.size() - r.position() < format_size) {
    return std::nullopt;
  }
  d.format.format.resize(format_size);
  r.take(d.format.format.data(), format_size);
  const std::size_t summed = r.position();
  const std::uint32_t sum = r.u32();
  if (!r.ok() || r.position() != bytes.size() || sum != check_sum(bytes.first(summed))) {
    return std::nullopt;
  }
  return d;
}

bool write_descriptor_file(const RecordingDescriptor& descriptor) {
  const SystemCalls& sys = system_calls();
  const std::vector<std::uint8_t> bytes = descriptor_bytes(descriptor);
  ScopedFile file(sys.open_file(kRecordingDescriptorName, "wb"));
  if (!file) return false;
  bool ok = sys.write_file(bytes.data(), bytes.size(), file.get()) == bytes.size();
  ok = ok && sys.flush_file(file.get());
  ok = file.close() && ok;
  if (!ok) sys.remove_file(kRecordingDescriptorName);
  return ok;
}

std::optional<RecordingDescriptor> read_descriptor_file() {
  const SystemCalls& sys = system_calls();
  ScopedFile file(sys.open_file(kRecordingDescriptorName, "rb"));
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes(kReadLimit);
  const std::size_t n = sys.read_file(bytes.data(), bytes.size(), file.get());
  bytes.resize(n);
  return parse_descriptor(bytes);
}

}  // namespace talvex
