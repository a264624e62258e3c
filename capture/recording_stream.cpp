#include "capture/recording_stream.h"

#include <utility>

#include "capture/avi_recovery.h"
#include "capture/working_files.h"

namespace talvex {
namespace {

bool exists(const char* name) {
  std::uint64_t size;
  CalendarTime time;
  return system_calls().file_status(name, size, time);
}

}  // namespace

bool crosses_hour(const CalendarTime& earlier, const CalendarTime& later) {
  return earlier.year != later.year || earlier.month != later.month || earlier.day != later.day ||
         earlier.hour != later.hour;
}

RecordingStream::RecordingStream(Limits limits, AviWriter::Clock clock)
    : limits_(limits), clock_(clock), ring_(limits.memory_bytes) {}

// An unfinished part stays on the disk as it stands, for the next start's recovery.
RecordingStream::~RecordingStream() = default;

bool RecordingStream::set_format(const RecordingFormat& format) {
  stream_ = avi_stream(format);
  return stream_.has_value();
}

void RecordingStream::set_pre_event(int seconds) {
  std::lock_guard lock(stream_lock_);
  ring_.set_seconds(seconds);
  pre_event_ = seconds;
  update_takes_samples();
}

void RecordingStream::append(AviWriter& writer, const StreamSample& sample) {
  if (!writer.append(sample.bytes.data(), sample.bytes.size(), sample.key, sample.time)) {
    ++lost_;
    return;
  }
  if (!part_has_frame_) {
    part_start_ = sample.local;
    part_has_frame_ = true;
  }
}

void RecordingStream::hold(StreamSample sample) {
  // Past the bound the newest frames go: dropping old ones would cut a hole into the video.
  if (!held_.empty() && held_bytes_ + sample.bytes.size() > limits_.memory_bytes) {
    ++lost_;
    return;
  }
  held_bytes_ += sample.bytes.size();
  held_.push_back(std::move(sample));
}

bool RecordingStream::split_before(const StreamSample& sample) const {
  return part_has_frame_ && ((hourly_ && crosses_hour(part_start_, sample.local)) ||
                             writer_->size_with(sample.bytes.size()) > limits_.split_bytes);
}

bool RecordingStream::attach_and_drain() {
  writer_ = std::move(owned_);
  while (!held_.empty()) {
    if (split_before(held_.front())) {
      split_due_ = true;
      mode_ = Mode::kHolding;
      update_takes_samples();
      return true;
    }
    append(*writer_, held_.front());
    held_bytes_ -= held_.front().bytes.size();
    held_.pop_front();
  }
  mode_ = Mode::kWriting;
  update_takes_samples();
  return false;
}

void RecordingStream::deliver(StreamSample sample) {
  bool ask = false;
  {
    std::lock_guard lock(stream_lock_);
    switch (mode_) {
      case Mode::kIdle:
        ring_.push(std::move(sample));
        break;
      case Mode::kWriting:
        if (split_before(sample)) {
          mode_ = Mode::kHolding;
          update_takes_samples();
          split_due_ = true;
          ask = true;
          hold(std::move(sample));
        } else {
          append(*writer_, sample);
        }
        break;
      case Mode::kHolding:
        hold(std::move(sample));
        break;
    }
  }
  if (ask && split_request_) split_request_();
}

bool RecordingStream::open_part(const CalendarTime& start) {
  owned_ = std::make_unique<AviWriter>(clock_);
  if (owned_->open(kTempRecordingName, *stream_, start)) return true;
  owned_.reset();
  // Only the headers of this very part can be there: the name was free before the open.
  system_calls().remove_file(kTempRecordingName);
  return false;
}

bool RecordingStream::save_part(AviWriter& writer, const CalendarTime& start,
                                const CalendarTime& end, std::string& name) {
  return writer.finish() && rename_to_dated_name(kTempRecordingName, start, end, name);
}

bool RecordingStream::start(Kind kind) {
  if (!stream_) return false;
  {
    std::lock_guard lock(stream_lock_);
    if (mode_ != Mode::kIdle) return true;
  }
  // Never write over a recording: one whose save failed is made safe first. A file without
  // a single frame holds nothing to keep.
  if (exists(kTempRecordingName) &&
      recover_interrupted_recording().outcome == RecoveryReport::Outcome::kNothing) {
    system_calls().remove_file(kTempRecordingName);
  }
  if (exists(kTempRecordingName)) return false;

  std::deque<StreamSample> earlier;
  {
    std::lock_guard lock(stream_lock_);
    if (kind == Kind::kMotion) {
      earlier = ring_.take();
    } else {
      ring_.clear();
    }
    ++starts_;
    // From here the samples wait until the file is open.
    mode_ = Mode::kHolding;
    update_takes_samples();
    split_due_ = false;
    hourly_ = kind == Kind::kContinuous;
    held_.clear();
    held_bytes_ = 0;
    part_has_frame_ = false;
  }
  const CalendarTime start = earlier.empty() ? system_calls().local_time() : earlier.front().local;
  if (!open_part(start)) {
    std::lock_guard lock(stream_lock_);
    held_.clear();
    held_bytes_ = 0;
    mode_ = Mode::kIdle;
    update_takes_samples();
    return false;
  }
  // The seconds before the event go first; only this thread has the new part yet.
  bool first = true;
  CalendarTime first_local{};
  std::size_t lost = 0;
  for (const StreamSample& s : earlier) {
    if (!owned_->append(s.bytes.data(), s.bytes.size(), s.key, s.time)) {
      ++lost;
    } else if (first) {
      first_local = s.local;
      first = false;
    }
  }
  bool again;
  {
    std::lock_guard lock(stream_lock_);
    lost_ += lost;
    part_has_frame_ = !first;
    part_start_ = first_local;
    again = attach_and_drain();
  }
  if (again && split_request_) split_request_();
  return true;
}

bool RecordingStream::stop(std::string& name) {
  name.clear();
  std::unique_ptr<AviWriter> writer;
  CalendarTime start;
  bool has_frame;
  {
    std::lock_guard lock(stream_lock_);
    if (mode_ == Mode::kIdle) return true;
    ++stops_;
    writer = std::move(writer_);
    // Frames held for a split that is still due end this part instead.
    for (const StreamSample& s : held_) append(*writer, s);
    held_.clear();
    held_bytes_ = 0;
    split_due_ = false;
    mode_ = Mode::kIdle;
    update_takes_samples();
    ring_.clear();
    start = part_start_;
    has_frame = part_has_frame_;
  }
  if (!has_frame) {
    writer->finish();
    system_calls().remove_file(kTempRecordingName);
    return true;
  }
  return save_part(*writer, start, system_calls().local_time(), name);
}

bool RecordingStream::split(std::string& name) {
  name.clear();
  std::unique_ptr<AviWriter> writer;
  CalendarTime start, next;
  {
    std::lock_guard lock(stream_lock_);
    if (!split_due_ || mode_ != Mode::kHolding || held_.empty()) return true;
    split_due_ = false;
    writer = std::move(writer_);
    start = part_start_;
    next = held_.front().local;
    // The samples go on to be held until the next part is open.
  }
  // The part ends where the next one begins.
  const bool ok = save_part(*writer, start, next, name) && open_part(next);
  bool again;
  {
    std::lock_guard lock(stream_lock_);
    if (!ok) {
      lost_ += held_.size();
      held_.clear();
      held_bytes_ = 0;
      mode_ = Mode::kIdle;
      update_takes_samples();
      ring_.clear();
      return false;
    }
    part_has_frame_ = false;
    // Held frames beyond what this part takes wait for the next split.
    again = attach_and_drain();
  }
  if (again && split_request_) split_request_();
  return true;
}

bool RecordingStream::recording() const {
  std::lock_guard lock(stream_lock_);
  return mode_ != Mode::kIdle;
}

std::size_t RecordingStream::lost_frames() const {
  std::lock_guard lock(stream_lock_);
  return lost_;
}

std::size_t RecordingStream::starts() const {
  std::lock_guard lock(stream_lock_);
  return starts_;
}

std::size_t RecordingStream::stops() const {
  std::lock_guard lock(stream_lock_);
  return stops_;
}

std::size_t RecordingStream::ring_samples() const {
  std::lock_guard lock(stream_lock_);
  return ring_.size();
}

}  // namespace talvex
