#include "capture/frame_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "capture/motion_kernel.h"
#include "capture/working_files.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

std::uint32_t get16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t get32(const std::uint8_t* p) {
  return get16(p) | (static_cast<std::uint32_t>(get16(p + 2)) << 16);
}

int padded_stride(std::int64_t width, int bytes_per_pixel) {
  return static_cast<int>((width * bytes_per_pixel + 3) & ~std::int64_t{3});
}

// Sums grey values the way a 32-bit float accumulator does when each value is added on its
// own: exactly, in integers, while the total stays below 2^24; value by value in float after.
class GraySum {
 public:
  // Adds a row whose values are produced by `value(x)`; `limit` bounds the row's sum.
  template <typename Value>
  void add_row(int width, Value value) {
    if (!in_float_ && integer_ + std::int64_t{255} * width < kExactLimit) {
      std::int64_t row = 0;
      for (int x = 0; x < width; ++x) row += value(x);
      integer_ += row;
      return;
    }
    if (!in_float_) {
      sum_ = static_cast<float>(integer_);
      in_float_ = true;
    }
    for (int x = 0; x < width; ++x) sum_ = sum_ + static_cast<float>(value(x));
  }
  float value() const { return in_float_ ? sum_ : static_cast<float>(integer_); }

 private:
  static constexpr std::int64_t kExactLimit = std::int64_t{1} << 24;
  std::int64_t integer_ = 0;
  float sum_ = 0.0f;
  bool in_float_ = false;
};

float mean_of(float sum, int width, int height) {
  double q = static_cast<double>(sum) / width;
  q /= height;
  return static_cast<float>(q);
}

// The whole file, read once into a buffer reused by the thread.
bool read_file(const char* name, std::vector<std::uint8_t>& out) {
  ScopedFile file(system_calls().open_file(name, "rb"));
  if (!file) return false;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  const long size = std::ftell(file.get());
  if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
  out.resize(static_cast<std::size_t>(size));
  return std::fread(out.data(), 1, out.size(), file.get()) == out.size();
}

// The layout of a frame file's pixels, once its headers were checked against its size.
struct BmpLayout {
  const std::uint8_t* pixels = nullptr;  // first stored row
  int width = 0;
  int height = 0;  // rows
  int bits = 0;
  std::int64_t stride = 0;
  bool top_down = false;
};

bool parse_bmp(const std::uint8_t* data, std::size_t size, BmpLayout& layout) {
  if (data == nullptr || size < kFileHeaderSize + kInfoHeaderSize) return false;
  if (data[0] != 'B' || data[1] != 'M') return false;
  const std::uint32_t offset = get32(data + 10);
  const std::uint32_t info_size = get32(data + 14);
  const std::int32_t width = static_cast<std::int32_t>(get32(data + 18));
  const std::int32_t signed_height = static_cast<std::int32_t>(get32(data + 22));
  const std::uint32_t bits = get16(data + 28);
  const std::uint32_t compression = get32(data + 30);
  if (info_size < kInfoHeaderSize || compression != 0) return false;
  if (bits != 16 && bits != 24 && bits != 32) return false;
  if (width <= 0 || width > kLargestSide) return false;
  if (signed_height == 0 || signed_height < -kLargestSide || signed_height > kLargestSide) {
    return false;
  }
  const bool top_down = signed_height < 0;
  const std::int64_t height = top_down ? -std::int64_t{signed_height} : signed_height;
  if (std::int64_t{width} * height > kLargestPixelCount) return false;
  const std::int64_t stride = padded_stride(width, static_cast<int>(bits / 8));
  if (offset < kFileHeaderSize + kInfoHeaderSize || offset > size) return false;
  if (static_cast<std::int64_t>(size - offset) < stride * height) return false;
  layout = BmpLayout{data + offset,          width,  static_cast<int>(height),
                     static_cast<int>(bits), stride, top_down};
  return true;
}

}  // namespace

