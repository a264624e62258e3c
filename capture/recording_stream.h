// The recorder's stream of samples and its files, apart from the platform: the capture
// stream always arrives here; while no recording runs it feeds the pre-event ring, while
// one runs it is appended to "Talvex_tmp.avi". A recording is saved by finishing that file
// and renaming it to its dated name: no copy.
//
// Two threads meet here. The streaming thread only delivers samples (deliver). The owner
// thread (the user-interface thread, which owns the graph) starts, stops and splits
// recordings. A continuous recording is split at every whole hour of the local clock and
// before its file would pass the size bound; the streaming thread notices the frame at
// which that happens, holds it and what follows back, and asks the owner for the split
// through the split request; the owner saves the part, opens the next one and writes the
// held frames into it first, so no frame is lost or written twice.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/avi_writer.h"
#include "capture/pre_event_ring.h"
#include "capture/recording_descriptor.h"

namespace talvex {

// What the recorder asks of the video folder's clean-up when the disk refuses its writes.
class RecordingRoom {
 public:
  virtual ~RecordingRoom() = default;
  // Any thread, never waits: a clean-up soon. False when no clean-up is set to make room
  // (the recorder then loses what it cannot write, as without one).
  virtual bool ask() = 0;
  // A clean-up now, on the calling thread: true when it deleted something.
  virtual bool make() = 0;
  // The capture stream's bytes per second, for a clean-up before any video exists.
  virtual void note_stream_rate(std::uint64_t bytes_per_second) = 0;
};

struct RecordingLimits {
  std::uint64_t split_bytes = std::uint64_t{1} << 30;      // a file never passes this
  std::size_t memory_bytes = PreEventRing::kDefaultBound;  // the ring, and the held frames
};

class RecordingStream {
 public:
  using Limits = RecordingLimits;

  explicit RecordingStream(Limits limits = {},
                           AviWriter::Clock clock = AviWriter::steady_milliseconds);
  ~RecordingStream();

  // Owner thread, before samples flow: the stream's media type as connected; false when the
  // recorder cannot store it.
  bool set_format(const RecordingFormat& format);
  // Called by the streaming thread, outside the stream lock, when a split is due; the
  // owner then calls split() on its own thread.
  void set_split_request(std::function<void()> request) { split_request_ = std::move(request); }
  // The clean-up that makes room: asked before each recording or part starts and at once
  // when a write fails; a save or an open that fails is tried again once after it ran.
  // While a clean-up is on its way, the frames the disk refused are held (within the
  // memory bound) and written once there is room, so that the recording goes on without
  // a gap. It must outlive the stream.
  void set_room(RecordingRoom* room) { room_ = room; }

  // Streaming thread. Whether a sample would be kept at all (a recording runs, or the ring
  // keeps seconds): a sample arriving when it is not needs no copy.
  bool takes_samples() const { return takes_samples_.load(); }
  void deliver(StreamSample sample);
  // Every sample of the stream, taken or not: its size and time (100-ns units), for the
  // stream's rate.
  void count_sample(std::size_t bytes, std::int64_t time);

  // Owner thread. The seconds kept before an event (0-30; 0 keeps nothing).
  void set_pre_event(int seconds);
  // Opens a new temporary file and starts writing into it. A motion recording begins with
  // the samples of the pre-event ring; a continuous one begins now and is also split at
  // every whole hour. A temporary file that is still there (a save that failed) is made
  // safe first by the start-up recovery; when it cannot be, or the new file cannot be
  // opened, nothing starts and false is returned.
  enum class Kind { kMotion, kContinuous };
  bool start(Kind kind);
  // Finishes the running recording and renames it to its dated name (the time of its first
  // frame to now), stored in `name`; a recording without a frame leaves no file and an
  // empty name. False when the save failed: the temporary file is then kept, closed.
  bool stop(std::string& name);
  // Does a split the streaming thread asked for: the part so far gets its dated name
  // (stored in `name`) and the held frames begin the next part. Nothing when no split is
  // due. False when the part could not be saved or the next one not opened: the recording
  // then ends there, and what was written stays in the temporary file.
  bool split(std::string& name);

  bool recording() const;
  // Frames that could not be kept: held back longer than the memory bound allows, or not
  // written because the file failed.
  std::size_t lost_frames() const;
  // The pre-event ring's state, and the recordings started and stopped, for tests and
  // measurements.
  std::size_t ring_samples() const;
  std::size_t starts() const;
  std::size_t stops() const;

 private:
  enum class Mode { kIdle, kWriting, kHolding };
  // With the stream lock held, after each change of the mode or the ring's span.
  void update_takes_samples() { takes_samples_ = mode_ != Mode::kIdle || pre_event_ > 0; }
  bool open_part(const CalendarTime& start);
  bool save_part(AviWriter& writer, const CalendarTime& start, const CalendarTime& end,
                 std::string& name);
  // A save or an open, tried again once after a clean-up when it failed.
  bool with_room(const std::function<bool()>& step);
  // Owner thread, on a part only it reaches: writes the frames, making room once when the
  // disk refuses one; the first written frame's time goes to `first`. Returns the frames
  // lost.
  std::size_t write_owned(AviWriter& writer, const std::deque<StreamSample>& frames,
                          CalendarTime& first, bool& has_frame);
  // With the stream lock held.
  bool write_frame(AviWriter& writer, const StreamSample& sample);
  void hold(StreamSample sample);
  bool split_before(const StreamSample& sample) const;
  // Whether a frame the disk refused is held for a clean-up to make room.
  bool wait_for_room(const AviWriter& writer);
  // In the writing mode: writes the held frames in order while the file takes them; true
  // when a split became due (the rest is held for it).
  bool drain();
  // Makes the part just opened the one the streaming thread appends to and writes the held
  // frames into it while they fit; true when some are left for another split.
  bool attach_and_drain();

  const Limits limits_;
  const AviWriter::Clock clock_;
  std::function<void()> split_request_;
  RecordingRoom* room_ = nullptr;
  std::optional<AviStream> stream_;

  // Streaming thread only: the stream's rate since the last figure.
  std::uint64_t rate_bytes_ = 0;
  std::int64_t rate_first_ = 0;
  bool rate_started_ = false;

  // Owner thread only.
  std::unique_ptr<AviWriter> owned_;  // a part being opened, finished or renamed

  // Guards everything below: the ring, the open file and the held frames.
  mutable std::mutex stream_lock_;
  PreEventRing ring_;
  Mode mode_ = Mode::kIdle;
  std::unique_ptr<AviWriter> writer_;  // the part the streaming thread appends to
  CalendarTime part_start_{};          // local time of the part's first frame
  bool part_has_frame_ = false;
  std::deque<StreamSample> held_;
  std::size_t held_bytes_ = 0;
  bool split_due_ = false;
  bool waiting_for_room_ = false;  // the held frames wait for a clean-up, not a split
  bool hourly_ = false;
  std::size_t lost_ = 0;
  std::size_t starts_ = 0, stops_ = 0;
  int pre_event_ = 0;
  std::atomic<bool> takes_samples_{false};
};

// Whether `later` lies in another hour of the local clock than `earlier`.
bool crosses_hour(const CalendarTime& earlier, const CalendarTime& later);

}  // namespace talvex
