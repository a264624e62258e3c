#include "app/program_steps_win.h"

#include "app/log.h"
#include "app/talvex_messages.h"
#include "capture/frame_buffer.h"
#include "capture/frame_image.h"
#include "capture/ftp_upload.h"
#include "capture/snapshot.h"

namespace talvex {
namespace {

class ProgramSteps final : public CaptureSteps {
 public:
  explicit ProgramSteps(CaptureProgram& program) : program_(program) {}

  int grab_frame() override {
    return talvex::grab_frame(program_.settings, program_.graph.get(), frame_, talvex::log_message);
  }
  int write_frame_file(int index) override {
    return talvex::write_frame_file(program_.settings, frame_, index);
  }
  int make_snapshot(int index) override { return talvex::make_snapshot(program_.settings, index); }
  int ftp_upload(const char* file, const FtpTexts& ftp) override {
    return talvex::ftp_upload(file, ftp);
  }
  bool detect_motion() override { return talvex::detect_motion(program_.settings); }
  // The pass holds the graph lock already.
  void start_recording() override { program_.recorder.start_recording(*program_.graph); }
  void stop_recording() override { program_.recorder.stop_recording(*program_.graph); }
  void log_message(int number) override { talvex::log_message(number); }

 private:
  CaptureProgram& program_;
  FrameBuffer frame_;  // only the capture thread touches it
};

}  // namespace

std::unique_ptr<CaptureSteps> make_program_steps(CaptureProgram& program) {
  return std::make_unique<ProgramSteps>(program);
}

}  // namespace talvex
