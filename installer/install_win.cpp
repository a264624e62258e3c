#include "installer/install_win.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstring>

#include <vector>

#include "common/com_ptr_win.h"
#include "installer/installer_messages.h"

namespace talvex::inst {
namespace {

std::string shell_common_programs() {
  char path[MAX_PATH] = {};
  if (::SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
    return std::string();
  return path;
}

// Sleeps, then advances the progress indicator by a quarter.
void begin_stage(const InstallerEnvironment& env) {
  ::Sleep(env.stage_pause_ms);
  if (env.progress) env.progress(25);
}

std::optional<ProgramGroupPaths> find_program_group(const InstallerEnvironment& env) {
  const std::string fallback = env.shell_programs_folder ? env.shell_programs_folder() : "";
  const std::optional<std::string> menu =
      start_menu_folder(search_path_probe, fallback, env.drive_root);
  if (!menu) return std::nullopt;
  return program_group_paths(*menu);
}

// The current directory, whatever its length; empty when it can't be read.
std::string current_directory() {
  DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return std::string();
  std::vector<char> buffer(size + 1);
  DWORD n = ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n >= buffer.size()) return std::string();
  return std::string(buffer.data(), n);
}

class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (valid()) ::FindClose(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() {
    if (key_) ::RegCloseKey(key_);
  }
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

InstallerEnvironment& installer_environment() {
  static InstallerEnvironment environment = [] {
    InstallerEnvironment e;
    e.shell_programs_folder = shell_common_programs;
    return e;
  }();
  return environment;
}

std::optional<std::string> search_path_probe(const std::string& root, const std::string& name) {
  char found[kPathSize] = {};
  const DWORD n = ::SearchPathA(root.c_str(), name.c_str(), nullptr, sizeof found, found, nullptr);
  // A result of the buffer's size or more is the size a longer path would need.
  if (n == 0 || n >= sizeof found) return std::nullopt;
  return std::string(found, n);
}

bool empty_directory(const char* directory, KeepFile keep) {
  const std::string saved = current_directory();
  if (!::SetCurrentDirectoryA(directory)) {
    if (!saved.empty()) ::SetCurrentDirectoryA(saved.c_str());
    return false;
  }
  WIN32_FIND_DATAA entry;
  FindHandle find(::FindFirstFileA("*.*", &entry));
  if (find.valid()) {
    do {
      const std::string_view name = entry.cFileName;
      if (name == "." || name == "..") continue;
      if (keep && keep(name)) continue;
      ::DeleteFileA(entry.cFileName);
    } while (::FindNextFileA(find.get(), &entry));
  }
  if (!saved.empty()) ::SetCurrentDirectoryA(saved.c_str());
  return true;
}

bool installation_record_exists() {
  const RecordLocation& r = installer_environment().record;
  return ::RegGetValueA(r.root, r.key.c_str(), r.value.c_str(), RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

bool write_installation_record(const char* directory) {
  if (installation_record_exists()) return true;
  const RecordLocation& r = installer_environment().record;
  RegistryKey key;
  DWORD disposition = 0;
  if (::RegCreateKeyExA(r.root, r.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, key.out(), &disposition) != ERROR_SUCCESS)
    return false;
  const DWORD size = static_cast<DWORD>(std::strlen(directory) + 1);
  if (::RegSetValueExA(key.get(), r.value.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(directory), size) == ERROR_SUCCESS)
    return true;
  // Leave nothing behind: a key made for the record goes again.
  if (disposition == REG_CREATED_NEW_KEY) ::RegDeleteKeyA(r.root, r.key.c_str());
  return false;
}

bool read_installation_record(FixedText<kPathSize>& directory) {
  const RecordLocation& r = installer_environment().record;
  char text[kPathSize] = {};
  DWORD size = sizeof text;
  if (::RegGetValueA(r.root, r.key.c_str(), r.value.c_str(), RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS)
    return false;
  directory = text;
  return true;
}

HRESULT create_shortcut(const char* target, const char* link, const char* description,
                        const char* working_directory, const char* icon, const char* arguments) {
  const HRESULT init = ::CoInitialize(nullptr);
  // S_FALSE: COM was initialised on this thread already; usable, and balanced below.
  if (init != S_OK && init != S_FALSE) return 0;
  HRESULT result = E_FAIL;
  {
    ComPtr<IShellLinkA> shell_link;
    result = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                shell_link.out_void());
    if (SUCCEEDED(result)) {
      shell_link->SetPath(target);
      shell_link->SetDescription(description);
      shell_link->SetWorkingDirectory(working_directory);
      if (icon && icon[0] != '\0') {
        const std::string location = std::string(working_directory) + "\\" + icon;
        shell_link->SetIconLocation(location.c_str(), 0);
      }
      if (arguments && arguments[0] != '\0') shell_link->SetArguments(arguments);
      ComPtr<IPersistFile> persist;
      result = shell_link.as(IID_IPersistFile, persist);
      if (SUCCEEDED(result)) {
        wchar_t wide[MAX_PATH];
        if (::MultiByteToWideChar(CP_ACP, 0, link, -1, wide, MAX_PATH) > 0) {
          result = persist->Save(wide, TRUE);
        } else {
          result = HRESULT_FROM_WIN32(::GetLastError());
        }
      }
    }
  }
  ::CoUninitialize();
  return result;
}

int install_files(char* directory) {
  const InstallerEnvironment& env = installer_environment();
  directory[0] = '\0';

  // 1. The installation directory; a reinstall empties it but keeps the recordings.
  begin_stage(env);
  const std::optional<InstallationPaths> paths =
      installation_paths(base_folder(search_path_probe, env.drive_root));
  if (!paths) return kInstallFailed;
  const std::string& installation = paths->installation_directory;
  ::CreateDirectoryA(paths->product_directory.c_str(), nullptr);
  if (!::CreateDirectoryA(installation.c_str(), nullptr))
    empty_directory(installation.c_str(), is_video_file_name);

  // 2. The program group.
  begin_stage(env);
  const std::optional<ProgramGroupPaths> group = find_program_group(env);
  if (group) {
    ::CreateDirectoryA(group->product_group.c_str(), nullptr);
    if (!::CreateDirectoryA(group->program_group.c_str(), nullptr))
      empty_directory(group->program_group.c_str());
  }

  // 3. The payload and its shortcuts; nothing here stops the installation.
  begin_stage(env);
  for (const PayloadRow& row : kPayload) {
    const std::optional<std::string> installed = join_path(installation, row.installed);
    if (!installed || !::CopyFileA(row.source, installed->c_str(), FALSE)) continue;
    if (!row.link || !group) continue;
    if (const std::optional<std::string> link = join_path(group->program_group, row.link))
      create_shortcut(installed->c_str(), link->c_str(), "", installation.c_str(),
                      row.icon ? row.icon : "", row.arguments);
  }

  // 4. The record.
  begin_stage(env);
  if (!write_installation_record(installation.c_str())) return kInstallFailed;
  std::snprintf(directory, kDirectoryBufferSize, "%s", installation.c_str());
  return kOk;
}

int uninstall_files() {
  const InstallerEnvironment& env = installer_environment();
  if (const std::optional<ProgramGroupPaths> group = find_program_group(env)) {
    empty_directory(group->program_group.c_str());
    ::RemoveDirectoryA(group->program_group.c_str());
  }
  FixedText<kPathSize> recorded;
  // A record that names no installation directory is not followed: emptying "c:\" or a
  // system folder because of a changed registry value must not happen.
  if (!read_installation_record(recorded) || !is_installation_directory(recorded.view()))
    return kNoInstallationDirectory;
  empty_directory(recorded.c_str());
  ::RemoveDirectoryA(recorded.c_str());
  return kOk;
}

void start_capture_program(const char* directory) {
  if (directory == nullptr || directory[0] == '\0') return;
  ::SetCurrentDirectoryA(directory);
  const std::string program = std::string(directory) + "\\" + kCaptureProgram;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (::CreateProcessA(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
}

}  // namespace talvex::inst
