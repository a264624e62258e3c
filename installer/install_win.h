// Installing and uninstalling: the installation directory on drive C:, the program group
// with its shortcuts, the installation record, and the start of the installed capture
// program. Every procedure runs on the calling (window) thread and returns a message number.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "common/fixed_text.h"
#include "installer/install_tables.h"

namespace talvex::inst {

// The size of the buffer that receives the installation directory.
constexpr std::size_t kDirectoryBufferSize = 100;

// Where the installation record lives: one text value in the registry.
struct RecordLocation {
  HKEY root;
  std::string key;
  std::string value;
};

// What the procedures take from their surroundings. The program keeps the defaults; the
// tests point the drive, the shell's folder and the record at scratch places.
struct InstallerEnvironment {
  std::string drive_root = kDriveRoot;
  // The all-users programs folder the shell reports, used when no start-menu candidate
  // exists; empty for none.
  std::function<std::string()> shell_programs_folder;
  RecordLocation record{HKEY_CURRENT_USER, "Software\\Talvex", "InstallationDirectory"};
  DWORD stage_pause_ms = 1000;
  // Receives each progress increment (the window sends it to its progress bar).
  std::function<void(int)> progress;
};
InstallerEnvironment& installer_environment();

// 21 with the installation directory in `directory` (kDirectoryBufferSize bytes), or 13
// with an empty `directory` when the installation record can't be made.
int install_files(char* directory);
// 21, or 12 when the installation record can't be read or names no usable installation
// directory (usable_installation_directory); nothing is deleted then.
int uninstall_files();
// Starts Talvex.exe of the installation directory with that directory as its working
// directory; nothing for a null or empty directory or a missing program, and a failure is
// silent. It never runs with the installer's administrator rights: an elevated installer has
// the desktop's shell start it, and does not start it when there is no shell to ask.
void start_capture_program(const char* directory);

// Writes one shell link. `icon` is a bare file name joined to `working_directory` (empty
// for none); `arguments` may be null or empty. When COM can't be initialised on the thread,
// the failure of CoInitialize and nothing written.
HRESULT create_shortcut(const char* target, const char* link, const char* description,
                        const char* working_directory, const char* icon, const char* arguments);

// Deletes the plain files directly in `directory`, except those `keep` names: subdirectories,
// junctions, symbolic links, read-only files and files in use stay, and no link is followed.
// False when the directory can't be entered or is itself a junction or symbolic link; it is
// held open meanwhile, so that it can't be swapped for one while it is emptied.
using KeepFile = bool (*)(std::string_view name);
bool empty_directory(const char* directory, KeepFile keep = nullptr);

// Whether `path` may be filled, emptied and removed: it passes is_installation_directory on
// the installation's drive (installer_environment().drive_root), that drive is a local fixed
// drive, and the path names a real directory that is, like every folder above it, neither a
// junction nor a symbolic link and belongs to an administrator or the system (its owner is
// the Administrators group, LocalSystem, TrustedInstaller, the owner of the system folder, or
// the owner an elevated installer gives its own folders).
bool usable_installation_directory(const std::string& path);

// Registers the compressor installed at `path` with the entries its own DllRegisterServer
// writes (the same table), or removes them; neither loads the file.
HRESULT register_compressor(const std::string& path);
HRESULT unregister_compressor();

// The installation record.
bool installation_record_exists();
// Stores `directory` unless a record exists already (which counts as written); nothing of
// the record remains when storing fails.
bool write_installation_record(const char* directory);
// The recorded directory (at most kMaxPathLength characters); false without a usable record.
bool read_installation_record(FixedText<kPathSize>& directory);

// SearchPathA below `root`: the full path of `name` when it exists.
std::optional<std::string> search_path_probe(const std::string& root, const std::string& name);

}  // namespace talvex::inst
