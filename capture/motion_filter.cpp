#include "capture/motion_filter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <vector>

#include "capture/frame_image.h"
#include "capture/motion_kernel.h"
#include "capture/working_files.h"

namespace talvex {
namespace {

// About this many rows and columns of each cell are sampled for its light statistics.
constexpr int kSampledRows = 8;
constexpr int kSampledColumns = 16;
// A cell whose pixels strayed from their mean change by at most this variance (summed over
// the three channels), or by four times what the calmest quarter of the cells strayed, was
// relit. Sensor noise of +-3 levels on each frame gives about 24.
constexpr double kLeastStrayVariance = 48.0;
constexpr double kStrayFactor = 4.0;
// A light change of less than half a level is none.
constexpr double kLeastLight = 0.5;

struct Cell {
  // Sampled, per channel: the older level a, the change d = newer - older, and their
  // products.
  std::int64_t level[3] = {0, 0, 0};
  std::int64_t level_square[3] = {0, 0, 0};
  std::int64_t change[3] = {0, 0, 0};
  std::int64_t change_square[3] = {0, 0, 0};
  std::int64_t product[3] = {0, 0, 0};
  std::int64_t samples = 0;
};

struct CellLight {
  bool relit = false;
  bool smooth = false;  // relit, and so were all its neighbours
  double mean[3] = {0, 0, 0};
  // The light change that best explains the cell's: d = gain x a + offset, per channel.
  double gain[3] = {0, 0, 0};
  double offset[3] = {0, 0, 0};
};

inline void widen(const std::uint8_t* row, int bits, int x, int out[3]) {
  if (bits == 16) {
    const int w = row[2 * x] | (row[2 * x + 1] << 8);
    out[0] = (w & 0x1F) << 3;
    out[1] = ((w & 0x3E0) >> 2) & 0xFF;
    out[2] = ((w & 0x7C00) >> 7) & 0xFF;
    return;
  }
  const std::uint8_t* p = row + static_cast<std::size_t>(x) * (bits / 8);
  out[0] = p[0];
  out[1] = p[1];
  out[2] = p[2];
}

template <int kBits>
void sample_light(const std::uint8_t* a, const std::uint8_t* b, int x0, int x1, int step,
                  Cell& cell) {
  std::int64_t level[3] = {}, level_square[3] = {}, change[3] = {}, change_square[3] = {},
               product[3] = {};
  std::int64_t samples = 0;
  for (int x = x0; x < x1; x += step) {
    int p[3], q[3];
    widen(a, kBits, x, p);
    widen(b, kBits, x, q);
    for (int k = 0; k < 3; ++k) {
      const int d = q[k] - p[k];
      level[k] += p[k];
      level_square[k] += p[k] * p[k];
      change[k] += d;
      change_square[k] += d * d;
      product[k] += p[k] * d;
    }
    ++samples;
  }
  for (int k = 0; k < 3; ++k) {
    cell.level[k] += level[k];
    cell.level_square[k] += level_square[k];
    cell.change[k] += change[k];
    cell.change_square[k] += change_square[k];
    cell.product[k] += product[k];
  }
  cell.samples += samples;
}

void sample_light(const std::uint8_t* a, const std::uint8_t* b, int bits, int x0, int x1, int step,
                  Cell& cell) {
  if (bits == 32) return sample_light<32>(a, b, x0, x1, step, cell);
  if (bits == 24) return sample_light<24>(a, b, x0, x1, step, cell);
  sample_light<16>(a, b, x0, x1, step, cell);
}

// How far a cell's changes strayed from the light change that best explains them: a change
// of d = gain x a + offset on every channel, the gain between kLeastGain and kMostGain (a
// shadow that takes at most 60 % of the light, a lamp that at most doubles it). An object
// that covers the cell does not fit: its change follows the old picture with a gain of -1.
constexpr double kLeastGain = -0.6;
constexpr double kMostGain = 1.0;

double stray_of(const Cell& cell, CellLight& light) {
  const double n = static_cast<double>(cell.samples);
  double stray = 0.0;
  for (int k = 0; k < 3; ++k) {
    const double ma = cell.level[k] / n;
    const double md = cell.change[k] / n;
    light.mean[k] = md;
    const double va = cell.level_square[k] / n - ma * ma;
    const double vd = cell.change_square[k] / n - md * md;
    const double cov = cell.product[k] / n - ma * md;
    const double gain = va > 1.0 ? std::clamp(cov / va, kLeastGain, kMostGain) : 0.0;
    light.gain[k] = gain;
    light.offset[k] = md - gain * ma;
    stray += std::max(0.0, vd - 2 * gain * cov + gain * gain * va);
  }
  return stray;
}

// The two directions of pixels [x0, x1) of a row pair with the older row relit through
// `relit` (each channel's level a becomes relit[channel][a]); `scratch` holds a row.
RowSums relit_sums(const std::uint8_t* a, const std::uint8_t* b, int bits, int x0, int x1,
                   const std::uint8_t (&relit)[3][256], std::uint8_t* scratch,
                   RowSums (*row_sums)(const std::uint8_t*, const std::uint8_t*, int)) {
  if (bits == 16) {
    RowSums s;
    for (int x = x0; x < x1; ++x) {
      int p[3], q[3];
      widen(a, bits, x, p);
      widen(b, bits, x, q);
      for (int k = 0; k < 3; ++k) p[k] = relit[k][p[k]];
      s.darker += gray_of(clamped(p[0], q[0]), clamped(p[1], q[1]), clamped(p[2], q[2]));
      s.brighter += gray_of(clamped(q[0], p[0]), clamped(q[1], p[1]), clamped(q[2], p[2]));
    }
    return s;
  }
  // The relit pixels in the scratch row, then the measure's own row kernel on them.
  const int bytes = bits / 8;
  const std::uint8_t* in = a + static_cast<std::size_t>(x0) * bytes;
  std::uint8_t* out = scratch;
  for (int x = x0; x < x1; ++x, in += bytes, out += bytes) {
    out[0] = relit[0][in[0]];
    out[1] = relit[1][in[1]];
    out[2] = relit[2][in[2]];
    if (bytes == 4) out[3] = in[3];
  }
  return row_sums(scratch, b + static_cast<std::size_t>(x0) * bytes, x1 - x0);
}

// Each level a of each channel relit to a + gain x a + offset, kept within 0 ... 255 as a
// sensor keeps it.
void relight_table(const double gain[3], const double offset[3], std::uint8_t (&relit)[3][256]) {
  for (int k = 0; k < 3; ++k) {
    for (int a = 0; a < 256; ++a) {
      relit[k][a] = static_cast<std::uint8_t>(
          std::clamp(std::lround(a * (1.0 + gain[k]) + offset[k]), 0L, 255L));
    }
  }
}

double median_of(std::vector<double>& values) {
  const std::size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  double m = values[middle];
  if (values.size() % 2 == 0) {
    m = (m + *std::max_element(values.begin(), values.begin() + middle)) / 2;
  }
  return m;
}

// The light change at each cell. A relit cell whose neighbours were all relit lies in light
// that changed smoothly: its own change is the light's. Any other cell (something moved in
// it, or it borders such a cell) takes the median change of those smoothly relit cells
// around it: of a window of 5 x 5 cells, wider when that holds too few, none when even the
// whole picture does.
void light_field(std::vector<CellLight>& cells, int columns, int rows,
                 std::vector<std::array<double, 3>>& field) {
  thread_local std::vector<double> values;
  field.assign(cells.size(), {0.0, 0.0, 0.0});
  for (int cy = 0; cy < rows; ++cy) {
    for (int cx = 0; cx < columns; ++cx) {
      bool all = cells[cy * columns + cx].relit;
      for (int y = std::max(0, cy - 1); all && y <= std::min(rows - 1, cy + 1); ++y) {
        for (int x = std::max(0, cx - 1); all && x <= std::min(columns - 1, cx + 1); ++x) {
          all = cells[y * columns + x].relit;
        }
      }
      cells[cy * columns + cx].smooth = all;
    }
  }
  const int widest = std::max(columns, rows);
  const struct {
    int radius;
    std::size_t least;
  } windows[] = {{2, 4}, {4, 8}, {widest, 8}};
  for (int cy = 0; cy < rows; ++cy) {
    for (int cx = 0; cx < columns; ++cx) {
      std::array<double, 3>& light = field[cy * columns + cx];
      if (cells[cy * columns + cx].smooth) {
        for (int k = 0; k < 3; ++k) light[k] = cells[cy * columns + cx].mean[k];
      } else {
        for (const auto& window : windows) {
          const int y0 = std::max(0, cy - window.radius),
                    y1 = std::min(rows - 1, cy + window.radius);
          const int x0 = std::max(0, cx - window.radius);
          const int x1 = std::min(columns - 1, cx + window.radius);
          std::size_t count = 0;
          for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) count += cells[y * columns + x].smooth;
          }
          if (count < window.least) continue;
          for (int k = 0; k < 3; ++k) {
            values.clear();
            for (int y = y0; y <= y1; ++y) {
              for (int x = x0; x <= x1; ++x) {
                if (cells[y * columns + x].smooth) values.push_back(cells[y * columns + x].mean[k]);
              }
            }
            light[k] = median_of(values);
          }
          break;
        }
      }
      for (double& l : light) {
        if (std::fabs(l) < kLeastLight) l = 0.0;
      }
    }
  }
}

}  // namespace