void FrameImage::allocate(int width, int height, int bits_per_pixel) {
  width_ = width;
  height_ = height;
  bits_per_pixel_ = bits_per_pixel;
  stride_ = padded_stride(width, bits_per_pixel / 8);
  pixels_.assign(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height), 0);
}

void FrameImage::clear() {
  width_ = height_ = bits_per_pixel_ = stride_ = 0;
  pixels_.clear();
  pixels_.shrink_to_fit();
}

bool load_bmp_bytes(FrameImage& image, const std::uint8_t* data, std::size_t size) {
  BmpLayout layout;
  if (!parse_bmp(data, size, layout)) return false;
  const int width = layout.width;
  const std::int64_t height = layout.height;
  const bool top_down = layout.top_down;
  const std::int64_t source_stride = layout.stride;
  const int bits = layout.bits;
  FrameImage loaded;
  loaded.allocate(width, static_cast<int>(height), 24);
  for (std::int64_t y = 0; y < height; ++y) {
    const std::uint8_t* in = layout.pixels + y * source_stride;
    std::uint8_t* out = loaded.row(static_cast<int>(top_down ? height - 1 - y : y));
    switch (bits) {
      case 24:
        std::memcpy(out, in, static_cast<std::size_t>(width) * 3);
        break;
      case 32:
        for (int x = 0; x < width; ++x) {
          out[3 * x] = in[4 * x];
          out[3 * x + 1] = in[4 * x + 1];
          out[3 * x + 2] = in[4 * x + 2];
        }
        break;
      default:  // 16: 5-5-5, each channel times 8
        for (int x = 0; x < width; ++x) {
          const std::uint32_t w = get16(in + 2 * x);
          out[3 * x] = static_cast<std::uint8_t>((w & 0x1F) << 3);
          out[3 * x + 1] = static_cast<std::uint8_t>((w & 0x3E0) >> 2);
          out[3 * x + 2] = static_cast<std::uint8_t>((w & 0x7C00) >> 7);
        }
        break;
    }
  }
  image = std::move(loaded);
  return true;
}

bool load_bmp(FrameImage& image, const char* file_name) {
  thread_local std::vector<std::uint8_t> bytes;
  if (!read_file(file_name, bytes)) return false;
  return load_bmp_bytes(image, bytes.data(), bytes.size());
}

void subtract_clamped(FrameImage& image, const FrameImage& other) {
  const int w = std::min(image.width(), other.width());
  const int h = std::min(image.height(), other.height());
  for (int y = 0; y < h; ++y) {
    std::uint8_t* a = image.row(y);
    const std::uint8_t* b = other.row(y);
    for (int i = 0; i < 3 * w; ++i) a[i] = a[i] > b[i] ? static_cast<std::uint8_t>(a[i] - b[i]) : 0;
  }
}

float mean_gray(const FrameImage& image) {
  if (image.empty() || image.width() <= 0 || image.height() <= 0) return 0.0f;
  GraySum sum;
  for (int y = 0; y < image.height(); ++y) {
    const std::uint8_t* p = image.row(y);
    sum.add_row(image.width(),
                [p](int x) { return gray_of(p[3 * x], p[3 * x + 1], p[3 * x + 2]); });
  }
  return mean_of(sum.value(), image.width(), image.height());
}

float difference_mean(const FrameImage& x, const FrameImage& y) {
  if (x.empty() || x.width() <= 0 || x.height() <= 0) return 0.0f;
  const int w = y.empty() ? 0 : std::min(x.width(), y.width());
  const int h = y.empty() ? 0 : std::min(x.height(), y.height());
  GraySum sum;
  for (int row = 0; row < x.height(); ++row) {
    const std::uint8_t* a = x.row(row);
    const std::uint8_t* b = row < h ? y.row(row) : nullptr;
    const int overlap = b ? w : 0;
    sum.add_row(x.width(), [a, b, overlap](int i) {
      if (i >= overlap) return gray_of(a[3 * i], a[3 * i + 1], a[3 * i + 2]);
      const int db = a[3 * i] > b[3 * i] ? a[3 * i] - b[3 * i] : 0;
      const int dg = a[3 * i + 1] > b[3 * i + 1] ? a[3 * i + 1] - b[3 * i + 1] : 0;
      const int dr = a[3 * i + 2] > b[3 * i + 2] ? a[3 * i + 2] - b[3 * i + 2] : 0;
      return gray_of(db, dg, dr);
    });
  }
  return mean_of(sum.value(), x.width(), x.height());
}

