#include "capture/video_cleanup.h"

#include <algorithm>
#include <limits>

#include "capture/video_name.h"

namespace talvex {
namespace {

constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturating_multiply(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > kLargest / a) return kLargest;
  return a * b;
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return b > kLargest - a ? kLargest : a + b;
}

constexpr std::size_t kRateVideos = 10;

}  // namespace

std::vector<StoredVideo> deletable_videos(const std::vector<FolderEntry>& entries) {
  struct Keyed {
    std::int64_t start, end;
    StoredVideo video;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(entries.size());
  for (const FolderEntry& e : entries) {
    if (e.read_only) continue;
    StoredVideo v;
    if (!parse_video_file_name(e.name, v.start, v.end)) continue;
    v.name = e.name;
    v.size = e.size;
    keyed.push_back({calendar_seconds(v.start), calendar_seconds(v.end), std::move(v)});
  }
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    if (a.start != b.start) return a.start < b.start;
    if (a.end != b.end) return a.end < b.end;
    // "..._2.avi" after "....avi", "..._10.avi" after "..._9.avi".
    if (a.video.name.size() != b.video.name.size()) {
      return a.video.name.size() < b.video.name.size();
    }
    return a.video.name < b.video.name;
  });
  std::vector<StoredVideo> videos;
  videos.reserve(keyed.size());
  for (Keyed& k : keyed) videos.push_back(std::move(k.video));
  return videos;
}

std::int64_t calendar_seconds(const CalendarTime& t) {
  // Days from 1970-01-01 of the proleptic Gregorian calendar (a day beyond its month's
  // end counts on into the next one, as the names' parser never gives).
  const std::int64_t y = t.year - (t.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t year_of_era = y - era * 400;
  const std::int64_t m = t.month;
  const std::int64_t day_of_year = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const std::int64_t days = era * 146097 + day_of_era - 719468;
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

std::uint64_t recording_rate(const std::vector<StoredVideo>& oldest_first) {
  std::uint64_t bytes = 0, seconds = 0;
  std::size_t counted = 0;
  for (auto v = oldest_first.rbegin(); v != oldest_first.rend() && counted < kRateVideos; ++v) {
    const std::int64_t length = calendar_seconds(v->end) - calendar_seconds(v->start);
    if (length < 1) continue;
    bytes = saturating_add(bytes, v->size);
    seconds += static_cast<std::uint64_t>(length);
    ++counted;
  }
  return seconds == 0 ? 0 : bytes / seconds;
}

std::uint64_t space_target(std::uint64_t keep_free_mb, std::uint64_t bytes_per_second,
                           std::uint64_t drive_bytes) {
  if (keep_free_mb == 0) return 0;
  const std::uint64_t kept = saturating_multiply(keep_free_mb, std::uint64_t{1} << 20);
  const std::uint64_t hour =
      std::min(saturating_multiply(bytes_per_second, 3600), drive_bytes / 10);
  return std::max(kept, hour);
}

std::uint64_t with_margin(std::uint64_t target) { return saturating_add(target, target / 10); }

bool older_than(const StoredVideo& video, const CalendarTime& now, int days) {
  if (days <= 0) return false;
  return calendar_seconds(now) - calendar_seconds(video.end) > std::int64_t{days} * 86400;
}

CleanupReport clean_up_videos(VideoFolder& folder, const CleanupRules& rules,
                              const CalendarTime& now) {
  CleanupReport report;
  if (rules.keep_free_mb <= 0 && rules.max_age_days <= 0) return report;
  std::vector<FolderEntry> entries;
  if (!folder.list(entries)) return report;
  const std::vector<StoredVideo> videos = deletable_videos(entries);

  // Without a figure for the drive the space rule cannot judge: only the age rule runs.
  DriveSpace space;
  const bool known = rules.keep_free_mb > 0 && folder.space(space);
  std::uint64_t goal = 0;
  if (known) {
    const std::uint64_t rate = videos.empty() ? rules.stream_rate : recording_rate(videos);
    report.target = space_target(static_cast<std::uint64_t>(rules.keep_free_mb), rate, space.total);
    if (space.free < report.target) goal = with_margin(report.target);
  }
  for (const StoredVideo& v : videos) {
    const bool short_of_room = space.free < goal;
    if (!short_of_room && !older_than(v, now, rules.max_age_days)) {
      if (rules.max_age_days <= 0) break;
      continue;
    }
    if (!folder.remove(v.name)) {
      ++report.refused;
      continue;
    }
    ++report.deleted;
    report.freed = saturating_add(report.freed, v.size);
    // The drive's own figure after each deletion: other writers and the cluster size count.
    DriveSpace now_free;
    if (known && folder.space(now_free)) {
      space = now_free;
    } else {
      space.free = saturating_add(space.free, v.size);
    }
  }
  report.after = space;
  return report;
}

}  // namespace talvex
