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
constexpr int kSampledRows = 16;
constexpr int kSampledColumns = 32;
// A cell whose pixels strayed from their mean change by at most this variance (summed over
// the three channels), or by four times what the calmest quarter of the cells strayed, was
// relit. Sensor noise of +-3 levels on each frame gives about 24.
constexpr double kLeastStrayVariance = 48.0;
constexpr double kStrayFactor = 4.0;
// A light change of less than half a level is none.
constexpr double kLeastLight = 0.5;

struct Cell {
  std::int64_t darker = 0;  // weighted grey sums of the two directions
  std::int64_t brighter = 0;
  std::int64_t weight = 0;  // the sum of the weights of its pixels
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

void sample_light(const std::uint8_t* a, const std::uint8_t* b, int bits, int x0, int x1, int step,
                  Cell& cell) {
  std::int64_t level[3] = {}, level_square[3] = {}, change[3] = {}, change_square[3] = {},
               product[3] = {};
  std::int64_t samples = 0;
  for (int x = x0; x < x1; x += step) {
    int p[3], q[3];
    widen(a, bits, x, p);
    widen(b, bits, x, q);
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

// The two directions of pixels [x0, x1) of a row pair with the older row relit: each channel
// a becomes a + gain x a + offset, kept within 0 ... 255 as a sensor keeps it.
RowSums relit_sums(const std::uint8_t* a, const std::uint8_t* b, int bits, int x0, int x1,
                   const double gain[3], const double offset[3]) {
  RowSums s;
  for (int x = x0; x < x1; ++x) {
    int p[3], q[3];
    widen(a, bits, x, p);
    widen(b, bits, x, q);
    for (int k = 0; k < 3; ++k) {
      p[k] = std::clamp(static_cast<int>(std::lround(p[k] * (1.0 + gain[k]) + offset[k])), 0, 255);
    }
    s.darker += gray_of(clamped(p[0], q[0]), clamped(p[1], q[1]), clamped(p[2], q[2]));
    s.brighter += gray_of(clamped(q[0], p[0]), clamped(q[1], p[1]), clamped(q[2], p[2]));
  }
  return s;
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

  // Kept by the thread: a steady frame size reuses the same blocks every pass.
  thread_local std::vector<Cell> cells;
  // Both pictures whole: the cells where something moved while the light changed are
  // measured again once the light is known.
  thread_local std::vector<std::uint8_t> older_frame, newer_frame;
  cells.assign(static_cast<std::size_t>(columns) * rows, Cell{});
  const std::size_t frame_bytes = static_cast<std::size_t>(height) * stride;
  if (older_frame.size() < frame_bytes) older_frame.resize(frame_bytes);
  if (newer_frame.size() < frame_bytes) newer_frame.resize(frame_bytes);
  // Stored image row y as the file holds it.
  auto row_at = [&](std::vector<std::uint8_t>& frame, int y) {
    return frame.data() + static_cast<std::size_t>(older.file_row(y)) * stride;
  };

  for (int r = 0; r < rows; ++r) {
    const int y0 = grid_edge(r, rows, height);
    const int y1 = grid_edge(r + 1, rows, height);
    const int count = y1 - y0;
    const int first = older.top_down() ? height - y1 : y0;
    if (!older.read_rows(first, count, older_frame.data() + first * stride) ||
        !newer.read_rows(first, count, newer_frame.data() + first * stride)) {
      return std::nullopt;
    }
    const int row_step = std::max(1, count / kSampledRows);
    Cell* row_cells = cells.data() + static_cast<std::size_t>(r) * columns;
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* a = row_at(older_frame, y);
      const std::uint8_t* b = row_at(newer_frame, y);
      if (weights) {
        for (const ScaledMask::Run* run = weights->row_begin(y); run != weights->row_end(y);
             ++run) {
          const RowSums s = row_sums(a + run->x0 * bytes, b + run->x0 * bytes, run->x1 - run->x0);
          Cell& cell = row_cells[run->column];
          cell.darker += s.darker * run->weight;
          cell.brighter += s.brighter * run->weight;
          cell.weight += std::int64_t{run->weight} * (run->x1 - run->x0);
        }
      } else {
        for (int j = 0; j < columns; ++j) {
          const int x0 = grid_edge(j, columns, width);
          const int x1 = grid_edge(j + 1, columns, width);
          const RowSums s = row_sums(a + x0 * bytes, b + x0 * bytes, x1 - x0);
          row_cells[j].darker += s.darker;
          row_cells[j].brighter += s.brighter;
          row_cells[j].weight += x1 - x0;
        }
      }
      if (light_filter && (y - y0) % row_step == 0) {
        for (int j = 0; j < columns; ++j) {
          const int x0 = grid_edge(j, columns, width);
          const int x1 = grid_edge(j + 1, columns, width);
          sample_light(a, b, bits, x0, x1, std::max(1, (x1 - x0) / kSampledColumns), row_cells[j]);
        }
      }
    }
  }

  thread_local std::vector<std::array<double, 3>> field;
  field.assign(cells.size(), {0.0, 0.0, 0.0});
  thread_local std::vector<CellLight> light;
  light.assign(cells.size(), CellLight{});
  if (light_filter) {
    thread_local std::vector<double> stray, calm;
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
  }

  double darker = 0.0, brighter = 0.0, total = 0.0;
  for (std::size_t c = 0; c < cells.size(); ++c) {
    Cell& cell = cells[c];
    if (light_filter && field[c] != std::array<double, 3>{0.0, 0.0, 0.0}) {
      // The light changed here: the older picture relit by the change, against the newer
      // one. A smoothly relit cell is relit as its own pixels changed; any other by the
      // change of the light around it.
      const int r = static_cast<int>(c) / columns, j = static_cast<int>(c) % columns;
      const double none[3] = {0.0, 0.0, 0.0};
      const double* gain = light[c].smooth ? light[c].gain : none;
      const double* offset = light[c].smooth ? light[c].offset : field[c].data();
      cell.darker = cell.brighter = 0;
      for (int y = grid_edge(r, rows, height); y < grid_edge(r + 1, rows, height); ++y) {
        const std::uint8_t* a = row_at(older_frame, y);
        const std::uint8_t* b = row_at(newer_frame, y);
        if (weights) {
          for (const ScaledMask::Run* run = weights->row_begin(y); run != weights->row_end(y);
               ++run) {
            if (run->column != j) continue;
            const RowSums s = relit_sums(a, b, bits, run->x0, run->x1, gain, offset);
            cell.darker += s.darker * run->weight;
            cell.brighter += s.brighter * run->weight;
          }
        } else {
          const RowSums s = relit_sums(a, b, bits, grid_edge(j, columns, width),
                                       grid_edge(j + 1, columns, width), gain, offset);
          cell.darker += s.darker;
          cell.brighter += s.brighter;
        }
      }
    }
    darker += static_cast<double>(cell.darker);
    brighter += static_cast<double>(cell.brighter);
    total += static_cast<double>(cell.weight);
  }
  if (total <= 0.0) return MotionMeasure{};
  return MotionMeasure{static_cast<float>(darker / total), static_cast<float>(brighter / total)};
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
