// The clean-up of the video folder: the one deletion the capture program makes. When the
// drive of the video folder runs short of room, the oldest of the program's own finished
// videos go, and with an age limit set, every video older than that. Only names the
// program writes for a finished video (with or without the "_2" of a second recording of
// the same seconds) are ever candidates; the recording in progress, the temporary file, a
// kept-aside recording, photos, the log and every other file are not, and neither is a
// video whose read-only attribute is set: that is the user's way to keep one for good.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/system_calls.h"

namespace talvex {

// One file of the video folder as the platform lists it.
struct FolderEntry {
  std::string name;
  std::uint64_t size = 0;
  bool read_only = false;
};

struct DriveSpace {
  std::uint64_t free = 0;   // bytes this process may still write
  std::uint64_t total = 0;  // the drive's size
};

// The video folder on the platform's file system.
class VideoFolder {
 public:
  virtual ~VideoFolder() = default;
  // The folder's files that may be videos (the platform may leave others out); false when
  // the folder cannot be read.
  virtual bool list(std::vector<FolderEntry>& entries) = 0;
  virtual bool space(DriveSpace& space) = 0;
  // Deletes one file of the folder; false when the platform refused (in use, read-only).
  virtual bool remove(const std::string& name) = 0;
};

// The folder `path` (the video folder, the current directory at the program's start).
std::unique_ptr<VideoFolder> make_video_folder(const std::string& path);

// A finished video of the program and what its name says.
struct StoredVideo {
  std::string name;
  CalendarTime start, end;
  std::uint64_t size = 0;
};

// The videos among `entries` that a clean-up may delete, oldest first: by the start in the
// name, then by its end, then by name (so "_2" follows its first).
std::vector<StoredVideo> deletable_videos(const std::vector<FolderEntry>& entries);

// Seconds of a calendar time from an arbitrary origin, for differences (no time zone).
std::int64_t calendar_seconds(const CalendarTime& t);

// Bytes per second of recording over the newest videos (up to ten of at least a second);
// 0 when there is none.
std::uint64_t recording_rate(const std::vector<StoredVideo>& oldest_first);

// The free space to keep: the larger of `keep_free_mb` and an hour of recording at
// `bytes_per_second`, the hour never counted above a tenth of the drive. 0 with
// `keep_free_mb` 0: the space rule is off.
std::uint64_t space_target(std::uint64_t keep_free_mb, std::uint64_t bytes_per_second,
                           std::uint64_t drive_bytes);
// What a clean-up that has to run frees down to: the target and a tenth more, so that the
// next one is not due at the next recording.
std::uint64_t with_margin(std::uint64_t target);

// Whether the video ended more than `days` days before `now` (never with `days` <= 0).
bool older_than(const StoredVideo& video, const CalendarTime& now, int days);

struct CleanupRules {
  int keep_free_mb = 0;           // 0: no space rule
  int max_age_days = 0;           // 0: no age rule
  std::uint64_t stream_rate = 0;  // bytes per second of the stream, before any video
};

struct CleanupReport {
  std::size_t deleted = 0;
  std::size_t refused = 0;  // deletions the platform refused: skipped
  std::uint64_t freed = 0;
  std::uint64_t target = 0;
  DriveSpace after;
};

// One clean-up of the folder by the rules, at local time `now`.
CleanupReport clean_up_videos(VideoFolder& folder, const CleanupRules& rules,
                              const CalendarTime& now);

}  // namespace talvex
