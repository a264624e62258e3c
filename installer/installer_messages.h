// Message numbers of the installer. The texts are in installer_catalogue.cpp.
#pragma once

namespace talvex::inst {

constexpr int kRegisterClassFailed = 2;
constexpr int kCreateWindowFailed = 3;
constexpr int kShowWindowFailed = 4;
constexpr int kInstallationCompleted = 9;
constexpr int kUninstallWarning = 10;
constexpr int kUninstallConcluded = 11;
constexpr int kNoInstallationDirectory = 12;
constexpr int kInstallFailed = 13;
constexpr int kQuitQuestion = 15;
constexpr int kExtractAllFiles = 16;
constexpr int kOk = 21;

}  // namespace talvex::inst
