// Message numbers of the capture program, all of them in one place. The texts are in
// talvex_catalogue.cpp; 54 is the success code.
#pragma once

namespace talvex::msg {

// Start-up and the window.
constexpr int kComInitFailed = 1;
constexpr int kRegisterClassFailed = 2;
constexpr int kCreateWindowFailed = 3;
constexpr int kShowWindowFailed = 4;

// The capture graph.
constexpr int kNoGraphManager = 5;
constexpr int kNoGraphBuilder = 6;
constexpr int kNoDeviceEnumerator = 7;
constexpr int kNoVideoDevices = 8;
constexpr int kNoFirstDevice = 9;
constexpr int kNoSampleGrabber = 10;
constexpr int kNoSampleCapture = 11;
constexpr int kGraphFileFailed = 12;
constexpr int kCompressorNotFound = 19;
constexpr int kCompressorNotAdded = 20;
constexpr int kDeviceNotFound = 24;
constexpr int kCompressorNotConnected = 27;
constexpr int kDeviceUnusableCompressed = 34;
constexpr int kDeviceUnusable = 35;

// The capture passes.
constexpr int kThreadStartFailed = 13;
constexpr int kGrabberFailed = 14;
constexpr int kSampleFrameFailed = 15;
constexpr int kBmpFileFailed = 16;
constexpr int kJpgFileFailed = 17;

// Settings, the configuration file and the dialogs.
constexpr int kOutputDirectoryFailed = 18;
constexpr int kConfigMissing = 25;
constexpr int kConfigVersion = 26;
constexpr int kConfigFolderFailed = 28;
constexpr int kCompressorUnusable = 36;
constexpr int kConfigSaveFailed = 37;
constexpr int kConfigTerminator = 44;
constexpr int kRecordingRecovered = 45;
constexpr int kRecordingNotSaved = 46;
constexpr int kCameraStopped = 47;
constexpr int kCameraBack = 48;
constexpr int kInvalidSetting = 49;
constexpr int kOldVideosDeleted = 50;

// The motion detector's mask.
constexpr int kMaskUnusable = 52;

// The live view and the event command.
constexpr int kEventCommandFailed = 51;
constexpr int kLiveViewFailed = 53;

// The device and compressor catalogue and its list file.
constexpr int kDeviceListNoEnumerator = 21;
constexpr int kDeviceListNotEnumerable = 22;
constexpr int kDeviceListNoName = 23;
constexpr int kCompressorListNoEnumerator = 29;
constexpr int kCompressorListNotEnumerable = 30;
constexpr int kCompressorListNoName = 31;
constexpr int kListFileFailed = 32;
constexpr int kListFileWritten = 33;

// The FTP upload of the snapshot.
constexpr int kFtpNoSession = 38;
constexpr int kFtpNoConnection = 39;
constexpr int kFtpNoRemoteFile = 40;
constexpr int kFtpNoLocalFile = 41;
constexpr int kFtpNothingRead = 42;
constexpr int kFtpIncomplete = 43;

constexpr int kOk = 54;

}  // namespace talvex::msg
