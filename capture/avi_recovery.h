// Reading a recording's AVI file chunk by chunk, and saving what a crash, a power cut or a
// full disk left under its dated name: a finished file renamed as it is, or an AVI rebuilt
// from the frame chunks of one that was never finished, with the media type its own
// headers give (the recorder's files) or the recording descriptor's (the files of the
// platform's multiplexer, written by earlier versions). Rebuilt videos are flushed to the
// disk before the rename that makes them visible, and nothing replaces a file.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "capture/recording_descriptor.h"
#include "common/system_calls.h"

namespace talvex {

// The working file a video is written into before it gets its name.
inline constexpr char kSaveWorkingName[] = "Talvex_save.tmp";

// The most frame chunks that one recovery takes: more than an AVI 1.0 file holds of the
// smallest real pictures (about 2 KB each), and 19 hours at 30 frames a second, where the
// recorder splits its files at the hour. The scan's table of them stays within 32 MiB. A
// file of more is none of our recordings; it is kept aside untouched.
inline constexpr std::size_t kMostRecoveredFrames = std::size_t{1} << 21;

// Random access to the bytes of a file or of a buffer.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Reads exactly `n` bytes at `offset`; false when they are not all there.
  virtual bool read(std::uint64_t offset, void* out, std::size_t n) = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, void* out, std::size_t n) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

// A file opened for reading through the system-call table.
class FileSource final : public ByteSource {
 public:
  FileSource(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, void* out, std::size_t n) override;

 private:
  std::FILE* file_;
  std::uint64_t size_;
};

// One frame chunk of the video stream ("00db" or "00dc").
struct FrameChunk {
  std::uint64_t offset = 0;  // of the chunk's header
  std::uint32_t size = 0;    // of its data
  std::array<char, 4> id{};
};

struct AviScan {
  bool headers = false;  // the file begins with RIFF ... AVI
  // Headers, stream header list, movi list and index all present, the RIFF size written
  // and no chunk torn: the writer finished the file.
  bool intact = false;
  std::vector<FrameChunk> frames;  // every whole frame chunk up to the first torn chunk
  // More than kMostRecoveredFrames frame chunks: the scan stopped at the first one beyond.
  bool over_limit = false;
  // What the file's own headers say, where they are whole: the video stream's format (a
  // VIDEOINFOHEADER around its "strf", with the frame period of its "strh") and the
  // recording's start (the "ICRD" text of its INFO list, as the recorder writes it).
  std::optional<RecordingFormat> format;
  std::optional<CalendarTime> created;
};

// Walks the chunks of a recording: the RIFF and LIST headers where the platform wrote
// them (OpenDML extensions and JUNK padding included), or the zeros it left in their place,
// and then the frame chunks, until the end of the file, the first torn or unreadable
// chunk, or the first frame chunk beyond kMostRecoveredFrames. Reads the source in large
// blocks, never outside it.
AviScan scan_avi(ByteSource& source);

// Writes a whole AVI (RIFF, hdrl with avih and strl, movi, idx1) of the frames in the
// source, with the picture and the frame period of `format`. False when the format is not
// a video format or a write failed.
bool write_rebuilt_avi(ByteSource& source, std::span<const FrameChunk> frames,
                       const RecordingFormat& format, std::int64_t frame_period, std::FILE* out);

// The frame period to write: the descriptor's, else the format's, else the one that the
// recording's length and its frame count give, else 1/15 s.
std::int64_t recovered_frame_period(const RecordingFormat& format, const CalendarTime& start,
                                    const CalendarTime& end, std::size_t frames);

// Writes a video with `produce` into the working file, flushes it to the disk and gives it
// the dated name of `start` and `end`, or, when a file has that name, the same name with
// "_2", "_3" ... before ".avi". The name given is stored in `name`. On failure the
// working file is removed and no dated file is left.
bool save_video(const std::function<bool(std::FILE*)>& produce, const CalendarTime& start,
                const CalendarTime& end, std::string& name);

// Gives the file `from` the dated name of `start` and `end`, or, when a file has that
// name, the same name with "_2", "_3" ... before ".avi"; never replaces a file. The name
// given is stored in `name`.
bool rename_to_dated_name(const char* from, const CalendarTime& start, const CalendarTime& end,
                          std::string& name);

// Saves the temporary recording under its dated name: a copy when the file is intact,
// else an AVI rebuilt from its frame chunks. `frames` gets the number of frames saved.
// False when it holds no frame or more than one recovery takes, or the save failed.
bool save_temporary_recording(const RecordingFormat* format, const CalendarTime& start,
                              const CalendarTime& end, std::string& name, std::size_t& frames);

// What the start-up found in the temporary recording.
struct RecoveryReport {
  enum class Outcome {
    kNothing,    // no temporary file, or one without a frame (left to be rewritten)
    kRecovered,  // saved as the dated video `name`
    kKept,       // not recoverable here: kept untouched as `name`
  };
  Outcome outcome = Outcome::kNothing;
  std::string name;
  std::size_t frames = 0;
};

// Turns a temporary recording that a crash or a failed save left behind into a dated
// video, named after its start time and the file's last write time. A finished file is
// renamed as it is; an unfinished one is rebuilt from its frame chunks. The stream format
// and the start come from the file's own headers where the recorder wrote them, else from
// the recording descriptor (the multiplexer's files). The file is kept untouched under a
// name that no recording writes ("Talvex_unrecovered_<date>_<time>.avi") when either is
// missing, when the file holds more frames than one recovery takes, when start and end
// give no name that the inspector reads (a date that does not exist, an end before the
// start), when the memory for it cannot be had, or when the video cannot be written.
// Never throws.
RecoveryReport recover_interrupted_recording() noexcept;

}  // namespace talvex