namespace {

// Both measures straight from two frame files of the same layout, without building the
// images: the row sums are exact integers, and while a total stays below 2^24 the 32-bit
// float sum of the same values is that integer. Nothing when the files differ in layout
// or a total gets that large; the general path then measures.
std::optional<std::pair<float, float>> fast_measures(const BmpLayout& a, const BmpLayout& b) {
  if (a.width != b.width || a.height != b.height || a.bits != b.bits || a.top_down != b.top_down) {
    return std::nullopt;
  }
  RowSums (*row_sums)(const std::uint8_t*, const std::uint8_t*, int) = a.bits == 32   ? row_sums_32
                                                                       : a.bits == 24 ? row_sums_24
                                                                                      : row_sums_16;
  std::int64_t darker = 0, brighter = 0;
  for (int y = 0; y < a.height; ++y) {
    const RowSums r = row_sums(a.pixels + y * a.stride, b.pixels + y * b.stride, a.width);
    darker += r.darker;
    brighter += r.brighter;
  }
  constexpr std::int64_t kExactLimit = std::int64_t{1} << 24;
  if (darker >= kExactLimit || brighter >= kExactLimit) return std::nullopt;
  return std::pair{mean_of(static_cast<float>(darker), a.width, a.height),
                   mean_of(static_cast<float>(brighter), a.width, a.height)};
}

}  // namespace

bool detect_motion(const Settings& settings) {
  if (settings.video_device == kNoneName) return true;
  thread_local std::vector<std::uint8_t> older_bytes, newer_bytes;
  const bool have_older = read_file(kFrameFileNames[0], older_bytes);
  const bool have_newer = read_file(kFrameFileNames[1], newer_bytes);
  const float threshold = settings.motion_threshold;
  BmpLayout older, newer;
  if (have_older && have_newer && parse_bmp(older_bytes.data(), older_bytes.size(), older) &&
      parse_bmp(newer_bytes.data(), newer_bytes.size(), newer)) {
    if (const auto measures = fast_measures(older, newer)) {
      return measures->first > threshold || measures->second > threshold;
    }
  }
  FrameImage a, b;
  if (have_older) load_bmp_bytes(a, older_bytes.data(), older_bytes.size());
  if (have_newer) load_bmp_bytes(b, newer_bytes.data(), newer_bytes.size());
  // Older against newer (what became darker), then newer against older (what became
  // brighter); each judged on its own.
  if (difference_mean(a, b) > threshold) return true;
  return difference_mean(b, a) > threshold;
}

bool crop_region(const FrameImage& source, int left, int top, int right, int bottom,
                 FrameImage& destination) {
  if (source.empty()) return false;
  const int w = source.width();
  const int h = source.height();
  int x0 = std::clamp(left, 0, w);
  int x1 = std::clamp(right, 0, w);
  int y0 = h - std::clamp(top, 0, h);
  int y1 = h - std::clamp(bottom, 0, h);
  if (x0 == x1 || y0 == y1) return false;
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  FrameImage crop;
  crop.allocate(x1 - x0, y1 - y0, source.bits_per_pixel());
  const std::size_t span = static_cast<std::size_t>(x1 - x0) * source.bytes_per_pixel();
  for (int y = y0; y < y1; ++y) {
    std::memcpy(crop.row(y - y0),
                source.row(y) + static_cast<std::size_t>(x0) * source.bytes_per_pixel(), span);
  }
  destination = std::move(crop);
  return true;
}

}  // namespace talvex
