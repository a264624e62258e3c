// The inspector's message numbers; texts in inspector_catalogue.cpp. 29 is success.
#pragma once

namespace talvex::insp {

constexpr int kComInitFailed = 1;
constexpr int kRegisterClassFailed = 2;
constexpr int kCreateWindowFailed = 3;
constexpr int kShowWindowFailed = 4;
constexpr int kPollerFailed = 5;
constexpr int kSelectVideoToDelete = 16;
constexpr int kConfirmDelete = 17;
constexpr int kVideoDeleted = 18;
constexpr int kDeleteFailed = 19;
constexpr int kSelectVideoToInspect = 20;
constexpr int kInspectFailed = 21;
constexpr int kPhotoCaptureFailed = 24;
constexpr int kPhotoSaveFailed = 25;
constexpr int kPhotoSaved = 26;
constexpr int kConfirmDeleteAll = 27;
constexpr int kVideosDeleted = 28;
constexpr int kOk = 29;

}  // namespace talvex::insp
