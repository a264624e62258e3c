#include "installer/install_win.h"

#include <aclapi.h>
#include <exdisp.h>
#include <sddl.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstring>

#include <vector>

#include "codec/codec_registration_win.h"
#include "common/com_ptr_win.h"
#include "common/find_handle_win.h"
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

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) ::CloseHandle(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// What an emptying never deletes or follows.
constexpr DWORD kNotPlainFile =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

// The directory itself (a junction or symbolic link as such, not what it points to).
HANDLE open_directory(const char* path, DWORD share_delete) {
  return ::CreateFileA(path, FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | share_delete, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A directory that is neither a junction nor a symbolic link, asked both by name and by
// handle (Wine reports a link seen through a Unix symbolic link only by name).
bool is_plain_directory(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  const Handle directory(open_directory(path, FILE_SHARE_DELETE));
  BY_HANDLE_FILE_INFORMATION info;
  return directory.valid() && ::GetFileInformationByHandle(directory.get(), &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether `path` opens the same directory as `held`.
bool same_directory(HANDLE held, const char* path) {
  const Handle other(open_directory(path, FILE_SHARE_DELETE));
  BY_HANDLE_FILE_INFORMATION a, b;
  return other.valid() && ::GetFileInformationByHandle(held, &a) &&
         ::GetFileInformationByHandle(other.get(), &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Memory the security functions hand out with LocalAlloc.
template <typename T>
class LocalMemory {
 public:
  LocalMemory() = default;
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  ~LocalMemory() {
    if (memory_) ::LocalFree(memory_);
  }
  T* get() const { return memory_; }
  T** out() { return &memory_; }

 private:
  T* memory_ = nullptr;
};

// The owner the platform reports for `path`, as a SID string; empty when it can't be read.
std::string owner_of(const std::string& path) {
  PSID owner = nullptr;
  LocalMemory<void> descriptor;
  if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, descriptor.out()) != ERROR_SUCCESS ||
      owner == nullptr)
    return std::string();
  LocalMemory<char> text;
  if (!::ConvertSidToStringSidA(owner, text.out())) return std::string();
  return text.get();
}

// Whether this process runs with administrator rights that a normal start would not give it.
// Where the platform can't tell, it counts as elevated.
bool process_is_elevated() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
  const Handle held(token);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
    return true;
  return elevation.TokenIsElevated != 0;
}

// The owner this process gives what it creates, as a SID string; empty when it can't be read.
std::string default_owner() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
  const Handle held(token);
  DWORD size = 0;
  ::GetTokenInformation(token, TokenOwner, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  LocalMemory<char> text;
  if (size == 0 || !::GetTokenInformation(token, TokenOwner, buffer.data(), size, &size) ||
      !::ConvertSidToStringSidA(reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner, text.out()))
    return std::string();
  return text.get();
}

// Whether `path` belongs to an administrator or the system: its owner is the Administrators
// group, LocalSystem, TrustedInstaller, whoever owns the system's own folder, or the owner
// this elevated process gives its own folders (the Administrators group, unless a policy
// makes it the administrator himself; then his unelevated programs own his installations
// anyway). Wine reports the Unix user as the owner of every file of the user's, the system's
// folder included, and another Unix user's files as owned by someone else: only those fail
// there. The installer runs with administrator rights and copies into, empties and removes
// the folders it checks; one that a normal user made is that user's to fill with links or
// code.
bool owned_by_system(const std::string& path) {
  static const char* const kSystemOwners[] = {
      "S-1-5-32-544",                                                    // BUILTIN\Administrators
      "S-1-5-18",                                                        // NT AUTHORITY\SYSTEM
      "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
  };
  const std::string owner = owner_of(path);
  if (owner.empty()) return false;
  for (const char* system : kSystemOwners) {
    if (owner == system) return true;
  }
  char system_folder[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryA(system_folder, MAX_PATH);
  if (n > 0 && n < MAX_PATH && owner == owner_of(system_folder)) return true;
  return process_is_elevated() && owner == default_owner();
}

// SearchPathA below `root`, for a folder the installer may install into: a real directory
// (no junction or symbolic link) that belongs to an administrator or the system.
std::optional<std::string> system_folder_probe(const std::string& root, const std::string& name) {
  std::optional<std::string> found = search_path_probe(root, name);
  if (found && (!is_plain_directory(found->c_str()) || !owned_by_system(*found)))
    return std::nullopt;
  return found;
}

std::wstring wide(const std::string& text) {
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring result(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, result.data(), n);
  result.resize(static_cast<std::size_t>(n - 1));
  return result;
}

// A VARIANT that clears itself.
class Variant {
 public:
  Variant() { ::VariantInit(&v_); }
  explicit Variant(int number) : Variant() {
    v_.vt = VT_I4;
    v_.lVal = number;
  }
  explicit Variant(const std::wstring& text) : Variant() {
    v_.bstrVal = ::SysAllocString(text.c_str());
    if (v_.bstrVal) v_.vt = VT_BSTR;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { ::VariantClear(&v_); }
  VARIANT* get() { return &v_; }
  bool is_text() const { return v_.vt == VT_BSTR; }

 private:
  VARIANT v_;
};

// COM for as long as it lives; a failure to initialise is kept and never uninitialised.
class ComApartment {
 public:
  ComApartment() : hr_(::CoInitialize(nullptr)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  bool ready() const { return SUCCEEDED(hr_); }

 private:
  HRESULT hr_;
};

// The shell object of the desktop's own shell process: the desktop window that the running
// shell registered, its view, and the view's Shell.Application. Empty without a desktop shell.
ComPtr<IShellDispatch2> desktop_shell() {
  ComPtr<IShellWindows> windows;
  if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.out_void())))
    return nullptr;
  Variant desktop_location(CSIDL_DESKTOP), no_root;
  long window = 0;
  ComPtr<IDispatch> desktop;
  if (windows->FindWindowSW(desktop_location.get(), no_root.get(), SWC_DESKTOP, &window,
                            SWFO_NEEDDISPATCH, &desktop) != S_OK ||
      !desktop)
    return nullptr;
  ComPtr<IServiceProvider> services;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IDispatch> background;
  ComPtr<IShellFolderViewDual> folder_view;
  ComPtr<IDispatch> application;
  ComPtr<IShellDispatch2> shell;
  if (FAILED(desktop.as(IID_IServiceProvider, services)) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.out_void())) ||
      !browser || FAILED(browser->QueryActiveShellView(&view)) || !view ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.out_void())) ||
      !background || FAILED(background.as(IID_IShellFolderViewDual, folder_view)) ||
      FAILED(folder_view->get_Application(&application)) || !application ||
      FAILED(application.as(IID_IShellDispatch2, shell)))
    return nullptr;
  return shell;
}