std::optional<MotionMeasure> measure_motion_filtered(const char* older_file, const char* newer_file,
                                                     bool light_filter, MotionMask* mask) {
  FrameFileReader older, newer;
  if (!older.open(older_file) || !newer.open(newer_file)) return std::nullopt;
  if (older.width() != newer.width() || older.rows() != newer.rows() ||
      older.bits() != newer.bits() || older.top_down() != newer.top_down()) {
    return std::nullopt;
  }
  const int width = older.width();
  const int height = older.rows();
  const int bits = older.bits();
  const int bytes = bits / 8;
  const std::size_t stride = older.stride();
  const int columns = grid_columns(width);
  const int rows = grid_rows(height);
  const ScaledMask* weights = mask ? mask->for_size(width, height) : nullptr;
  RowSums (*row_sums)(const std::uint8_t*, const std::uint8_t*, int) = bits == 32   ? row_sums_32
                                                                       : bits == 24 ? row_sums_24
                                                                                    : row_sums_16;
  // The two directions over pixels [x0, x1) of a row pair, weighted by the mask, through
  // `sums` for each stretch of equal weight.
  auto weighted = [&](int y, int x0, int x1, auto sums) {
    if (!weights) {
      const RowSums s = sums(x0, x1);
      return RowSums{s.darker, s.brighter};
    }
    RowSums total;
    for (const ScaledMask::Run* run = weights->row_begin(y); run != weights->row_end(y); ++run) {
      const int from = std::max(run->x0, x0), to = std::min(run->x1, x1);
      if (from >= to) continue;
      const RowSums s = sums(from, to);
      total.darker += s.darker * run->weight;
      total.brighter += s.brighter * run->weight;
    }
    return total;
  };

  // Kept by the thread: a steady frame size reuses the same blocks every pass. The files
  // are read one row of cells at a time, which stays in the cache while it is measured.
  thread_local std::vector<Cell> cells;
  thread_local std::vector<std::uint8_t> older_band, newer_band;
  cells.assign(static_cast<std::size_t>(columns) * rows, Cell{});
  const std::size_t band_bytes = static_cast<std::size_t>(grid_edge(1, rows, height) + 1) * stride;
  if (older_band.size() < band_bytes) older_band.resize(band_bytes);
  if (newer_band.size() < band_bytes) newer_band.resize(band_bytes);
  // Reads the rows of grid row r into the bands; `first` is the file row the bands start at.
  int first = 0;
  auto read_band = [&](int r) {
    const int y0 = grid_edge(r, rows, height);
    const int y1 = grid_edge(r + 1, rows, height);
    first = older.top_down() ? height - y1 : y0;
    return older.read_rows(first, y1 - y0, older_band.data()) &&
           newer.read_rows(first, y1 - y0, newer_band.data());
  };
  // Stored image row y of the band read last.
  auto row_at = [&](std::vector<std::uint8_t>& band, int y) {
    return band.data() + static_cast<std::size_t>(older.file_row(y) - first) * stride;
  };

  // The measure's sums over the whole picture, and each cell's light statistics.
  RowSums total;
  for (int r = 0; r < rows; ++r) {
    const int y0 = grid_edge(r, rows, height);
    const int y1 = grid_edge(r + 1, rows, height);
    if (!read_band(r)) return std::nullopt;
    const int row_step = std::max(1, (y1 - y0) / kSampledRows);
    Cell* row_cells = cells.data() + static_cast<std::size_t>(r) * columns;
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* a = row_at(older_band, y);
      const std::uint8_t* b = row_at(newer_band, y);
      const RowSums s = weighted(y, 0, width, [&](int x0, int x1) {
        return row_sums(a + x0 * bytes, b + x0 * bytes, x1 - x0);
      });
      total.darker += s.darker;
      total.brighter += s.brighter;
      if (light_filter && (y - y0) % row_step == 0) {
        for (int j = 0; j < columns; ++j) {
          const int x0 = grid_edge(j, columns, width);
          const int x1 = grid_edge(j + 1, columns, width);
          sample_light(a, b, bits, x0, x1, std::max(1, (x1 - x0) / kSampledColumns), row_cells[j]);
        }
      }
    }
  }
  const double total_weight =
      weights ? static_cast<double>(weights->total()) : static_cast<double>(width) * height;

  if (light_filter) {
    thread_local std::vector<std::array<double, 3>> field;
    thread_local std::vector<CellLight> light;
    thread_local std::vector<double> stray, calm;
    light.assign(cells.size(), CellLight{});
    stray.assign(cells.size(), 0.0);
    calm.clear();
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (cells[c].samples == 0) continue;
      stray[c] = stray_of(cells[c], light[c]);
      calm.push_back(stray[c]);
    }
    if (!calm.empty()) {
      // How far the calmest quarter of the cells strayed: the camera's own noise.
      const std::size_t quarter = calm.size() / 4;
      std::nth_element(calm.begin(), calm.begin() + quarter, calm.end());
      const double limit = std::max(kLeastStrayVariance, kStrayFactor * calm[quarter]);
      for (std::size_t c = 0; c < cells.size(); ++c) {
        light[c].relit = cells[c].samples > 0 && stray[c] <= limit;
      }
    }
    light_field(light, columns, rows, field);
    // Light that changed over less than an eighth of the picture is left to the measure:
    // what changes so little of the picture alarms only when it changes it a lot.
    std::size_t lit = 0;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      lit += light[c].smooth && field[c] != std::array<double, 3>{0.0, 0.0, 0.0};
    }
    if (8 * lit < cells.size()) field.assign(cells.size(), {0.0, 0.0, 0.0});

    // Where the light changed, the cells are measured again: the older picture relit by
    // the change, against the newer one, in place of what they gave. A smoothly relit cell
    // is relit as its own pixels changed; any other by the change of the light around it.
    // Their rows are read again; in steady light no cell needs it.
    auto relit = [&](std::size_t c) { return field[c] != std::array<double, 3>{0.0, 0.0, 0.0}; };
    thread_local std::vector<std::uint8_t> scratch;
    if (scratch.size() < stride) scratch.resize(stride);
    for (int r = 0; r < rows; ++r) {
      bool any = false;
      for (int j = 0; j < columns; ++j)
        any = any || relit(static_cast<std::size_t>(r) * columns + j);
      if (!any) continue;
      if (!read_band(r)) return std::nullopt;
      for (int j = 0; j < columns; ++j) {
        const std::size_t c = static_cast<std::size_t>(r) * columns + j;
        if (!relit(c)) continue;
        const double none[3] = {0.0, 0.0, 0.0};
        const double* gain = light[c].smooth ? light[c].gain : none;
        const double* offset = light[c].smooth ? light[c].offset : field[c].data();
        std::uint8_t table[3][256];
        relight_table(gain, offset, table);
        const int x0 = grid_edge(j, columns, width), x1 = grid_edge(j + 1, columns, width);
        for (int y = grid_edge(r, rows, height); y < grid_edge(r + 1, rows, height); ++y) {
          const std::uint8_t* a = row_at(older_band, y);
          const std::uint8_t* b = row_at(newer_band, y);
          const RowSums was = weighted(y, x0, x1, [&](int from, int to) {
            return row_sums(a + from * bytes, b + from * bytes, to - from);
          });
          const RowSums now = weighted(y, x0, x1, [&](int from, int to) {
            return relit_sums(a, b, bits, from, to, table, scratch.data(), row_sums);
          });
          total.darker += now.darker - was.darker;
          total.brighter += now.brighter - was.brighter;
        }
      }
    }
  }
  if (total_weight <= 0.0) return MotionMeasure{};
  return MotionMeasure{static_cast<float>(total.darker / total_weight),
                       static_cast<float>(total.brighter / total_weight)};
}

bool detect_motion(const Settings& settings, MotionMask* mask) {
  const bool light_filter = settings.light_filter;
  if (!light_filter && (mask == nullptr || mask->empty())) return detect_motion(settings);
  if (settings.video_device == kNoneName) return true;
  try {
    const std::optional<MotionMeasure> m =
        measure_motion_filtered(kFrameFileNames[0], kFrameFileNames[1], light_filter, mask);
    if (!m) return detect_motion(settings);
    const float threshold = settings.motion_threshold;
    return m->darker > threshold || m->brighter > threshold;
  } catch (const std::bad_alloc&) {
    return false;  // no memory for the buffers: no motion this time
  }
}

}  // namespace talvex
