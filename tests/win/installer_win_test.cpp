// The install and uninstall procedures under Wine, on a scratch folder that stands for
// drive C:, with a scratch registry key for the record and without the pauses.
#include "installer/install_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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
                                         "Talvex.002",  "Talvex.003",  "Talvex.004"};

class InstallProcedures : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    root_ = std::string(temp) + "ti" + std::to_string(::GetCurrentProcessId()) + "_" +
            std::to_string(counter_++);
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
    ::RegDeleteKeyA(HKEY_CURRENT_USER, installer_environment().record.key.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TalvexTest");  // once it is empty
    installer_environment() = saved_;
    ::SetCurrentDirectoryA(saved_directory_.c_str());
    std::error_code ignored;
    fs::remove_all(root_, ignored);
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
  EXPECT_TRUE(empty_directory(dir.c_str(), is_video_file_name));
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

}  // namespace
}  // namespace talvex::inst
