// The platform half of the portable core, for real: Win32 file replacement, text-mode
// log lines, binary configuration files and the current-directory limit.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/log.h"
#include "app/settings.h"
#include "app/talvex_messages.h"
#include "common/system_calls.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

using testing::read_bytes;
using testing::write_bytes;

TEST(WinSystemCalls, ReplaceFileOverwritesAnExistingFile) {
  testing::ScratchDirectory dir;
  write_bytes("old.txt", "old");
  write_bytes("new.txt", "new");
  EXPECT_TRUE(system_calls().replace_file("new.txt", "old.txt"));
  EXPECT_EQ(read_bytes("old.txt"), "new");
  EXPECT_FALSE(std::filesystem::exists("new.txt"));
}

// Another program holding the file open without sharing: the old file stays whole.
TEST(WinSystemCalls, LockedConfigurationIsNotReplaced) {
  testing::ScratchDirectory dir;
  write_bytes(kConfigFileName, "keep me");
  HANDLE held = ::CreateFileA(kConfigFileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Settings s;
  EXPECT_EQ(write_settings(s), msg::kConfigSaveFailed);
  ::CloseHandle(held);
  EXPECT_EQ(read_bytes(kConfigFileName), "keep me");
  EXPECT_FALSE(std::filesystem::exists("Talvex.cfg.new"));
}

TEST(WinSystemCalls, ConfigurationLineEndIsOneByteAndLogLinesAreCrLf) {
  testing::ScratchDirectory dir;
  Settings s;
  s.video_folder = "C:\\Video Files";
  write_bytes(kConfigFileName, "an older file");
  ASSERT_EQ(write_settings(s), msg::kOk);
  const std::string cfg = read_bytes(kConfigFileName);
  EXPECT_EQ(cfg.find('\r'), std::string::npos);
  EXPECT_EQ(cfg.substr(0, 49), "/* Don't edit by hand. Use Talvex to change. */\n1");

  Log log;
  log.open("Talvex.log");
  log.message(54);
  log.close();
  const std::string text = read_bytes("Talvex.log");
  EXPECT_EQ(text.substr(0, 50), "************************************************\r\n");
  EXPECT_NE(text.find(" OK!\r\n"), std::string::npos);
}

TEST(WinSystemCalls, CurrentDirectoryTooLongForTheLimitIsEmpty) {
  testing::ScratchDirectory dir;
  const std::string deep(120, 'd');
  ASSERT_TRUE(::CreateDirectoryA(deep.c_str(), nullptr));
  ASSERT_TRUE(system_calls().set_current_directory(deep.c_str()));
  EXPECT_EQ(system_calls().current_directory(99), "");
  EXPECT_FALSE(system_calls().current_directory(MAX_PATH).empty());
  Settings s;
  EXPECT_EQ(read_settings(s), msg::kConfigMissing);
  EXPECT_EQ(s.video_folder, ".");
  ASSERT_TRUE(system_calls().set_current_directory(".."));
}

}  // namespace
}  // namespace talvex
