// Message numbers of the capture program. The texts are in talvex_catalogue.cpp.
#pragma once

namespace talvex::msg {

constexpr int kComInitFailed = 1;
constexpr int kRegisterClassFailed = 2;
constexpr int kCreateWindowFailed = 3;
constexpr int kGrabberFailed = 14;
constexpr int kSampleFrameFailed = 15;
constexpr int kBmpFileFailed = 16;
constexpr int kJpgFileFailed = 17;
constexpr int kOutputDirectoryFailed = 18;
constexpr int kThreadStartFailed = 13;
constexpr int kConfigMissing = 25;
constexpr int kConfigVersion = 26;
constexpr int kConfigFolderFailed = 28;
constexpr int kConfigSaveFailed = 37;
constexpr int kConfigTerminator = 44;
constexpr int kRecordingRecovered = 45;
constexpr int kRecordingNotSaved = 46;
constexpr int kCameraStopped = 47;
constexpr int kCameraBack = 48;
constexpr int kOk = 54;

}  // namespace talvex::msg
