#include "capture/motion_mask.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "app/talvex_messages.h"
#include "capture/motion_kernel.h"

namespace talvex {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::int64_t kLargestMaskPixels = std::int64_t{1} << 26;

std::uint32_t get16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t get32(const std::uint8_t* p) {
  return get16(p) | (static_cast<std::uint32_t>(get16(p + 2)) << 16);
}

bool same_time(const CalendarTime& a, const CalendarTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && a.milliseconds == b.milliseconds;
}

}  // namespace

bool read_mask_bytes(const std::uint8_t* data, std::size_t size, MaskPicture& picture) {
  if (data == nullptr || size < kFileHeaderSize + kInfoHeaderSize) return false;
  if (data[0] != 'B' || data[1] != 'M') return false;
  const std::uint64_t offset = get32(data + 10);
  const std::uint64_t info_size = get32(data + 14);
  const std::int32_t width = static_cast<std::int32_t>(get32(data + 18));
  const std::int32_t signed_height = static_cast<std::int32_t>(get32(data + 22));
  const std::uint32_t bits = get16(data + 28);
  const std::uint32_t compression = get32(data + 30);
  std::uint64_t colours = get32(data + 46);
  if (info_size < kInfoHeaderSize || info_size > size - kFileHeaderSize) return false;
  if (compression != 0 || (bits != 24 && bits != 8)) return false;
  if (width <= 0 || signed_height == 0 || signed_height == INT32_MIN) return false;
  const bool top_down = signed_height < 0;
  const std::int64_t height = top_down ? -std::int64_t{signed_height} : signed_height;
  if (std::int64_t{width} * height > kLargestMaskPixels) return false;
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * (bits / 8) + 3) & ~3ull;
  if (offset < kFileHeaderSize + info_size || offset > size) return false;
  if ((size - offset) / stride < static_cast<std::uint64_t>(height)) return false;
  // The 8-bit colour table: its entries, blue, green, red, unused, after the info header.
  std::uint8_t table[256] = {};
  if (bits == 8) {
    if (colours == 0 || colours > 256) colours = 256;
    const std::uint64_t table_at = kFileHeaderSize + info_size;
    colours = std::min<std::uint64_t>(colours, (offset - table_at) / 4);
    for (std::uint64_t i = 0; i < colours; ++i) {
      const std::uint8_t* c = data + table_at + 4 * i;
      table[i] = static_cast<std::uint8_t>(gray_of(c[0], c[1], c[2]));
    }
  }
  try {
    MaskPicture loaded;
    loaded.width = width;
    loaded.height = static_cast<int>(height);
    loaded.weights.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    bool any = false;
    for (std::int64_t y = 0; y < height; ++y) {
      const std::int64_t file_row = top_down ? height - 1 - y : y;
      const std::uint8_t* in = data + offset + static_cast<std::uint64_t>(file_row) * stride;
      std::uint8_t* out = loaded.weights.data() + static_cast<std::size_t>(y) * width;
      for (int x = 0; x < width; ++x) {
        out[x] = bits == 8
                     ? table[in[x]]
                     : static_cast<std::uint8_t>(gray_of(in[3 * x], in[3 * x + 1], in[3 * x + 2]));
        any = any || out[x] != 0;
      }
    }
    if (!any) return false;  // all black: nothing would count
    picture = std::move(loaded);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool read_mask_file(const char* file_name, MaskPicture& picture) {
  ScopedFile file(system_calls().open_file(file_name, "rb"));
  if (!file) return false;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  const long size = std::ftell(file.get());
  if (size < 0 || static_cast<std::uint64_t>(size) > kLargestMaskFile) return false;
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
  try {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (system_calls().read_file(bytes.data(), bytes.size(), file.get()) != bytes.size()) {
      return false;
    }
    return read_mask_bytes(bytes.data(), bytes.size(), picture);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int grid_columns(int width) { return std::clamp(width, 1, 16); }
int grid_rows(int height) { return std::clamp(height, 1, 12); }

void ScaledMask::build(const MaskPicture& picture, int width, int height) {
  width_ = width;
  height_ = height;
  runs_.clear();
  row_start_.assign(static_cast<std::size_t>(height) + 1, 0);
  total_ = 0;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
  std::vector<int> source_x(static_cast<std::size_t>(width));
  // Nearest pixel: the source pixel under the centre of each frame pixel.
  for (int x = 0; x < width; ++x) {
    source_x[x] =
        static_cast<int>((2 * std::int64_t{x} + 1) * picture.width / (2 * std::int64_t{width}));
  }
  for (int y = 0; y < height; ++y) {
    row_start_[y] = runs_.size();
    const int sy =
        static_cast<int>((2 * std::int64_t{y} + 1) * picture.height / (2 * std::int64_t{height}));
    const std::uint8_t* in = picture.weights.data() + static_cast<std::size_t>(sy) * picture.width;
    for (int x = 0; x < width; ++x) row[x] = in[source_x[x]];
    for (int x = 0; x < width;) {
      int next = x + 1;
      while (next < width && row[next] == row[x]) ++next;
      if (row[x] != 0) {
        runs_.push_back(Run{x, next, row[x]});
        total_ += std::int64_t{row[x]} * (next - x);
      }
      x = next;
    }
  }
  row_start_[height] = runs_.size();
}

void MotionMask::set(std::shared_ptr<const MaskPicture> picture) {
  picture_ = std::move(picture);
  scaled_valid_ = false;
}

const ScaledMask* MotionMask::for_size(int width, int height) {
  if (!picture_ || width <= 0 || height <= 0) return nullptr;
  if (!scaled_valid_ || scaled_.width() != width || scaled_.height() != height) {
    scaled_.build(*picture_, width, height);
    scaled_valid_ = true;
  }
  return scaled_.total() > 0 ? &scaled_ : nullptr;
}

bool MaskWatch::poll(Clock::time_point now) {
  if (checked_ && now - last_check_ < kCheckPeriod) return false;
  const bool first = !checked_;
  checked_ = true;
  last_check_ = now;
  std::uint64_t size = 0;
  CalendarTime time{};
  const bool present = system_calls().file_status(kMaskFileName, size, time);
  if (!first && present == present_ && (!present || (size == size_ && same_time(time, time_)))) {
    return false;
  }
  present_ = present;
  size_ = size;
  time_ = time;
  const bool had = !mask_.empty();
  if (!present) {
    mask_.set(nullptr);
    return had;
  }
  try {
    auto picture = std::make_shared<MaskPicture>();
    if (read_mask_file(kMaskFileName, *picture)) {
      mask_.set(std::move(picture));
      return true;
    }
  } catch (const std::bad_alloc&) {
  }
  mask_.set(nullptr);
  if (log_) log_(msg::kMaskUnusable);
  return had;
}

}  // namespace talvex
