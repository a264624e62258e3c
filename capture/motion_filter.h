// The motion measure with the mask and the light filter.
//
// Both frame files are read once, a row of grid cells at a time. Each cell keeps the two
// directions of the measure (what became darker, what became brighter), weighted by the
// mask, and, with the light filter on, how its pixels changed: the mean change of each
// channel and how far the pixels strayed from it. A cell whose pixels all moved by about
// the same amount was relit; one whose pixels moved in different ways holds something that
// moved. The light change at each cell is then taken from the relit cells around it (the
// median of a window of 5 x 5 cells, wider where too few cells were relit) and only when
// those cells moved the same way; that change is taken off the cell's two sums before they
// are added up. A lamp, an exposure step or a passing cloud relights every cell of the
// picture and leaves nothing; a person's cells are never relit cells, and the relit cells
// around them do not move their way, so the person's change stays in the measure even
// while the light changes. The comparison is always between the two newest frames, so
// after a light change the detector compares against the new picture at its next check.
#pragma once

#include <optional>

#include "app/settings.h"
#include "capture/motion_mask.h"

namespace talvex {

struct MotionMeasure {
  float darker = 0.0f;
  float brighter = 0.0f;
};

// The two directions between two frame files of the same layout, weighted by the mask (for
// that frame size; nullptr or an empty mask counts every pixel fully) and, with
// `light_filter`, with the light change taken off. Nothing when a file is missing, damaged
// or cut short, or when the two differ in layout.
std::optional<MotionMeasure> measure_motion_filtered(const char* older_file, const char* newer_file,
                                                     bool light_filter, MotionMask* mask);

// Compares "Talvex_0.bmp" and "Talvex_1.bmp" with the mask and, when light_filter is set,
// the light filter. With light_filter off and no mask, exactly detect_motion(settings);
// files the filtered measure cannot take are also judged as detect_motion(settings) does.
bool detect_motion(const Settings& settings, MotionMask* mask);

}  // namespace talvex