// Has the desktop's shell start `program` in `directory`. The shell's process starts it, so
// it runs with the shell's rights (the user's own) whatever rights the installer has. False
// when there is no desktop shell to ask or it refused.
bool start_through_shell(const std::string& program, const std::string& directory) {
  const ComApartment com;
  if (!com.ready()) return false;
  const ComPtr<IShellDispatch2> shell = desktop_shell();
  if (!shell) return false;
  Variant file{wide(program)}, no_arguments{std::wstring()}, folder{wide(directory)},
      operation{std::wstring(L"open")}, show{SW_SHOWNORMAL};
  if (!file.is_text() || !folder.is_text() || !operation.is_text() || !no_arguments.is_text())
    return false;
  return SUCCEEDED(shell->ShellExecute(file.get()->bstrVal, *no_arguments.get(), *folder.get(),
                                       *operation.get(), *show.get()));
}

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
  // The directory itself must be a real one. It stays open without delete sharing until it
  // has been emptied, so that it can be neither renamed nor replaced by a link meanwhile.
  if (!is_plain_directory(directory)) return false;
  const Handle pinned(open_directory(directory, 0));
  if (!pinned.valid()) return false;
  const std::string saved = current_directory();
  if (!::SetCurrentDirectoryA(directory) || !same_directory(pinned.get(), ".")) {
    if (!saved.empty()) ::SetCurrentDirectoryA(saved.c_str());
    return false;
  }
  WIN32_FIND_DATAA entry;
  FindHandle find(::FindFirstFileA("*.*", &entry));
  if (find.valid()) {
    do {
      const std::string_view name = entry.cFileName;
      if (name == "." || name == "..") continue;
      // Plain files only: a folder, junction or symbolic link stays, and is not looked into.
      if (entry.dwFileAttributes & kNotPlainFile) continue;
      if (keep && keep(name)) continue;
      ::DeleteFileA(entry.cFileName);
    } while (::FindNextFileA(find.get(), &entry));
  }
  if (!saved.empty()) ::SetCurrentDirectoryA(saved.c_str());
  return true;
}

