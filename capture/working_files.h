// The capture program's working files, bare names in the video folder.
#pragma once

namespace talvex {

inline constexpr const char* kFrameFileNames[2] = {"Talvex_0.bmp", "Talvex_1.bmp"};
inline constexpr char kSnapshotFileName[] = "Talvex.jpg";
inline constexpr char kTempRecordingName[] = "Talvex_tmp.avi";
inline constexpr char kGraphFileName[] = "Talvex.grf";

}  // namespace talvex
