// The installer's plain logic: folder choices, composed paths, the payload, recording
// names, the agreement reader and the catalogue.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "common/message_catalogue.h"
#include "installer/agreement.h"
#include "installer/install_tables.h"
#include "installer/installer_messages.h"
#include "tests/core/test_support.h"

namespace talvex::inst {
namespace {

// Answers like SearchPathA over a set of existing names below "c:\".
PathProbe probe_over(std::set<std::string> existing) {
  return [existing](const std::string& root, const std::string& name) {
    return existing.count(name) ? std::optional<std::string>(root + name) : std::nullopt;
  };
}

TEST(InstallTables, BaseFolderIsTheFirstExistingCandidateOrTheBareDrive) {
  struct Case {
    std::set<std::string> existing;
    const char* base;
    const char* installation;
  } cases[] = {
      {{"arquivos de programas", "program files"},
       "c:\\arquivos de programas",
       "c:\\arquivos de programas\\Talvex\\Talvex v3"},
      {{"program files"}, "c:\\program files", "c:\\program files\\Talvex\\Talvex v3"},
      {{"arquivos de programas"},
       "c:\\arquivos de programas",
       "c:\\arquivos de programas\\Talvex\\Talvex v3"},
      {{}, "c:", "c:\\Talvex\\Talvex v3"},
      {{"windows"}, "c:", "c:\\Talvex\\Talvex v3"},
  };
  for (const Case& c : cases) {
    const std::string base = base_folder(probe_over(c.existing));
    EXPECT_EQ(base, c.base) << c.base;
    const std::optional<InstallationPaths> paths = installation_paths(base);
    ASSERT_TRUE(paths.has_value()) << c.base;
    EXPECT_EQ(paths->installation_directory, c.installation);
    EXPECT_EQ(paths->product_directory + "\\Talvex v3", c.installation);
  }
}

TEST(InstallTables, StartMenuCandidatesInOrderThenTheShellsFolder) {
  ASSERT_EQ(kStartMenuCandidates.size(), 8u);
  EXPECT_STREQ(kStartMenuCandidates[0], "windows\\menu iniciar\\programas");
  EXPECT_STREQ(kStartMenuCandidates[2], "windows\\menu d\xE9marrer\\programmes");
  EXPECT_STREQ(kStartMenuCandidates[3], "windows\\startmen\xFC\\programme");
  EXPECT_STREQ(kStartMenuCandidates[5], "windows\\men\xFA Inicio\\programas");
  EXPECT_STREQ(kStartMenuCandidates[7], "documents and settings\\all users\\start menu\\programs");
  const char* kShell = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";

  // Each candidate alone is found; with every later one present too, it still wins.
  for (std::size_t i = 0; i < kStartMenuCandidates.size(); ++i) {
    std::set<std::string> from_here;
    for (std::size_t j = i; j < kStartMenuCandidates.size(); ++j)
      from_here.insert(kStartMenuCandidates[j]);
    const std::string expected = std::string("c:\\") + kStartMenuCandidates[i];
    EXPECT_EQ(start_menu_folder(probe_over({kStartMenuCandidates[i]}), kShell), expected) << i;
    EXPECT_EQ(start_menu_folder(probe_over(from_here), kShell), expected) << i;
  }
  EXPECT_EQ(start_menu_folder(probe_over({"program files"}), kShell), kShell);
  EXPECT_EQ(start_menu_folder(probe_over({}), ""), std::nullopt);

  const std::optional<ProgramGroupPaths> group = program_group_paths(kShell);
  ASSERT_TRUE(group.has_value());
  EXPECT_EQ(group->product_group, std::string(kShell) + "\\Talvex");
  EXPECT_EQ(group->program_group, std::string(kShell) + "\\Talvex\\Talvex v3");
}

TEST(InstallTables, ComposedPathsStayWithinTheirBuffer) {
  EXPECT_EQ(join_path("c:", "Talvex"), "c:\\Talvex");
  const std::string a(90, 'a');
  EXPECT_EQ(join_path(a, "1234567")->size(), 98u);    // 98 characters fit
  EXPECT_EQ(join_path(a, "12345678"), std::nullopt);  // 99 do not
  // A long start-menu folder leaves no program group rather than a cut one.
  EXPECT_EQ(program_group_paths(std::string(82, 'm')), std::nullopt);
  EXPECT_EQ(installation_paths(std::string(82, 'b')), std::nullopt);
  // The longest fixed names fit with the longest candidate.
  const std::string longest = std::string("c:\\") + kStartMenuCandidates[6];
  const std::optional<ProgramGroupPaths> group = program_group_paths(longest);
  ASSERT_TRUE(group.has_value());
  EXPECT_TRUE(join_path(group->program_group, "Uninstall.lnk").has_value());
}

TEST(InstallTables, PayloadRowsInOrder) {
  struct Row {
    const char* source;
    const char* installed;
    const char* link;
    const char* arguments;
    const char* icon;
    bool com_server;
  } expected[] = {
      {"LICENSE.txt", "LICENSE.txt", "", "", "", false},
      {"Talvex.001", "Talvex.ico", "", "", "", false},
      {"Talvex.002", "Talvex.cfg", "", "", "", false},
      {"README.html", "README.html", "ReadMe.lnk", "", "", false},
      {"Talvex.000", "Talvex.exe", "Talvex.lnk", "", "Talvex.ico", false},
      {"Talvex.003", "Talvex_insp.exe", "Inspector.lnk", "", "Talvex.ico", false},
      {"Talvex.004", "Talvex_inst.exe", "Uninstall.lnk", "-u", "Talvex.ico", false},
      {"Talvex.005", "talvex_codec.dll", "", "", "", true},
  };
  auto text = [](const char* s) { return std::string(s ? s : ""); };
  ASSERT_EQ(kPayload.size(), std::size(expected));
  for (std::size_t i = 0; i < kPayload.size(); ++i) {
    EXPECT_EQ(text(kPayload[i].source), expected[i].source) << i;
    EXPECT_EQ(text(kPayload[i].installed), expected[i].installed) << i;
    EXPECT_EQ(text(kPayload[i].link), expected[i].link) << i;
    EXPECT_EQ(text(kPayload[i].arguments), expected[i].arguments) << i;
    EXPECT_EQ(text(kPayload[i].icon), expected[i].icon) << i;
    EXPECT_EQ(kPayload[i].com_server, expected[i].com_server) << i;
  }
}

TEST(InstallTables, RecordedDirectoryMustBeAnInstallationDirectory) {
  struct Case {
    const char* path;
    bool accepted;
  } cases[] = {
      {"c:\\program files\\Talvex\\Talvex v3", true},
      {"c:\\Talvex\\Talvex v3", true},
      {"C:\\ARQUIVOS DE PROGRAMAS\\TALVEX\\TALVEX V3", true},
      {"c:\\a folder\\deeper\\Talvex\\Talvex v3", true},
      // relative, rooted without a drive, or relative to the drive's current folder
      {"x\\Talvex\\Talvex v3", false},
      {"Talvex\\Talvex v3", false},
      {"\\Talvex\\Talvex v3", false},
      {"c:Talvex\\Talvex v3", false},
      {"c:x\\Talvex\\Talvex v3", false},
      // another drive, UNC and device paths
      {"d:\\program files\\Talvex\\Talvex v3", false},
      {"z:\\Talvex\\Talvex v3", false},
      {"\\\\server\\share\\Talvex\\Talvex v3", false},
      {"\\\\?\\c:\\program files\\Talvex\\Talvex v3", false},
      {"\\\\.\\c:\\Talvex\\Talvex v3", false},
      {"\\??\\c:\\Talvex\\Talvex v3", false},
      // components that walk elsewhere, other separators
      {"c:\\windows\\..\\Talvex\\Talvex v3", false},
      {"c:\\.\\Talvex\\Talvex v3", false},
      {"c:\\\\Talvex\\Talvex v3", false},
      {"c:/windows/Talvex\\Talvex v3", false},
      {"c:\\windows/Talvex\\Talvex v3", false},
      // wrong endings
      {"c:", false},
      {"c:\\", false},
      {"", false},
      {"c:\\windows", false},
      {"c:\\program files\\Talvex", false},
      {"c:\\program files\\Talvex\\Talvex v3\\", false},
      {"c:\\program files\\Talvex\\Talvex v3\\..", false},
      {"c:\\program files\\XTalvex\\Talvex v3", false},
      {"c:\\program files\\Talvex\\Talvex v3x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_installation_directory(c.path), c.accepted) << c.path;
  // The drive is the installation's; 99 characters are one too many.
  EXPECT_TRUE(is_installation_directory("d:\\Talvex\\Talvex v3", "D:\\"));
  EXPECT_FALSE(is_installation_directory("c:\\Talvex\\Talvex v3", "d:\\"));
  const std::string tail = "\\Talvex\\Talvex v3";
  const std::string longest = "c:\\" + std::string(kMaxPathLength - 3 - tail.size(), 'f') + tail;
  EXPECT_TRUE(is_installation_directory(longest));
  EXPECT_FALSE(is_installation_directory("c:\\f" + longest.substr(3)));
}

// A reinstall replaces only the installation's files and the programs' throw-away working
// files; whatever the programs made for the user, or the user put there, stays.
TEST(InstallTables, AReinstallReplacesOnlyTheInstallationsOwnFiles) {
  struct Case {
    const char* name;
    bool replaced;
  } cases[] = {
      // The payload, in any case.
      {"Talvex.exe", true},
      {"TALVEX_INSP.EXE", true},
      {"Talvex_inst.exe", true},
      {"talvex_codec.dll", true},
      {"Talvex.ico", true},
      {"Talvex.cfg", true},
      {"LICENSE.txt", true},
      {"README.html", true},
      // Working files made anew at every start.
      {"Talvex_0.bmp", true},
      {"Talvex_1.bmp", true},
      {"Talvex.jpg", true},
      {"Talvex.lst", true},
      {"Talvex.grf", true},
      {"Talvex_insp.avi", true},
      {"Talvex.cfg.new", true},
      // Recordings of every name the capture program gives them.
      {"Talvex_Camera_2006-12-25_07-05-03_2006-12-25_07-05-33.avi", false},
      {"Talvex_Camera_2006-12-25_07-05-03_2006-12-25_07-05-33_2.avi", false},
      {"talvex_camera_2006-12-25_07-05-03_2006-12-25_07-05-33.AVI", false},
      {"Talvex_unrecovered_2006-12-25_07-05-03.avi", false},
      {"Talvex_tmp.avi", false},
      {"Talvex_tmp.dsc", false},
      // Photos, the log, the mask, the user's own files.
      {"2006-03-07_09-06-00.bmp", false},
      {"--_--.bmp", false},
      {"Talvex.log", false},
      {"Talvex_mask.bmp", false},
      {"notes.txt", false},
      {"Talvex.exe.bak", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_replaced_on_reinstall(c.name), c.replaced) << c.name;
}

std::string agreement_of(const std::string& bytes) {
  testing::ScratchDirectory scratch;
  testing::write_bytes(scratch.path() / "LICENSE.txt", bytes);
  std::FILE* file = std::fopen((scratch.path() / "LICENSE.txt").string().c_str(), "rb");
  EXPECT_NE(file, nullptr);
  std::string text = read_agreement(file);
  std::fclose(file);
  return text;
}

TEST(Agreement, LinesBecomeCrLfLongLinesStayWhole) {
  const std::string long_line(600, 'x');  // read as pieces of 254, 254 and 92
  struct Case {
    const char* name;
    std::string file;
    std::string text;
  } cases[] = {
      {"plain", "MIT License\n\nCopyright\n", "MIT License\r\n\r\nCopyright\r\n"},
      {"last line without line feed", "one\ntwo", "one\r\ntwo"},
      {"long line", long_line + "\nend", long_line + "\r\nend"},
      {"line of exactly 254", std::string(254, 'y') + "\n", std::string(254, 'y') + "\r\n"},
      {"line ends already CRLF", "one\r\ntwo\r\n", "one\r\ntwo\r\n"},
      {"empty file", "", ""},
      {"NUL inside a line", std::string("ab\0cd\nef", 8), "abef"},
  };
  for (const Case& c : cases) EXPECT_EQ(agreement_of(c.file), c.text) << c.name;
}

TEST(Agreement, AnOverlongTextIsCutSafely) {
  // The text holds 25,600 characters with its terminating zero.
  constexpr std::size_t kLongest = 25'599;
  // 200 lines of 127 characters: 25,600 bytes in the file, 25,800 with the carriage returns.
  std::string file, converted;
  for (int i = 0; i < 200; ++i) {
    const std::string line(127, static_cast<char>('a' + i % 26));
    file += line + "\n";
    converted += line + "\r\n";
  }
  const std::string text = agreement_of(file);
  EXPECT_EQ(text.size(), kLongest);
  EXPECT_EQ(text, converted.substr(0, kLongest));

  // A cut inside a line keeps the part of the line that fits, a cut inside the line end
  // leaves no lone carriage return.
  AgreementText agreement;
  EXPECT_TRUE(agreement.append_piece(std::string(kLongest - 4, 'z')));
  EXPECT_FALSE(agreement.append_piece("abc\n"));
  EXPECT_EQ(agreement.text().size(), kLongest - 1);
  EXPECT_EQ(agreement.text().substr(agreement.text().size() - 3), "abc");
  EXPECT_FALSE(agreement.append_piece("more\n"));
  EXPECT_EQ(agreement.text().size(), kLongest - 1);

  AgreementText exact;
  EXPECT_TRUE(exact.append_piece(std::string(kLongest - 2, 'z')));
  EXPECT_TRUE(exact.append_piece("\n"));  // fills the buffer to the last byte
  EXPECT_EQ(exact.text().size(), kLongest);
  EXPECT_FALSE(exact.append_piece("x"));
}

TEST(InstallerCatalogue, RangeSuccessAndUnusedNumbers) {
  EXPECT_EQ(program_catalogue().success_code(), kOk);
  EXPECT_STREQ(message_text(21), "OK!");
  EXPECT_STREQ(message_text(22), "");
  EXPECT_STREQ(message_text(-1), "");
  EXPECT_STREQ(message_text(14), "");
  EXPECT_STREQ(message_text(9), "Installation completed!");
  EXPECT_STREQ(message_text(10),
               "ATTENTION: Videos saved in the installation directory will be removed.\n\t\t"
               "Do you really want to continue?");
  EXPECT_STREQ(message_text(16),
               "Please, extract ALL the files to a temporary directory and\nrun the "
               "installation program from this directory! (016)");
  EXPECT_STREQ(message_text(12), "Unable to get installation directory! (012)");
  EXPECT_STREQ(message_text(13), "Unable to correctly install the software! (013)");
}

}  // namespace
}  // namespace talvex::inst
