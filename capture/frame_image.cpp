#include "capture/frame_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
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
  // Adds a row whose values are produced by `value(x)`.
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
  // Adds a row whose exact total is already known; `value(x)` is asked for only once the
  // float sum has to take the values one by one.
  template <typename Value>
  void add_row(int width, std::int64_t total, Value value) {
    if (!in_float_ && integer_ + total < kExactLimit) {
      integer_ += total;
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

// The layout of a frame file's pixels, once its headers were checked against its size.
struct BmpLayout {
  std::uint32_t offset = 0;  // of the first stored row
  int width = 0;
  int height = 0;  // rows
  int bits = 0;
  std::int64_t stride = 0;
  bool top_down = false;
};

// Checks the 54 header bytes of a file of `size` bytes.
bool parse_headers(const std::uint8_t* data, std::uint64_t size, BmpLayout& layout) {
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
  if (size - offset < static_cast<std::uint64_t>(stride * height)) return false;
  layout =
      BmpLayout{offset, width, static_cast<int>(height), static_cast<int>(bits), stride, top_down};
  return true;
}

// Fills `image` (its pixel block reused when large enough) from an opened frame file.
bool read_image(FrameFileReader& reader, FrameImage& image) {
  image.allocate(reader.width(), reader.rows(), 24);
  std::vector<std::uint8_t> row(reader.bits() == 24 ? 0 : reader.stride());
  for (int y = 0; y < reader.rows(); ++y) {
    std::uint8_t* out = image.row(y);
    if (reader.bits() == 24) {
      // The file's rows have the image's stride: read straight into place.
      if (!reader.read_rows(reader.file_row(y), 1, out)) return false;
    } else {
      if (!reader.read_rows(reader.file_row(y), 1, row.data())) return false;
      frame_row_to_bgr(row.data(), reader.bits(), reader.width(), out);
    }
  }
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

void frame_row_to_bgr(const std::uint8_t* in, int bits, int width, std::uint8_t* out) {
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

FrameFileReader::~FrameFileReader() {
  if (file_) system_calls().close_file(file_);
}

bool FrameFileReader::open(const char* file_name) {
  if (file_) return false;
  file_ = system_calls().open_file(file_name, "rb");
  if (!file_) return false;
  // Rows go straight from the system into the caller's buffers.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  std::uint8_t headers[kFileHeaderSize + kInfoHeaderSize];
  if (std::fread(headers, 1, sizeof headers, file_) != sizeof headers) return false;
  // A file too large for a long (on Windows, over 2 GiB) makes ftell fail: refused as well.
  if (std::fseek(file_, 0, SEEK_END) != 0) return false;
  const long size = std::ftell(file_);
  if (size < 0 || size > kLargestFrameFile) return false;
  BmpLayout layout;
  if (!parse_headers(headers, static_cast<std::uint64_t>(size), layout)) return false;
  pixels_at_ = static_cast<long>(layout.offset);
  position_ = -1;
  width_ = layout.width;
  rows_ = layout.height;
  bits_ = layout.bits;
  top_down_ = layout.top_down;
  stride_ = static_cast<std::size_t>(layout.stride);
  return true;
}

bool FrameFileReader::read_at(long position, std::size_t bytes, std::uint8_t* out) {
  if (!file_ || rows_ == 0) return false;
  if (position != position_ && std::fseek(file_, position, SEEK_SET) != 0) {
    position_ = -1;
    return false;
  }
  if (std::fread(out, 1, bytes, file_) != bytes) {
    position_ = -1;
    return false;
  }
  position_ = position + static_cast<long>(bytes);
  return true;
}

bool FrameFileReader::read_rows(int first, int count, std::uint8_t* out) {
  if (first < 0 || count < 0 || first + count > rows_) return false;
  // Within the size checked at open, which is at most kLargestFrameFile: fits a long.
  return read_at(pixels_at_ + static_cast<long>(first * stride_),
                 static_cast<std::size_t>(count) * stride_, out);
}

bool FrameFileReader::read_row_start(int row, std::size_t bytes, std::uint8_t* out) {
  if (row < 0 || row >= rows_ || bytes > stride_) return false;
  return read_at(pixels_at_ + static_cast<long>(row * stride_), bytes, out);
}

bool load_bmp_bytes(FrameImage& image, const std::uint8_t* data, std::size_t size) {
  BmpLayout layout;
  if (!parse_headers(data, size, layout)) return false;
  try {
    FrameImage loaded;
    loaded.allocate(layout.width, layout.height, 24);
    for (int y = 0; y < layout.height; ++y) {
      const int file_row = layout.top_down ? layout.height - 1 - y : y;
      frame_row_to_bgr(data + layout.offset + file_row * layout.stride, layout.bits, layout.width,
                       loaded.row(y));
    }
    image = std::move(loaded);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool load_bmp(FrameImage& image, const char* file_name) {
  try {
    FrameFileReader reader;
    if (!reader.open(file_name)) return false;
    FrameImage loaded;
    if (!read_image(reader, loaded)) return false;
    image = std::move(loaded);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
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

// A band of rows of each file is read at a time, small enough to stay in the cache while
// it is measured.
constexpr std::size_t kBandBytes = 128 * 1024;

// Blue, green, red of pixel x of a raw frame-file row, widened as the loader does.
inline void raw_pixel(const std::uint8_t* row, int bits, int x, int out[3]) {
  if (bits == 16) {
    const std::uint32_t w = get16(row + 2 * x);
    out[0] = static_cast<std::uint8_t>((w & 0x1F) << 3);
    out[1] = static_cast<std::uint8_t>((w & 0x3E0) >> 2);
    out[2] = static_cast<std::uint8_t>((w & 0x7C00) >> 7);
    return;
  }
  const std::uint8_t* p = row + static_cast<std::size_t>(x) * (bits / 8);
  out[0] = p[0];
  out[1] = p[1];
  out[2] = p[2];
}

inline int raw_difference_gray(const std::uint8_t* a, const std::uint8_t* b, int bits, int x) {
  int p[3], q[3];
  raw_pixel(a, bits, x, p);
  raw_pixel(b, bits, x, q);
  return gray_of(clamped(p[0], q[0]), clamped(p[1], q[1]), clamped(p[2], q[2]));
}

// Both directions measured on two frame files of the same layout as their rows are read,
// row after row from the bottom of the picture, exactly as difference_mean on the loaded
// images sums them. True as soon as either partial mean exceeds the threshold: the sums
// only grow. Nothing when a file comes up short while it is read.
std::optional<bool> streamed_motion(FrameFileReader& older, FrameFileReader& newer,
                                    float threshold) {
  const int width = older.width();
  const int height = older.rows();
  const int bits = older.bits();
  const std::size_t stride = older.stride();
  const int band = static_cast<int>(std::clamp<std::size_t>(kBandBytes / stride, 1, height));
  // Kept by the thread: a steady frame size reads into the same blocks every pass.
  thread_local std::vector<std::uint8_t> older_band, newer_band;
  if (older_band.size() < band * stride) older_band.resize(band * stride);
  if (newer_band.size() < band * stride) newer_band.resize(band * stride);
  RowSums (*row_sums)(const std::uint8_t*, const std::uint8_t*, int) = bits == 32   ? row_sums_32
                                                                       : bits == 24 ? row_sums_24
                                                                                    : row_sums_16;
  GraySum darker, brighter;
  for (int y0 = 0; y0 < height; y0 += band) {
    const int rows = std::min(band, height - y0);
    // Image rows y0 ... y0 + rows - 1 lie in these file rows, in one order or the other.
    const int first = older.top_down() ? height - y0 - rows : y0;
    if (!older.read_rows(first, rows, older_band.data()) ||
        !newer.read_rows(first, rows, newer_band.data())) {
      return std::nullopt;
    }
    for (int y = y0; y < y0 + rows; ++y) {
      const std::size_t at = static_cast<std::size_t>(older.file_row(y) - first) * stride;
      const std::uint8_t* a = older_band.data() + at;
      const std::uint8_t* b = newer_band.data() + at;
      const RowSums sums = row_sums(a, b, width);
      darker.add_row(width, sums.darker,
                     [a, b, bits](int x) { return raw_difference_gray(a, b, bits, x); });
      brighter.add_row(width, sums.brighter,
                       [a, b, bits](int x) { return raw_difference_gray(b, a, bits, x); });
    }
    if (mean_of(darker.value(), width, height) > threshold ||
        mean_of(brighter.value(), width, height) > threshold) {
      return true;
    }
  }
  return false;
}

bool same_layout(const FrameFileReader& a, const FrameFileReader& b) {
  return a.width() == b.width() && a.rows() == b.rows() && a.bits() == b.bits() &&
         a.top_down() == b.top_down();
}

// Loads a frame file into an image kept by the thread; false leaves it to be ignored.
bool load_kept(FrameImage& image, const char* file_name) {
  FrameFileReader reader;
  return reader.open(file_name) && read_image(reader, image);
}

bool measure_motion(float threshold) {
  {
    FrameFileReader older, newer;
    const bool have_older = older.open(kFrameFileNames[0]);
    const bool have_newer = newer.open(kFrameFileNames[1]);
    if (have_older && have_newer && same_layout(older, newer)) {
      if (const std::optional<bool> motion = streamed_motion(older, newer, threshold)) {
        return *motion;
      }
    }
  }
  // Files of different layouts (after a device change), or one missing, damaged or cut
  // short: the images as the loader gives them, an empty one for a file it refuses.
  thread_local FrameImage older_image, newer_image;
  static const FrameImage kEmpty;
  const FrameImage& a = load_kept(older_image, kFrameFileNames[0]) ? older_image : kEmpty;
  const FrameImage& b = load_kept(newer_image, kFrameFileNames[1]) ? newer_image : kEmpty;
  // Older against newer (what became darker), then newer against older (what became
  // brighter); each judged on its own.
  if (difference_mean(a, b) > threshold) return true;
  return difference_mean(b, a) > threshold;
}

}  // namespace

bool detect_motion(const Settings& settings) {
  if (settings.video_device == kNoneName) return true;
  try {
    return measure_motion(settings.motion_threshold);
  } catch (const std::bad_alloc&) {
    return false;  // no memory for the buffers: no motion this time
  }
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
  try {
    FrameImage crop;
    crop.allocate(x1 - x0, y1 - y0, source.bits_per_pixel());
    const std::size_t span = static_cast<std::size_t>(x1 - x0) * source.bytes_per_pixel();
    for (int y = y0; y < y1; ++y) {
      std::memcpy(crop.row(y - y0),
                  source.row(y) + static_cast<std::size_t>(x0) * source.bytes_per_pixel(), span);
    }
    destination = std::move(crop);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace talvex
