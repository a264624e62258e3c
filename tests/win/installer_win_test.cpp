// The install and uninstall procedures under Wine, on a scratch folder that stands for
// drive C:, with a scratch registry key for the record and without the pauses.
#include "installer/install_win.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <dshow.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "codec/codec_ids.h"
#include "common/com_ptr_win.h"
#include "installer/installer_messages.h"

namespace talvex::inst {
namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void write(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}
std::string current_directory() {
  char text[MAX_PATH] = {};
  ::GetCurrentDirectoryA(MAX_PATH, text);
  return text;
}

constexpr const char* kPackageFiles[] = {"LICENSE.txt", "README.html", "Talvex.000", "Talvex.001",
                                         "Talvex.002",  "Talvex.003",  "Talvex.004", "Talvex.005"};

std::string exe_folder() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\'));
}

// The Unix path under which Wine keeps a file; empty outside Wine.
std::string unix_path(const std::string& windows_path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!to_unix) return {};
  const std::wstring wide(windows_path.begin(), windows_path.end());
  char* path = to_unix(wide.c_str());
  if (!path) return {};
  std::string result = path;
  ::HeapFree(::GetProcessHeap(), 0, path);
  return result;
}

bool is_reparse_point(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A junction from the empty directory `link` to `target` with the platform's own call.
bool make_junction(const std::string& link, const std::string& target) {
  if (!::CreateDirectoryA(link.c_str(), nullptr)) return false;
  HANDLE h = ::CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const std::wstring name = L"\\??\\" + std::wstring(target.begin(), target.end());
  struct {
    DWORD tag;
    WORD data_length, reserved;
    WORD substitute_offset, substitute_length, print_offset, print_length;
    WCHAR path[MAX_PATH + 8];
  } buffer{};
  buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
  buffer.substitute_length = static_cast<WORD>(name.size() * sizeof(WCHAR));
  buffer.print_offset = static_cast<WORD>(buffer.substitute_length + sizeof(WCHAR));
  std::memcpy(buffer.path, name.c_str(), buffer.substitute_length);
  buffer.data_length = static_cast<WORD>(8 + buffer.print_offset + sizeof(WCHAR));
  DWORD returned = 0;
  const BOOL made = ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, &buffer, 8 + buffer.data_length,
                                      nullptr, 0, &returned, nullptr);
  ::CloseHandle(h);
  if (!made) ::RemoveDirectoryA(link.c_str());
  return made && is_reparse_point(link);
}

// Runs a Unix program under Wine, which starts it without waiting for it. False when it
// can't be started (outside Wine).
bool start_unix_program(std::string command) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return false;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

// A link from `link` to the existing `target`: a junction where the platform can make one.
// Wine 8 can't (FSCTL_SET_REPARSE_POINT fails with ERROR_NOT_SUPPORTED, mklink /j fails and
// CreateSymbolicLinkA reports success without making anything); there the closest thing is
// a Unix symbolic link, which Wine reports as a reparse point. How the link was made, or
// empty when no link could be made.
std::string make_link(const std::string& link, const std::string& target) {
  if (make_junction(link, target)) return "junction";
  const std::string unix_link = unix_path(link), unix_target = unix_path(target);
  if (unix_link.empty() || unix_target.empty()) return {};
  if (!start_unix_program("Z:\\bin\\ln -s \"" + unix_target + "\" \"" + unix_link + "\""))
    return {};
  // Wine does not wait for a Unix program it started: look for the link for a while.
  for (int i = 0; i < 100 && !is_reparse_point(link); ++i) ::Sleep(50);
  return is_reparse_point(link) ? "unix symbolic link" : "";
}

