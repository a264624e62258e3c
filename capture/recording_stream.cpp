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

bool RecordingStream::write_frame(AviWriter& writer, const StreamSample& sample) {
  if (!writer.append(sample.bytes.data(), sample.bytes.size(), sample.key, sample.time)) {
    return false;
  }
  if (!part_has_frame_) {
    part_start_ = sample.local;
    part_has_frame_ = true;
  }
  return true;
}

bool RecordingStream::wait_for_room(const AviWriter& writer) {
  waiting_for_room_ = !writer.failed() && room_ && room_->ask();
  return waiting_for_room_;
}

void RecordingStream::count_sample(std::size_t bytes, std::int64_t time) {
  constexpr std::int64_t kPeriod = 10 * 10000000LL;  // a figure every 10 s of the stream
  if (!rate_started_ || time < rate_first_) {
    rate_started_ = true;
    rate_first_ = time;
    rate_bytes_ = 0;
  }
  rate_bytes_ += bytes;
  if (time - rate_first_ >= kPeriod) {
    const double seconds = static_cast<double>(time - rate_first_) / 1e7;
    if (room_) room_->note_stream_rate(static_cast<std::uint64_t>(rate_bytes_ / seconds));
    rate_started_ = false;
  }
}

std::size_t RecordingStream::write_owned(AviWriter& writer, const std::deque<StreamSample>& frames,
                                         CalendarTime& first, bool& has_frame) {
  std::size_t lost = 0;
  bool room_made = false;
  for (const StreamSample& s : frames) {
    const auto put = [&] { return writer.append(s.bytes.data(), s.bytes.size(), s.key, s.time); };
    bool written = put();
    if (!written && !room_made && !writer.failed() && room_) {
      room_made = true;
      written = room_->make() && put();
    }
    if (!written) {
      ++lost;
    } else if (!has_frame) {
      first = s.local;
      has_frame = true;
    }
  }
  return lost;
}

bool RecordingStream::with_room(const std::function<bool()>& step) {
  return step() || (room_ && room_->make() && step());
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

bool RecordingStream::drain() {
  while (!held_.empty()) {
    if (split_before(held_.front())) {
      split_due_ = true;
      waiting_for_room_ = false;
      mode_ = Mode::kHolding;
      update_takes_samples();
      return true;
    }
    if (!write_frame(*writer_, held_.front())) {
      if (wait_for_room(*writer_)) return false;
      ++lost_;
    }
    held_bytes_ -= held_.front().bytes.size();
    held_.pop_front();
  }
  waiting_for_room_ = false;
  return false;
}

bool RecordingStream::attach_and_drain() {
  writer_ = std::move(owned_);
  mode_ = Mode::kWriting;
  update_takes_samples();
  return drain();
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
        if (waiting_for_room_) {
          // Behind frames the disk refused: in their order, once it takes them.
          hold(std::move(sample));
          ask = drain();
        } else if (split_before(sample)) {
          mode_ = Mode::kHolding;
          update_takes_samples();
          split_due_ = true;
          ask = true;
          hold(std::move(sample));
        } else if (!write_frame(*writer_, sample)) {
          if (wait_for_room(*writer_)) {
            hold(std::move(sample));
          } else {
            ++lost_;
          }
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
  return with_room([&] {
    owned_ = std::make_unique<AviWriter>(clock_);
    if (owned_->open(kTempRecordingName, *stream_, start)) return true;
    owned_.reset();
    // Only the headers of this very part can be there: the name was free before the open.
    system_calls().remove_file(kTempRecordingName);
    return false;
  });
}

bool RecordingStream::save_part(AviWriter& writer, const CalendarTime& start,
                                const CalendarTime& end, std::string& name) {
  return with_room([&] { return writer.finish(); }) &&
         rename_to_dated_name(kTempRecordingName, start, end, name);
}

bool RecordingStream::start(Kind kind) {
  if (!stream_) return false;
  if (room_) room_->ask();
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
  bool has_frame = false;
  CalendarTime first_local{};
  const std::size_t lost = write_owned(*owned_, earlier, first_local, has_frame);
  bool again;
  {
    std::lock_guard lock(stream_lock_);
    lost_ += lost;
    part_has_frame_ = has_frame;
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
  std::deque<StreamSample> held;
  {
    std::lock_guard lock(stream_lock_);
    if (mode_ == Mode::kIdle) return true;
    ++stops_;
    writer = std::move(writer_);
    held = std::move(held_);
    held_.clear();
    held_bytes_ = 0;
    split_due_ = false;
    waiting_for_room_ = false;
    mode_ = Mode::kIdle;
    update_takes_samples();
    ring_.clear();
    start = part_start_;
    has_frame = part_has_frame_;
  }
  // Frames held for a split that is still due, or for room on the disk, end this part:
  // the streaming thread no longer reaches it.
  if (const std::size_t lost = write_owned(*writer, held, start, has_frame); lost > 0) {
    std::lock_guard lock(stream_lock_);
    lost_ += lost;
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
