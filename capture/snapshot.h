// The snapshot "Talvex.jpg": the top-left 240 x 180 pixels of the newest frame file,
// encoded as a baseline JPEG at quality 75 and 72 dots per inch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/settings.h"
#include "capture/frame_image.h"

namespace talvex {

constexpr int kSnapshotRight = 240;
constexpr int kSnapshotBottom = 180;

// Makes the snapshot from the frame file of `index` (0: "Talvex_0.bmp", any other:
// "Talvex_1.bmp"), reading only the rows and columns it crops: 54, or 0 when "Talvex.jpg"
// can't be opened or there is no memory for the crop (the file is then left empty).
int make_snapshot(const Settings& settings, int index);

// Encodes a frame as a sample grabber holds it (16, 24 or 32 bits per pixel, rows padded
// to 4 bytes, bottom-up for a positive height) into `out`; false when the frame is not of
// that form or the library fails.
bool encode_frame_jpeg(const std::uint8_t* pixels, std::size_t size, int width, int height,
                       int bit_count, int quality, std::string& out);

// Encodes a 24-bit image into the stream, rows from the top of the picture down. False
// for an empty image or a library error (what was written so far stays).
bool encode_jpeg(const FrameImage& image, std::FILE* stream);

}  // namespace talvex