bool usable_installation_directory(const std::string& path) {
  const InstallerEnvironment& env = installer_environment();
  if (!is_installation_directory(path, env.drive_root)) return false;
  const std::string drive = path.substr(0, 3);
  if (::GetDriveTypeA(drive.c_str()) != DRIVE_FIXED) return false;
  // Every folder from the drive down to the directory itself.
  for (std::size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
    const std::string folder = path.substr(0, at);
    if (!is_plain_directory(folder.c_str()) || !owned_by_system(folder)) return false;
    if (at == std::string::npos) return true;
  }
}

HRESULT register_compressor(const std::string& path) {
  return dshow::register_filter(codec::kMjpegCompressorRegistration, wide(path));
}

HRESULT unregister_compressor() {
  return dshow::unregister_filter(codec::kMjpegCompressorRegistration);
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
  // S_FALSE: COM was initialised on this thread already; usable, and balanced below. A
  // failure (another apartment model on this thread) is returned and never uninitialised.
  if (FAILED(init)) return init;
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

  // 1. The installation directory; a reinstall empties it but keeps the recordings. A base
  // folder counts only when it is a real one that belongs to an administrator or the system.
  begin_stage(env);
  const std::optional<InstallationPaths> paths =
      installation_paths(base_folder(system_folder_probe, env.drive_root));
  if (!paths) return kInstallFailed;
  const std::string& installation = paths->installation_directory;
  ::CreateDirectoryA(paths->product_directory.c_str(), nullptr);
  const bool made = ::CreateDirectoryA(installation.c_str(), nullptr);
  // The directory, new or there before, is filled (and emptied) only when it and every folder
  // above it are real ones that belong to an administrator or the system: a link put there
  // would turn both against whatever it points to, and a folder a normal user made is theirs
  // to fill.
  if (!usable_installation_directory(installation)) {
    if (made) ::RemoveDirectoryA(installation.c_str());
    return kNoInstallationDirectory;
  }
  // Only what the installation puts there goes; what the programs made for the user stays.
  if (!made)
    empty_directory(installation.c_str(),
                    [](std::string_view name) { return !is_replaced_on_reinstall(name); });

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
  std::vector<std::string> compressors;
  for (const PayloadRow& row : kPayload) {
    const std::optional<std::string> installed = join_path(installation, row.installed);
    if (!installed || !::CopyFileA(row.source, installed->c_str(), FALSE)) continue;
    if (row.com_server) compressors.push_back(*installed);
    if (!row.link || !group) continue;
    if (const std::optional<std::string> link = join_path(group->program_group, row.link))
      create_shortcut(installed->c_str(), link->c_str(), "", installation.c_str(),
                      row.icon ? row.icon : "", row.arguments);
  }
  // The copied compressor is registered where it now is, from its own registration table and
  // without being loaded; like a failed copy, a failed registration does not stop the
  // installation.
  for (const std::string& compressor : compressors) register_compressor(compressor);

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
  // The record can be changed by anyone running as the user, and the uninstall runs with
  // administrator rights: a record that names no real installation directory on the
  // installation's drive is not followed, and nothing is deleted.
  if (!read_installation_record(recorded) ||
      !is_installation_directory(recorded.view(), env.drive_root))
    return kNoInstallationDirectory;
  // Uninstalled before: nothing there to delete.
  if (::GetFileAttributesA(recorded.c_str()) == INVALID_FILE_ATTRIBUTES &&
      (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND))
    return kOk;
  if (!usable_installation_directory(recorded.str())) return kNoInstallationDirectory;
  // The compressor leaves the system before its file goes; its registration is removed
  // without the file being loaded.
  for (const PayloadRow& row : kPayload) {
    if (!row.com_server) continue;
    const std::optional<std::string> installed = join_path(recorded.view(), row.installed);
    if (installed && ::GetFileAttributesA(installed->c_str()) != INVALID_FILE_ATTRIBUTES)
      unregister_compressor();
  }
  empty_directory(recorded.c_str());
  ::RemoveDirectoryA(recorded.c_str());
  return kOk;
}

void start_capture_program(const char* directory) {
  if (directory == nullptr || directory[0] == '\0') return;
  ::SetCurrentDirectoryA(directory);
  const std::string program = std::string(directory) + "\\" + kCaptureProgram;
  // The shell would report a missing program in a box of its own; it fails silently here.
  if (::GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  // The capture program serves the network: it never runs with the installer's administrator
  // rights. When the installer has them, the desktop's shell starts it with the user's own;
  // without a desktop shell to ask, it is not started (the user starts it from its shortcut).
  if (process_is_elevated()) {
    start_through_shell(program, directory);
    return;
  }
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
