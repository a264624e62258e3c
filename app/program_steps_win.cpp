#include "app/program_steps_win.h"

#include "app/log.h"
#include "app/talvex_messages.h"

namespace talvex {
namespace {

class ProgramSteps final : public CaptureSteps {
 public:
  explicit ProgramSteps(CaptureProgram& program) : program_(program) {}

  int grab_frame() override { return msg::kGrabberFailed; }
  int write_frame_file(int) override { return msg::kBmpFileFailed; }
  int make_snapshot(int) override { return msg::kJpgFileFailed; }
  int ftp_upload(const char*, const FtpTexts&) override { return 38; }
  bool detect_motion() override { return false; }
  // The pass holds the graph lock already.
  void start_recording() override { program_.recorder.start_recording(*program_.graph); }
  void stop_recording() override { program_.recorder.stop_recording(*program_.graph); }
  void log_message(int number) override { talvex::log_message(number); }

 private:
  CaptureProgram& program_;
};

}  // namespace

std::unique_ptr<CaptureSteps> make_program_steps(CaptureProgram& program) {
  return std::make_unique<ProgramSteps>(program);
}

}  // namespace talvex
