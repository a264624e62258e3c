#pragma once

#include <memory>

#include "app/capture_program_win.h"

namespace talvex {

// The capture passes' steps in the program: frames from the capture graph's grabber,
// the frame files, the snapshot, the upload, the motion check and the recordings. Called
// by the capture thread with the graph lock held.
std::unique_ptr<CaptureSteps> make_program_steps(CaptureProgram& program);

}  // namespace talvex
