#pragma once

#include <memory>

#include "app/capture_program_win.h"

namespace talvex {

// The capture passes' steps in the program: frames from the capture graph's grabber, the
// frame files, the snapshot, the hand-over to the upload thread, the motion check and the
// recording requests posted to the main window. Run by the capture thread, which takes
// no lock the user-interface thread holds around graph work.
std::unique_ptr<CaptureSteps> make_program_steps(CaptureProgram& program);

}  // namespace talvex
