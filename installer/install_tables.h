// The installer's fixed names and the plain logic around them: how paths are composed,
// which base folder and start-menu folder are chosen, what the payload is, and which files
// of an installation directory are recordings. No system calls: the existence test is
// handed in, so the same choices run natively in tests and against the file system in the
// program.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace talvex::inst {

// Every composed path lives in a buffer of this size, terminator included.
constexpr std::size_t kPathSize = 99;
constexpr std::size_t kMaxPathLength = kPathSize - 1;

constexpr char kDriveRoot[] = "c:\\";
constexpr char kProductFolder[] = "Talvex";
constexpr char kVersionFolder[] = "Talvex v3";
constexpr char kCaptureProgram[] = "Talvex.exe";
constexpr char kAgreementFile[] = "LICENSE.txt";
constexpr char kIconFile[] = "Talvex.ico";
constexpr char kLogFile[] = "Talvex.log";

// Folders below the drive root that may hold the programs, most preferred first.
extern const std::span<const char* const> kBaseFolderCandidates;
// Start-menu program folders below the drive root, in the order they are tried (Windows-1252).
extern const std::span<const char* const> kStartMenuCandidates;

// One file of the distribution package and the shortcut made for it.
struct PayloadRow {
  const char* source;     // name in the package (the installer's current directory)
  const char* installed;  // name in the installation directory
  const char* link;       // shortcut name in the program group, or nullptr
  const char* arguments;  // shortcut arguments, or nullptr
  const char* icon;       // shortcut icon (bare name in the installation directory), or nullptr
  bool com_server;        // the compressor: registered after the copies, unregistered before
                          // the uninstall, never loaded
};
extern const std::span<const PayloadRow> kPayload;

// Whether `name` exists below `root` (a folder ending in a backslash); when it does, its
// full path. The program answers with SearchPathA.
using PathProbe =
    std::function<std::optional<std::string>(const std::string& root, const std::string& name)>;

// `a` + backslash + `b`; nothing when the result would not fit kPathSize.
std::optional<std::string> join_path(std::string_view a, std::string_view b);

// The first existing base folder candidate below `drive_root`, or the bare drive
// (`drive_root` without its backslash) when none exists.
std::string base_folder(const PathProbe& probe, std::string_view drive_root = kDriveRoot);

// The first existing start-menu candidate below `drive_root`; when none exists,
// `fallback` (the programs folder the shell reports; may be empty for none).
std::optional<std::string> start_menu_folder(const PathProbe& probe, std::string_view fallback,
                                             std::string_view drive_root = kDriveRoot);

struct InstallationPaths {
  std::string product_directory;       // base + "Talvex"
  std::string installation_directory;  // base + "Talvex" + "Talvex v3"
};
std::optional<InstallationPaths> installation_paths(std::string_view base);

struct ProgramGroupPaths {
  std::string product_group;  // start menu + "Talvex"
  std::string program_group;  // start menu + "Talvex" + "Talvex v3"
};
std::optional<ProgramGroupPaths> program_group_paths(std::string_view start_menu);

// Whether a recorded path can be an installation directory, by its text alone: an absolute
// path on the drive of `drive_root` ("c:\\..."), one backslash between components, none of
// them "." or "..", no "/", ending in the product and version folders
// ("...\\Talvex\\Talvex v3", letters in any case) below some folder, and at most
// kMaxPathLength characters. Relative paths, other drives, UNC and device paths fail.
bool is_installation_directory(std::string_view path, std::string_view drive_root = kDriveRoot);

// What a reinstall deletes from the installation directory before it copies the package
// again: the files the installation put there (the payload) and the working files the
// programs make anew at every start and that hold nothing of the user's (the frame files,
// the snapshot, the device list, the graph file, the inspector's playback copy, a settings
// file left half written). Everything else stays: every recording the capture program
// names (a second one of the same seconds, a kept-aside or interrupted one, the temporary
// recording and its descriptor awaiting recovery), photos, the log, the mask, the user's
// own files. Letters in any case.
bool is_replaced_on_reinstall(std::string_view name);

}  // namespace talvex::inst
