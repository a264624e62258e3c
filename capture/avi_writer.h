// The recorder's AVI file, written as the frames come: the headers at once (the stream's
// picture, its frame rate, the recording's start time, JUNK up to a fixed header area),
// then one chunk per frame, handed to the system after every frame and flushed to the
// disk at least once a second, and at the end the idx1 index and the final sizes written
// over the first headers. Whatever a crash leaves is a file with whole headers and every
// frame chunk up to the last flush, which the start-up recovery turns into a video.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "capture/recording_descriptor.h"
#include "common/system_calls.h"

namespace talvex {

// The frame chunks start at this offset; everything before it is headers and JUNK.
inline constexpr std::uint64_t kAviHeaderArea = 4096;
// The largest BITMAPINFOHEADER (with its colour table or extra bytes) the header area holds.
inline constexpr std::size_t kAviLargestStreamFormat = 2048;

// What the writer needs of a stream's media type: its VIDEOINFOHEADER's picture and the
// BITMAPINFOHEADER (and what follows it) that becomes the stream format "strf".
struct AviStream {
  VideoPicture picture;
  std::vector<std::uint8_t> bitmap_info;
  std::int64_t frame_period = 0;  // 100-ns units, > 0
  bool compressed = false;        // frames are "00dc" chunks, else "00db"
};
// The stream of a media type: nothing for a type this writer cannot store (not video with
// a VIDEOINFOHEADER, a picture without size, a bitmap header too short or too long). A
// type without a frame period gets 1/15 s.
std::optional<AviStream> avi_stream(const RecordingFormat& format);

class AviWriter {
 public:
  // A monotonic clock in milliseconds; the flush to the disk follows it.
  using Clock = std::int64_t (*)();
  static std::int64_t steady_milliseconds();

  explicit AviWriter(Clock clock = steady_milliseconds) : clock_(clock) {}
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;
  // Closes a file that was not finished, as it stands.
  ~AviWriter();

  // Creates `name` anew (replacing a file of that name: callers make sure there is none
  // worth keeping) and writes the headers, handed to the system. False when a step failed;
  // the file is then closed.
  bool open(const char* name, const AviStream& stream, const CalendarTime& start);
  // Appends one frame of `time` (100-ns units, any origin, never decreasing); `key` sets
  // its key-frame flag in the index. False when the frame was not written: a write the
  // system refused (a full disk) loses only this frame, and the next one is tried again
  // at the same place; once the file cannot take more (its size bound, a seek that
  // failed) nothing more is written.
  bool append(const std::uint8_t* data, std::size_t size, bool key, std::int64_t time);
  // The file's size once one more frame of `size` bytes and the index are written.
  std::uint64_t size_with(std::size_t size) const;
  // Writes the index and the final headers, flushes the file to the disk and closes it.
  // The frame rate written is the frames' real average when at least two were written,
  // so that the video lasts as long as the recording did. False when a step failed: the
  // file then stays open as it stands, for another finish once there is room, or for
  // the destructor to close.
  bool finish();

  bool is_open() const { return file_ != nullptr; }
  bool failed() const { return failed_; }
  std::size_t frames() const { return index_.size(); }

 private:
  struct Entry {
    std::uint32_t offset;  // of the chunk, from the "movi" word
    std::uint32_t size;
    bool key;
  };
  std::vector<std::uint8_t> headers(std::int64_t period) const;
  bool write(const void* data, std::size_t size);
  // Moves back to the end of the last whole frame after a refused write.
  bool at_end();
  void close();

  Clock clock_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  bool tail_stale_ = false;    // the file position is past the last whole frame
  bool tail_written_ = false;  // a refused write may have left bytes past it
  AviStream stream_;
  CalendarTime start_{};
  std::uint64_t end_ = 0;  // where the next chunk goes
  std::uint32_t largest_ = 0;
  std::int64_t first_time_ = 0, last_time_ = 0;
  std::int64_t last_sync_ = 0;
  std::vector<Entry> index_;
};

}  // namespace talvex
