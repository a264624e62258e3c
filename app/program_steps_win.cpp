#include "app/program_steps_win.h"

#include <objbase.h>

#include <utility>
#include <vector>

#include "app/log.h"
#include "app/talvex_messages.h"
#include "capture/frame_buffer.h"
#include "capture/frame_image.h"
#include "capture/motion_filter.h"
#include "capture/motion_mask.h"
#include "capture/snapshot.h"
#include "capture/snapshot_upload.h"

namespace talvex {
namespace {

class ProgramSteps final : public CaptureSteps {
 public:
  explicit ProgramSteps(CaptureProgram& program) : program_(program) {}

  // The sample grabber is the only COM object the passes call; it is free-threaded.
  void thread_started() override {
    com_initialised_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    mask_watch_.poll(MaskWatch::Clock::now());  // the mask is read at the start
  }
  void thread_ending() override {
    if (com_initialised_) ::CoUninitialize();
    com_initialised_ = false;
  }

  bool frames_flowing() override { return !program_.camera_silent; }

  int grab_frame() override {
    return talvex::grab_frame(program_.settings, program_.graph.get(), frame_, talvex::log_message);
  }
  int write_frame_file(int index) override {
    return talvex::write_frame_file(program_.settings, frame_, index);
  }
  int make_snapshot(int index) override { return talvex::make_snapshot(program_.settings, index); }

  int start_upload(const char* file, const FtpTexts& ftp) override {
    // The bytes are read now: the next pass rewrites the file while the upload may run.
    if (const int read = read_snapshot_file(file, snapshot_); read != msg::kOk) return read;
    UploadJob job;
    job.bytes = snapshot_;
    job.ftp = ftp;
    uploader_.submit(std::move(job));
    return msg::kOk;
  }
  bool finished_upload(int& result) override { return uploader_.take_finished(result); }

  bool detect_motion() override {
    const auto now = MaskWatch::Clock::now();
    mask_watch_.poll(now);
    if (program_.warm_up.active(now, program_.settings.warm_up)) return false;
    return talvex::detect_motion(program_.settings, &mask_watch_.mask());
  }

  void request_recording_start() override {
    request_generation_ = program_.recordings.generation();
    if (!post(1)) program_.settings.motion_recording = false;
  }
  void request_recording_stop() override { post(0); }
  void log_message(int number) override { talvex::log_message(number); }

 private:
  bool post(WPARAM start) const {
    return ::PostMessageA(program_.main_window, kRecordingRequestMessage, start,
                          static_cast<LPARAM>(request_generation_)) != FALSE;
  }

  CaptureProgram& program_;
  // Only the capture thread touches these.
  FrameBuffer frame_;
  std::vector<char> snapshot_;
  SnapshotUploader uploader_{ftp_upload_attempt};
  MaskWatch mask_watch_{talvex::log_message};
  unsigned request_generation_ = 0;
  bool com_initialised_ = false;
};

}  // namespace

std::unique_ptr<CaptureSteps> make_program_steps(CaptureProgram& program) {
  return std::make_unique<ProgramSteps>(program);
}

}  // namespace talvex