// Removes a scratch tree without following the links in it (a tree removal through the
// platform walks into them, and Wine can't remove a Unix link whose target is gone).
void remove_tree(const std::string& folder) {
  const std::string unix_folder = unix_path(folder);
  if (!unix_folder.empty() && start_unix_program("Z:\\bin\\rm -rf \"" + unix_folder + "\"")) {
    for (int i = 0; i < 100 && ::GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
      ::Sleep(50);
    return;
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

// The owner Wine or Windows reports for `path`, as a SID string; empty when it can't be read.
std::string owner_of(const std::string& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::string text;
  if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
    char* sid = nullptr;
    if (owner && ::ConvertSidToStringSidA(owner, &sid)) {
      text = sid;
      ::LocalFree(sid);
    }
  }
  if (descriptor) ::LocalFree(descriptor);
  return text;
}

// Gives `folder` to another Unix user ("nobody"), which Wine then reports as an owner that is
// neither an administrator nor the system. False when that can't be done (not run as root, or
// outside Wine).
bool give_to_another_user(const std::string& folder) {
  const std::string before = owner_of(folder), unix_folder = unix_path(folder);
  if (unix_folder.empty() || !start_unix_program("Z:\\bin\\chown 65534 \"" + unix_folder + "\""))
    return false;
  for (int i = 0; i < 100 && owner_of(folder) == before; ++i) ::Sleep(50);
  return owner_of(folder) != before;
}

std::string guid_text(const GUID& guid) {
  wchar_t wide[64] = {};
  ::StringFromGUID2(guid, wide, 64);
  char text[64] = {};
  ::WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  return text;
}

// The two registry keys a registration of the compressor makes: its class, and its entry in
// the compressor category.
std::string compressor_class_key() { return "CLSID\\" + guid_text(codec::kClsidMjpegCompressor); }
std::string compressor_category_key() {
  return "CLSID\\" + guid_text(CLSID_VideoCompressorCategory) + "\\Instance\\" +
         guid_text(codec::kClsidMjpegCompressor);
}

// Everything below a key: one line per value (key path, name, type, data in hex), sorted;
// empty when the key does not exist.
void dump_key(HKEY parent, const std::string& name, const std::string& path,
              std::vector<std::string>& lines) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  lines.push_back(path + " (key)");
  for (DWORD i = 0;; ++i) {
    char value[256];
    DWORD value_size = sizeof value, type = 0, data_size = 0;
    if (::RegEnumValueA(key, i, value, &value_size, nullptr, &type, nullptr, &data_size) !=
        ERROR_SUCCESS)
      break;
    std::vector<BYTE> data(data_size);
    value_size = sizeof value;
    ::RegEnumValueA(key, i, value, &value_size, nullptr, &type, data.data(), &data_size);
    std::string line = path + " [" + value + "] type " + std::to_string(type) + ":";
    char hex[4];
    for (BYTE b : data) {
      std::snprintf(hex, sizeof hex, " %02x", b);
      line += hex;
    }
    lines.push_back(line);
  }
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    char subkey[256];
    DWORD size = sizeof subkey;
    if (::RegEnumKeyExA(key, i, subkey, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    subkeys.push_back(subkey);
  }
  for (const std::string& subkey : subkeys) dump_key(key, subkey, path + "\\" + subkey, lines);
  ::RegCloseKey(key);
}
std::vector<std::string> compressor_registration() {
  std::vector<std::string> lines;
  dump_key(HKEY_CLASSES_ROOT, compressor_class_key(), "class", lines);
  dump_key(HKEY_CLASSES_ROOT, compressor_category_key(), "category", lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}
void remove_compressor_registration() {
  ::RegDeleteTreeA(HKEY_CLASSES_ROOT, compressor_class_key().c_str());
  ::RegDeleteTreeA(HKEY_CLASSES_ROOT, compressor_category_key().c_str());
}

// The file names directly in a folder, sorted.
std::vector<std::string> listing(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class InstallProcedures : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    // Wine reuses process ids: the time keeps a folder of an earlier run out of this one.
    root_ = std::string(temp) + "ti" + std::to_string(::GetCurrentProcessId()) + "_" +
            std::to_string(::GetTickCount64() % 100000) + "_" + std::to_string(counter_++);
    fs::create_directories(root_ + "\\package");
    fs::create_directories(root_ + "\\program files");
    for (const char* name : kPackageFiles)
      write(root_ + "\\package\\" + name, std::string("contents of ") + name);
    saved_directory_ = current_directory();
    ::SetCurrentDirectoryA((root_ + "\\package").c_str());

    saved_ = installer_environment();
    InstallerEnvironment& env = installer_environment();
    env.drive_root = root_ + "\\";
    env.shell_programs_folder = [this] { return shell_folder_; };
    env.record = {HKEY_CURRENT_USER, "Software\\TalvexTest\\" + fs::path(root_).filename().string(),
                  "InstallationDirectory"};
    env.stage_pause_ms = 0;
    env.progress = [this](int increment) { progress_ += increment; };
  }
  void TearDown() override {
    // Every installation registers the package's compressor: none stays for the other tests.
    remove_compressor_registration();
    ::RegDeleteKeyA(HKEY_CURRENT_USER, installer_environment().record.key.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TalvexTest");  // once it is empty
    installer_environment() = saved_;
    ::SetCurrentDirectoryA(saved_directory_.c_str());
    remove_tree(root_);
  }
  std::string installation() const { return root_ + "\\program files\\Talvex\\Talvex v3"; }
  std::string table_menu() const { return root_ + "\\windows\\start menu\\programs"; }

  int install(std::string& directory) {
    char buffer[kDirectoryBufferSize] = "untouched";
    const int result = install_files(buffer);
    directory = buffer;
    return result;
  }

  static inline int counter_ = 0;
  std::string root_;
  std::string shell_folder_;
  std::string saved_directory_;
  int progress_ = 0;
  InstallerEnvironment saved_;
};

TEST_F(InstallProcedures, InstallsIntoTheFirstBaseFolderWithShortcutsInTheTableFolder) {
  fs::create_directories(table_menu());
  shell_folder_ = root_ + "\\shell programs";  // not used: a table folder exists
  std::string directory;
  EXPECT_EQ(install(directory), kOk);
  EXPECT_EQ(directory, installation());
  EXPECT_EQ(progress_, 100);
  EXPECT_EQ(read(installation() + "\\Talvex.exe"), "contents of Talvex.000");
  EXPECT_EQ(read(installation() + "\\Talvex.ico"), "contents of Talvex.001");
  EXPECT_EQ(read(installation() + "\\Talvex.cfg"), "contents of Talvex.002");
  EXPECT_EQ(read(installation() + "\\Talvex_insp.exe"), "contents of Talvex.003");
  EXPECT_EQ(read(installation() + "\\Talvex_inst.exe"), "contents of Talvex.004");
  const std::string group = table_menu() + "\\Talvex\\Talvex v3";
  for (const char* link : {"ReadMe.lnk", "Talvex.lnk", "Inspector.lnk", "Uninstall.lnk"})
    EXPECT_TRUE(fs::exists(group + "\\" + link)) << link;
  EXPECT_FALSE(fs::exists(shell_folder_));
  EXPECT_TRUE(installation_record_exists());

  // The uninstall finds the same folders; the record and the folders above stay.
  EXPECT_EQ(uninstall_files(), kOk);
  EXPECT_FALSE(fs::exists(group));
  EXPECT_TRUE(fs::exists(table_menu() + "\\Talvex"));
  EXPECT_FALSE(fs::exists(installation()));
  EXPECT_TRUE(fs::exists(root_ + "\\program files\\Talvex"));
  EXPECT_TRUE(installation_record_exists());
  EXPECT_EQ(uninstall_files(), kOk);  // a second time finds nothing to delete
}

TEST_F(InstallProcedures, WithoutAnyStartMenuFolderThereAreNoShortcuts) {
  fs::remove(root_ + "\\program files");
  std::string directory;
  EXPECT_EQ(install(directory), kOk);
  EXPECT_EQ(directory, root_ + "\\Talvex\\Talvex v3");  // the bare drive
  EXPECT_TRUE(fs::exists(directory + "\\Talvex.exe"));
  EXPECT_FALSE(fs::exists(root_ + "\\windows"));
  EXPECT_EQ(uninstall_files(), kOk);
  EXPECT_FALSE(fs::exists(directory));
}

TEST_F(InstallProcedures, AMissingPayloadFileLeavesOutItsFileAndShortcut) {
  shell_folder_ = root_ + "\\shell programs";
  fs::create_directories(shell_folder_);
  fs::remove(root_ + "\\package\\Talvex.000");
  std::string directory;
  EXPECT_EQ(install(directory), kOk);
  EXPECT_FALSE(fs::exists(installation() + "\\Talvex.exe"));
  const std::string group = shell_folder_ + "\\Talvex\\Talvex v3";
  EXPECT_FALSE(fs::exists(group + "\\Talvex.lnk"));
  EXPECT_TRUE(fs::exists(group + "\\Uninstall.lnk"));
  start_capture_program(directory.c_str());  // fails silently
  EXPECT_EQ(current_directory(), installation());
}

TEST_F(InstallProcedures, TheFirstRecordStaysAndTheUninstallFollowsIt) {
  const std::string earlier = root_ + "\\earlier\\Talvex\\Talvex v3";
  fs::create_directories(earlier);
  write(earlier + "\\Talvex.exe", "old");
  ASSERT_TRUE(write_installation_record(earlier.c_str()));
  std::string directory;
  EXPECT_EQ(install(directory), kOk);
  EXPECT_EQ(directory, installation());  // reports its own directory
  FixedText<kPathSize> recorded;
  ASSERT_TRUE(read_installation_record(recorded));
  EXPECT_EQ(recorded.str(), earlier);
  EXPECT_EQ(uninstall_files(), kOk);
  EXPECT_FALSE(fs::exists(earlier));
  EXPECT_TRUE(fs::exists(installation() + "\\Talvex.exe"));
}

TEST_F(InstallProcedures, ARecordThatNamesNoInstallationDirectoryIsNotFollowed) {
  const std::string victim = root_ + "\\documents";
  fs::create_directories(victim);
  write(victim + "\\letter.txt", "keep me");
  ASSERT_TRUE(write_installation_record(victim.c_str()));
  EXPECT_EQ(uninstall_files(), kNoInstallationDirectory);
  EXPECT_EQ(read(victim + "\\letter.txt"), "keep me");
}

TEST_F(InstallProcedures, NoRecordGives012AfterTheGroupIsGone) {
  shell_folder_ = root_ + "\\shell programs";
  const std::string group = shell_folder_ + "\\Talvex\\Talvex v3";
  fs::create_directories(group);
  write(group + "\\Talvex.lnk", "old");
  EXPECT_EQ(uninstall_files(), kNoInstallationDirectory);
  EXPECT_FALSE(fs::exists(group));
}

TEST_F(InstallProcedures, ARecordThatCantBeMadeGives013AndAnEmptyDirectory) {
  installer_environment().record.key = "Software\\TalvexTest\\" + std::string(300, 'k');
  std::string directory;
  EXPECT_EQ(install(directory), kInstallFailed);
  EXPECT_EQ(directory, "");
  EXPECT_TRUE(fs::exists(installation() + "\\Talvex.exe"));  // nothing is rolled back
  EXPECT_FALSE(installation_record_exists());
}

TEST_F(InstallProcedures, EmptyDirectoryKeepsWhatItMustAndTheCurrentDirectory) {
  const std::string dir = root_ + "\\full";
  fs::create_directories(dir + "\\sub");
  write(dir + "\\a.txt", "a");
  write(dir + "\\Talvex_Camera_2006-12-25_07-05-03_2006-12-25_07-05-33.avi", "video");
  write(dir + "\\readonly.txt", "r");
  ::SetFileAttributesA((dir + "\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::string before = current_directory();
  EXPECT_TRUE(empty_directory(
      dir.c_str(), [](std::string_view name) { return name.substr(0, 14) == "Talvex_Camera_"; }));
  EXPECT_EQ(current_directory(), before);
  EXPECT_FALSE(fs::exists(dir + "\\a.txt"));
  EXPECT_TRUE(fs::exists(dir + "\\Talvex_Camera_2006-12-25_07-05-03_2006-12-25_07-05-33.avi"));
  EXPECT_TRUE(fs::exists(dir + "\\readonly.txt"));
  EXPECT_TRUE(fs::exists(dir + "\\sub"));
  EXPECT_TRUE(empty_directory(dir.c_str()));
  EXPECT_FALSE(fs::exists(dir + "\\Talvex_Camera_2006-12-25_07-05-03_2006-12-25_07-05-33.avi"));
  ::SetFileAttributesA((dir + "\\readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

  EXPECT_FALSE(empty_directory((root_ + "\\missing").c_str()));
  EXPECT_EQ(current_directory(), before);
}

// Every record that does not name a real installation directory on the installation's drive
// gives 012, and nothing anywhere is deleted: not the folder it names, not the one a link
// leads to. The installer runs elevated and the record is the user's to change.
TEST_F(InstallProcedures, RecordsThatNameNoRealInstallationDirectoryDeleteNothing) {
  const std::string victim = root_ + "\\victim";
  fs::create_directories(victim + "\\Talvex v3");
  write(victim + "\\letter.txt", "keep me");
  write(victim + "\\Talvex v3\\letter.txt", "keep me too");
  // The report's case: a relative record, resolved against the installer's own folder.
  fs::create_directories(root_ + "\\package\\x\\Talvex\\Talvex v3");
  write(root_ + "\\package\\x\\Talvex\\Talvex v3\\letter.txt", "keep me");
  // A real directory with the right ending, named in ways that must not be followed.
  const std::string real = installation();
  fs::create_directories(real);
  write(real + "\\letter.txt", "keep me");
  // The same ending as a file.
  fs::create_directories(root_ + "\\file\\Talvex");
  write(root_ + "\\file\\Talvex\\Talvex v3", "a file");
  // Links: the directory itself, and a folder above it.
  fs::create_directories(root_ + "\\linked\\Talvex");
  fs::create_directories(root_ + "\\up");
  const std::string how = make_link(root_ + "\\linked\\Talvex\\Talvex v3", victim);
  const std::string how_above = make_link(root_ + "\\up\\Talvex", victim);
  std::printf("links made as: %s, %s\n", how.c_str(), how_above.c_str());
  // Another fixed drive, where the platform has one with a scratch place (Wine's Z:).
  std::string other_drive;
  if (::GetDriveTypeA("Z:\\") == DRIVE_FIXED && fs::is_directory("Z:\\tmp")) {
    other_drive = "Z:\\tmp\\" + fs::path(root_).filename().string() + "\\Talvex\\Talvex v3";
    fs::create_directories(other_drive);
    write(other_drive + "\\letter.txt", "keep me");
  }

  struct Case {
    const char* what;
    std::string record;
    std::string kept;  // a file that must stay
  };
  std::vector<Case> cases = {
      {"relative", "x\\Talvex\\Talvex v3", root_ + "\\package\\x\\Talvex\\Talvex v3\\letter.txt"},
      {"UNC", "\\\\127.0.0.1\\c$" + real.substr(2), real + "\\letter.txt"},
      {"device path", "\\\\?\\" + real, real + "\\letter.txt"},
      {"wrong ending", victim, victim + "\\letter.txt"},
      {"wrong ending, walking up", real + "\\..\\..\\..\\victim", victim + "\\letter.txt"},
      {"a file", root_ + "\\file\\Talvex\\Talvex v3", root_ + "\\file\\Talvex\\Talvex v3"},
  };
  if (!how.empty())
    cases.push_back({"junction", root_ + "\\linked\\Talvex\\Talvex v3", victim + "\\letter.txt"});
  if (!how_above.empty())
    cases.push_back(
        {"link above", root_ + "\\up\\Talvex\\Talvex v3", victim + "\\Talvex v3\\letter.txt"});
  if (!other_drive.empty())
    cases.push_back({"other drive", other_drive, other_drive + "\\letter.txt"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, installer_environment().record.key.c_str());
    ASSERT_TRUE(write_installation_record(c.record.c_str()));
    EXPECT_EQ(uninstall_files(), kNoInstallationDirectory) << c.record;
    EXPECT_TRUE(fs::exists(c.kept)) << c.kept;
    EXPECT_EQ(read(victim + "\\letter.txt"), "keep me");
    EXPECT_EQ(read(victim + "\\Talvex v3\\letter.txt"), "keep me too");
    EXPECT_EQ(read(real + "\\letter.txt"), "keep me");
  }
  EXPECT_FALSE(how.empty()) << "no link could be made: the junction case did not run";
  if (!other_drive.empty()) remove_tree(fs::path(other_drive).parent_path().parent_path().string());
  // The same directory, recorded as it is, is emptied.
  ::RegDeleteKeyA(HKEY_CURRENT_USER, installer_environment().record.key.c_str());
  ASSERT_TRUE(write_installation_record(real.c_str()));
  EXPECT_EQ(uninstall_files(), kOk);
  EXPECT_FALSE(fs::exists(real));
}

// A reinstall over a directory that is a link leaves it and what it leads to alone.
TEST_F(InstallProcedures, AnInstallationDirectoryThatIsALinkIsNeitherEmptiedNorFilled) {
  const std::string victim = root_ + "\\victim";
  fs::create_directories(victim);
  write(victim + "\\letter.txt", "keep me");
  write(victim + "\\README.html", "mine");
  fs::create_directories(root_ + "\\program files\\Talvex");
  ASSERT_NE(make_link(installation(), victim), "");
  std::string directory;
  EXPECT_EQ(install(directory), kNoInstallationDirectory);
  EXPECT_EQ(directory, "");
  EXPECT_EQ(listing(victim), (std::vector<std::string>{"README.html", "letter.txt"}));
  EXPECT_EQ(read(victim + "\\README.html"), "mine");
  EXPECT_FALSE(installation_record_exists());
}

// A reinstall keeps what the programs made for the user, and the user's own files; it
// replaces the installation's files and drops the working files made anew at each start.
TEST_F(InstallProcedures, AReinstallKeepsEveryRecordingPhotosTheLogAndTheUsersFiles) {
  std::string directory;
  ASSERT_EQ(install(directory), kOk);
  const std::vector<std::string> kept = {
      "Talvex_Camera_2026-03-14_07-05-03_2026-03-14_07-05-33.avi",
      "Talvex_Camera_2026-03-14_07-05-03_2026-03-14_07-05-33_2.avi",
      "Talvex_unrecovered_2026-03-14_08-00-00.avi",
      "Talvex_tmp.avi",
      "Talvex_tmp.dsc",
      "2026-03-14_07-05-10.bmp",
      "Talvex.log",
      "Talvex_mask.bmp",
      "notes.txt"};
  for (const std::string& name : kept) write(directory + "\\" + name, "the user's " + name);
  for (const char* name : {"Talvex_0.bmp", "Talvex_1.bmp", "Talvex.jpg", "Talvex_insp.avi"})
    write(directory + "\\" + name, "stale");
  write(directory + "\\Talvex.cfg", "changed settings");
  write(root_ + "\\package\\Talvex.002", "new default settings");
  ASSERT_EQ(install(directory), kOk);
  for (const std::string& name : kept)
    EXPECT_EQ(read(directory + "\\" + name), "the user's " + name) << name;
  EXPECT_EQ(read(directory + "\\Talvex.cfg"), "new default settings");
  for (const char* name : {"Talvex_0.bmp", "Talvex_1.bmp", "Talvex.jpg", "Talvex_insp.avi"})
    EXPECT_FALSE(fs::exists(directory + "\\" + name)) << name;
}

// Emptying deletes plain files only: a link inside is neither deleted nor looked into, and a
// directory that is itself a link is not entered.
TEST_F(InstallProcedures, EmptyingNeverFollowsALink) {
  const std::string victim = root_ + "\\victim", dir = root_ + "\\dir";
  fs::create_directories(victim);
  fs::create_directories(dir);
  write(victim + "\\letter.txt", "keep me");
  write(dir + "\\plain.txt", "plain");
  const std::string how = make_link(dir + "\\inner", victim);
  ASSERT_NE(how, "");
  const std::string before = current_directory();
  EXPECT_TRUE(empty_directory(dir.c_str()));
  EXPECT_FALSE(fs::exists(dir + "\\plain.txt"));
  EXPECT_TRUE(is_reparse_point(dir + "\\inner")) << how;
  EXPECT_EQ(read(victim + "\\letter.txt"), "keep me");
  EXPECT_FALSE(empty_directory((dir + "\\inner").c_str()));
  EXPECT_EQ(read(victim + "\\letter.txt"), "keep me");
  EXPECT_EQ(current_directory(), before);
}

// The compressor of the package is registered where it was installed, with exactly what its
// own DllRegisterServer writes, and the uninstall removes that registration before its file
// goes. What each writes is compared key by key, value by value.
TEST_F(InstallProcedures, TheCompressorIsRegisteredAsItsOwnRegistrationWouldAndRemovedAgain) {
  ASSERT_EQ(compressor_registration(), std::vector<std::string>{})
      << "the compressor is registered already";
  ASSERT_TRUE(::CopyFileA((exe_folder() + "\\talvex_codec.dll").c_str(),
                          (root_ + "\\package\\Talvex.005").c_str(), FALSE));
  std::string directory;
  ASSERT_EQ(install(directory), kOk);
  const std::vector<std::string> by_installer = compressor_registration();
  ASSERT_FALSE(by_installer.empty());
  char server[MAX_PATH] = {};
  LONG size = sizeof server;
  ::RegQueryValueA(HKEY_CLASSES_ROOT, (compressor_class_key() + "\\InprocServer32").c_str(), server,
                   &size);
  EXPECT_EQ(std::string(server), directory + "\\talvex_codec.dll");

  // The compressor's own registration, from the installed file: it removes all the installer
  // wrote, and writes it back the same.
  HMODULE codec = ::LoadLibraryA((directory + "\\talvex_codec.dll").c_str());
  ASSERT_NE(codec, nullptr);
  using Entry = HRESULT(STDAPICALLTYPE*)();
  const auto own = [&](const char* name) {
    const auto entry =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(codec, name)));
    return entry ? entry() : E_FAIL;
  };
  EXPECT_EQ(own("DllUnregisterServer"), S_OK);
  EXPECT_EQ(compressor_registration(), std::vector<std::string>{});
  EXPECT_EQ(own("DllRegisterServer"), S_OK);
  EXPECT_EQ(compressor_registration(), by_installer);
  ::FreeLibrary(codec);

  // The uninstall removes what the compressor's own registration wrote.
  EXPECT_EQ(uninstall_files(), kOk);
  EXPECT_EQ(compressor_registration(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(directory));
}

// Folders that a normal user made are not the installer's to fill, empty or remove, even with
// the right names: a base folder owned by someone else is passed over, an installation folder
// below a product folder owned by someone else is not filled, and a recorded installation
// directory owned by someone else is not emptied. Wine reports a folder of another Unix user
// as owned by someone who is neither an administrator nor the system.
TEST_F(InstallProcedures, FoldersNoAdministratorOwnsAreNeitherFilledNorEmptied) {
  const std::string arquivos = root_ + "\\arquivos de programas";
  fs::create_directories(arquivos);
  if (!give_to_another_user(arquivos)) GTEST_SKIP() << "no folder can be given to another user";
  std::printf("another user's folder is owned by %s, ours by %s\n", owner_of(arquivos).c_str(),
              owner_of(root_).c_str());
  std::string directory;
  EXPECT_EQ(install(directory), kOk);
  EXPECT_EQ(directory, installation());
  EXPECT_EQ(listing(arquivos), std::vector<std::string>{});

  // An installation folder below another user's product folder.
  EXPECT_EQ(uninstall_files(), kOk);
  ::RegDeleteKeyA(HKEY_CURRENT_USER, installer_environment().record.key.c_str());
  const std::string product = root_ + "\\program files\\Talvex";
  fs::create_directories(product);
  ASSERT_TRUE(give_to_another_user(product));
  EXPECT_EQ(install(directory), kNoInstallationDirectory);
  EXPECT_EQ(directory, "");
  EXPECT_EQ(listing(product), std::vector<std::string>{});
  EXPECT_FALSE(installation_record_exists());

  // A recorded installation directory that another user owns.
  const std::string theirs = root_ + "\\theirs\\Talvex\\Talvex v3";
  fs::create_directories(theirs);
  write(theirs + "\\talvex_codec.dll", "theirs");
  write(theirs + "\\letter.txt", "keep me");
  ASSERT_TRUE(give_to_another_user(theirs));
  ::RegDeleteKeyA(HKEY_CURRENT_USER, installer_environment().record.key.c_str());
  ASSERT_TRUE(write_installation_record(theirs.c_str()));
  EXPECT_EQ(uninstall_files(), kNoInstallationDirectory);
  EXPECT_EQ(listing(theirs), (std::vector<std::string>{"letter.txt", "talvex_codec.dll"}));
}

// The installer runs with administrator rights, and the folder it installs into, or the one
// a changed record names, may be one that a normal user prepared: neither the installation
// nor the uninstall loads the compressor it finds there. The package's compressor here is a
// planted DLL that notes every load.
TEST_F(InstallProcedures, NeitherTheInstallationNorTheUninstallLoadsTheCompressor) {
  const std::string marker = root_ + "\\planted_loads.txt";
  ::SetEnvironmentVariableA("TALVEX_PLANTED_MARKER", marker.c_str());
  const std::string planted = exe_folder() + "\\talvex_planted.dll";
  // The planted DLL does note a load.
  HMODULE module = ::LoadLibraryA(planted.c_str());
  ASSERT_NE(module, nullptr);
  ::FreeLibrary(module);
  ASSERT_TRUE(fs::exists(marker));
  fs::remove(marker);

  ASSERT_TRUE(::CopyFileA(planted.c_str(), (root_ + "\\package\\Talvex.005").c_str(), FALSE));
  std::string directory;
  EXPECT_EQ(install(directory), kOk);
  EXPECT_EQ(read(directory + "\\talvex_codec.dll"), read(planted));
  EXPECT_FALSE(fs::exists(marker)) << "the installation loaded the installed compressor";
  EXPECT_EQ(uninstall_files(), kOk);
  EXPECT_FALSE(fs::exists(marker)) << "the uninstall loaded the installed compressor";
  EXPECT_FALSE(fs::exists(directory));
  ::SetEnvironmentVariableA("TALVEX_PLANTED_MARKER", nullptr);
}

// CoInitialize fails on a thread already in the multithreaded apartment: the failure comes
// back, no link is written, and the thread's COM stays as it was.
TEST_F(InstallProcedures, AShortcutWithoutComReturnsTheFailure) {
  const std::string link = root_ + "\\Talvex.lnk";
  HRESULT result = S_OK, after = S_OK;
  std::thread([&] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    result =
        create_shortcut("c:\\windows\\notepad.exe", link.c_str(), "", root_.c_str(), "", nullptr);
    after = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // still initialised: S_FALSE
    ::CoUninitialize();
    ::CoUninitialize();
  }).join();
  EXPECT_EQ(result, RPC_E_CHANGED_MODE);
  EXPECT_EQ(after, S_FALSE);
  EXPECT_FALSE(fs::exists(link));
  // On a thread of its own it writes the link.
  std::thread([&] {
    result =
        create_shortcut("c:\\windows\\notepad.exe", link.c_str(), "", root_.c_str(), "", nullptr);
  }).join();
  EXPECT_TRUE(SUCCEEDED(result));
  EXPECT_TRUE(fs::exists(link));
}

}  // namespace
}  // namespace talvex::inst
