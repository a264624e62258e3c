// The installer, whole: started from its unpacked package (in a scratch Wine prefix, see
// installer_e2e.sh), driven through its window, its menu and its message boxes; then the
// installed files, the shortcuts and the registry record are read.
#include <windows.h>

#include <gtest/gtest.h>

#include <dshow.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "installer/install_tables.h"
#include "tests/e2e/driver_win.h"
#include "tests/e2e/e2e_support_win.h"

namespace talvex::e2e {
namespace {

constexpr char kClass[] = "myWindowClass";
constexpr char kCaption[] = "Talvex Install";
constexpr int kAgree = 504;
constexpr int kNotAgree = 9013;
constexpr int kAgreement = 512;
constexpr int kGo = 9003;
constexpr int kAbout = 9012;
constexpr char kRecordKey[] = "Software\\Talvex";
constexpr char kRecordValue[] = "InstallationDirectory";
constexpr char kProgramFiles[] = "C:\\program files\\Talvex\\Talvex v3";
constexpr char kArquivos[] = "c:\\arquivos de programas";
constexpr char kVideo[] = "Talvex_Camera_2026-03-14_07-05-03_2026-03-14_07-05-33.avi";
constexpr char kPhoto[] = "2026-03-14_07-05-10.bmp";
constexpr char kCompressor[] = "Talvex MJPEG Compressor";
// An installation takes four pauses of a second; the uninstall one of two.
constexpr Timeout kInstallTimeout{20000};

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string package() { return environment("TALVEX_PACKAGE"); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string shell_programs() {
  char path[MAX_PATH] = {};
  ::SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}
std::string program_group() { return shell_programs() + "\\Talvex\\Talvex v3"; }

std::optional<std::string> record() {
  char text[512] = {};
  DWORD size = sizeof text;
  if (::RegGetValueA(HKEY_CURRENT_USER, kRecordKey, kRecordValue, RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::string(text);
}

// The friendly names of a DirectShow device category, as the capture program lists them.
std::vector<std::string> category_names(const GUID& category) {
  std::vector<std::string> names;
  ::CoInitialize(nullptr);
  ICreateDevEnum* devices = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, reinterpret_cast<void**>(&devices)))) {
    IEnumMoniker* monikers = nullptr;
    if (devices->CreateClassEnumerator(category, &monikers, 0) == S_OK) {
      IMoniker* moniker = nullptr;
      while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                             reinterpret_cast<void**>(&bag)))) {
          VARIANT name;
          ::VariantInit(&name);
          if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) {
            char text[200] = {};
            ::WideCharToMultiByte(CP_ACP, 0, name.bstrVal, -1, text, sizeof text, nullptr, nullptr);
            names.push_back(text);
          }
          ::VariantClear(&name);
          bag->Release();
        }
        moniker->Release();
      }
      monikers->Release();
    }
    devices->Release();
  }
  ::CoUninitialize();
  return names;
}

bool has_compressor() {
  const std::vector<std::string> names = category_names(CLSID_VideoCompressorCategory);
  return std::find(names.begin(), names.end(), kCompressor) != names.end();
}

// Our test cameras, registered from the build tree for as long as they live; the kit never
// installs them.
class TestCameras {
 public:
  TestCameras() : module_(::LoadLibraryA(program_path("talvex_filters.dll").c_str())) {
    result_ = call("DllRegisterServer");
  }
  ~TestCameras() {
    call("DllUnregisterServer");
    if (module_) ::FreeLibrary(module_);
  }
  bool registered() const { return result_ == S_OK; }

 private:
  HRESULT call(const char* name) {
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry =
        module_ ? reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(module_, name)))
                : nullptr;
    return entry ? entry() : E_FAIL;
  }
  HMODULE module_;
  HRESULT result_ = E_FAIL;
};

std::vector<std::string> recordings(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& e : std::filesystem::directory_iterator(dir, ignored)) {
    const std::string n = e.path().filename().string();
    if (n.rfind("Talvex_Camera_", 0) == 0) names.push_back(n);
  }
  return names;
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

// Nothing installed, no record, no compressor registered: as on a machine that never saw
// Talvex. (The build's compressor has the installed one's class, so its unregistration
// removes what an installation registered.)
void forget_installation() {
  if (HMODULE codec = ::LoadLibraryA(program_path("talvex_codec.dll").c_str())) {
    using Entry = HRESULT(STDAPICALLTYPE*)();
    if (auto entry = reinterpret_cast<Entry>(
            reinterpret_cast<void*>(::GetProcAddress(codec, "DllUnregisterServer"))))
      entry();
    ::FreeLibrary(codec);
  }
  ::RegDeleteKeyA(HKEY_CURRENT_USER, kRecordKey);
  remove_tree("C:\\program files\\Talvex");
  remove_tree(kArquivos);
  remove_tree(shell_programs() + "\\Talvex");
}

struct Installer {
  Program program;
  HWND window = nullptr;
};

Installer start_installer(const std::string& arguments = "",
                          const std::string& folder = package()) {
  Installer run;
  run.program = Program::start(package() + "\\Talvex_inst.exe", arguments, folder);
  if (run.program.started())
    run.window = wait_window(kClass, kCaption, kDefaultTimeout, run.program.pid());
  return run;
}

std::string message(Installer& run, int button, Timeout timeout = kDefaultTimeout) {
  return answer_message_box(kCaption, button, timeout, run.program.pid()).value_or("<no box>");
}

// Presses "Agree" and answers the report; returns the report's text.
std::string install(Installer& run) {
  click(run.window, kAgree);
  return message(run, IDOK, kInstallTimeout);
}

// The lines of a text, without their line feeds.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    result.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return result;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The package as it was built, checked before the run puts the capture program's stand-in
// in its place: every payload row of the installer's tables is in it, the programs and
// libraries byte for byte as the build made them, the other files as the sources hold them.
TEST(Package, EveryPayloadRowIsTheBuiltFile) {
  const std::string sources = environment("TALVEX_SOURCES");
  ASSERT_FALSE(package().empty() || sources.empty()) << "run through installer_e2e.sh";
  struct FromSources {
    const char* installed;
    const char* source;
  } from_sources[] = {{"LICENSE.txt", "LICENSE"},
                      {"README.html", "installer\\README.html"},
                      {"Talvex.ico", "app\\Talvex.ico"},
                      {"Talvex.cfg", "installer\\Talvex.cfg"}};
  for (const inst::PayloadRow& row : inst::kPayload) {
    const std::string name = lower(row.installed);
    std::string origin;
    if (ends_with(name, ".exe") || ends_with(name, ".dll")) {
      origin = program_path(row.installed);  // the build's own, beside this test
    } else {
      for (const FromSources& f : from_sources)
        if (name == lower(f.installed)) origin = sources + "\\" + f.source;
    }
    if (origin.empty()) {
      ADD_FAILURE() << row.source << " (" << row.installed << "): no known origin to compare with";
      continue;
    }
    const std::string packed = package() + "\\" + row.source;
    if (!file_exists(packed)) {
      ADD_FAILURE() << row.source << " is missing from the package";
      continue;
    }
    ASSERT_TRUE(file_exists(origin)) << origin;
    EXPECT_TRUE(read_file(packed) == read_file(origin)) << row.source << " is not " << origin;
  }
  // The installer that the user runs, beside its payload.
  EXPECT_TRUE(read_file(package() + "\\Talvex_inst.exe") ==
              read_file(program_path("Talvex_inst.exe")));
}

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(package().empty()) << "run through installer_e2e.sh";
    forget_installation();
  }
  void TearDown() override { forget_installation(); }
};

TEST_F(InstallerTest, WithoutTheAgreementFileBothButtonsAreDisabled) {
  ScratchFolder empty;
  Installer run = start_installer("", empty.path());
  // The box comes before the window is shown.
  EXPECT_EQ(message(run, IDOK),
            "Please, extract ALL the files to a temporary directory and\nrun the installation "
            "program from this directory! (016)");
  run.window = wait_window(kClass, kCaption, kDefaultTimeout, run.program.pid());
  ASSERT_NE(run.window, nullptr);
  EXPECT_FALSE(is_enabled(run.window, kAgree));
  EXPECT_FALSE(is_enabled(run.window, kNotAgree));
  EXPECT_EQ(control_text(run.window, kAgreement), "");
  post_command(run.window, 9001);  // File > Exit
  EXPECT_EQ(run.program.wait_exit(), 0u);
}

TEST_F(InstallerTest, WindowAgreementAndTheUninstallOption) {
  struct Case {
    const char* arguments;
    bool buttons_enabled;
  } cases[] = {{"", true}, {"-u", false}, {"-U", true}, {"-u ", true}, {"-x", true}};
  const std::string licence = read_file(package() + "\\LICENSE.txt");
  for (const Case& c : cases) {
    Installer run = start_installer(c.arguments);
    ASSERT_NE(run.window, nullptr) << c.arguments;
    EXPECT_EQ(is_enabled(run.window, kAgree), c.buttons_enabled) << "'" << c.arguments << "'";
    EXPECT_EQ(is_enabled(run.window, kNotAgree), c.buttons_enabled) << c.arguments;
    const std::string shown = control_text(run.window, kAgreement);
    EXPECT_EQ(shown.rfind("MIT License\r\n\r\nCopyright (c) 2026 The Talvex developers\r\n", 0), 0u)
        << shown;
    EXPECT_EQ(shown.size(), licence.size() + std::count(licence.begin(), licence.end(), '\n'));
    if (c.arguments[0] == '\0') {
      RECT rect;
      ::GetWindowRect(run.window, &rect);
      EXPECT_EQ(rect.left, centred_x(505));
      EXPECT_EQ(rect.top, 50);
      EXPECT_EQ(rect.right - rect.left, 505);
      EXPECT_EQ(rect.bottom - rect.top, 425);
      post_command(run.window, kAbout);
      HWND about = wait_dialog("About", kDefaultTimeout, run.program.pid());
      ASSERT_NE(about, nullptr);
      EXPECT_EQ(control_text(about, 302), "Talvex Install v3.0");
      click(about, IDOK);
      EXPECT_TRUE(wait_gone(about));
    }
    post_close(run.window);
    EXPECT_EQ(run.program.wait_exit(), 0u) << c.arguments;
  }
}

TEST_F(InstallerTest, NotAgreeAsksAndOnlyOkCloses) {
  Installer run = start_installer();
  ASSERT_NE(run.window, nullptr);
  click(run.window, kNotAgree);
  EXPECT_EQ(message(run, IDCANCEL), "Do you want to quit Talvex Install?");
  EXPECT_FALSE(run.program.wait_exit(Timeout{500}).has_value());
  EXPECT_TRUE(::IsWindow(run.window));
  click(run.window, kNotAgree);
  EXPECT_EQ(message(run, IDOK), "Do you want to quit Talvex Install?");
  EXPECT_EQ(run.program.wait_exit(), 0u);
  EXPECT_FALSE(file_exists("C:\\program files\\Talvex"));
}

TEST_F(InstallerTest, InstallReinstallAndUninstall) {
  const std::string dir = kProgramFiles;
  {
    Installer run = start_installer();
    ASSERT_NE(run.window, nullptr);
    EXPECT_EQ(lower(install(run)), lower("Installation completed!\nDir: " + dir));
    EXPECT_EQ(run.program.wait_exit(), 0u);
  }
  // The capture program was started there, with that working directory, and by the
  // desktop's shell: the installer runs elevated, and what the shell starts runs with the
  // user's own rights.
  ASSERT_TRUE(wait_until([&] { return file_exists(dir + "\\Talvex_started.txt"); }));
  wait_until([&] {
    const std::string text = read_file(dir + "\\Talvex_started.txt");
    return std::count(text.begin(), text.end(), '\n') >= 3;
  });
  const std::vector<std::string> started = lines(read_file(dir + "\\Talvex_started.txt"));
  ASSERT_EQ(started.size(), 3u);
  EXPECT_EQ(lower(started[0]), lower(dir));
  EXPECT_EQ(lower(started[2]), "explorer.exe") << "started by " << started[2];

  // Every payload row, installed under its name; and its shortcut, for lnkinfo after the run.
  const std::string links = environment("TALVEX_LINKS_OUT");
  for (const inst::PayloadRow& row : inst::kPayload) {
    const std::string installed = dir + "\\" + row.installed;
    ASSERT_TRUE(file_exists(installed)) << installed;
    EXPECT_TRUE(read_file(installed) == read_file(package() + "\\" + row.source)) << row.installed;
    if (!row.link) continue;
    const std::string link = program_group() + "\\" + row.link;
    EXPECT_TRUE(file_exists(link)) << link;
    if (!links.empty()) ::CopyFileA(link.c_str(), (links + "\\" + row.link).c_str(), FALSE);
  }
  ASSERT_TRUE(record().has_value());
  EXPECT_EQ(lower(*record()), lower(dir));

  // A reinstall replaces the installation's files and keeps every file the programs made
  // for the user and the user's own, and the record.
  const std::string kept[] = {kVideo,
                              "Talvex_Camera_2026-03-14_07-05-03_2026-03-14_07-05-33_2.avi",
                              "Talvex_unrecovered_2026-03-14_08-00-00.avi",
                              "Talvex_tmp.avi",
                              "Talvex_tmp.dsc",
                              kPhoto,
                              "Talvex.log",
                              "Talvex_mask.bmp",
                              "notes.txt"};
  for (const std::string& name : kept) write_file(dir + "\\" + name, "the user's " + name);
  write_file(dir + "\\Talvex_0.bmp", "stale frame");
  write_file(dir + "\\Talvex.cfg", "changed settings");
  std::filesystem::create_directory(dir + "\\sub");
  write_file(dir + "\\sub\\kept.txt", "kept");
  write_file(program_group() + "\\Old.lnk", "stale");
  {
    Installer run = start_installer();
    ASSERT_NE(run.window, nullptr);
    EXPECT_EQ(lower(install(run)), lower("Installation completed!\nDir: " + dir));
    EXPECT_EQ(run.program.wait_exit(), 0u);
  }
  for (const std::string& name : kept) {
    EXPECT_EQ(read_file(dir + "\\" + name), "the user's " + name) << name;
  }
  EXPECT_FALSE(file_exists(dir + "\\Talvex_0.bmp"));
  EXPECT_TRUE(read_file(dir + "\\Talvex.cfg") == read_file(package() + "\\Talvex.002"));
  // The made-up recordings go again, before the capture program starts there below.
  for (const std::string& name : kept) {
    if (name != kVideo && name != kPhoto && name != "Talvex.log")
      ::DeleteFileA((dir + "\\" + name).c_str());
  }
  EXPECT_TRUE(file_exists(dir + "\\sub\\kept.txt"));
  EXPECT_TRUE(file_exists(dir + "\\Talvex.exe"));
  EXPECT_FALSE(file_exists(program_group() + "\\Old.lnk"));
  EXPECT_TRUE(file_exists(program_group() + "\\Uninstall.lnk"));
  EXPECT_EQ(lower(record().value_or("")), lower(dir));

  // "&Go..." answered Cancel changes nothing.
  {
    Installer run = start_installer("-u");
    ASSERT_NE(run.window, nullptr);
    post_command(run.window, kGo);
    EXPECT_EQ(message(run, IDCANCEL),
              "ATTENTION: Videos saved in the installation directory will be removed.\n\t\tDo "
              "you really want to continue?");
    EXPECT_TRUE(file_exists(dir + "\\Talvex.exe"));
    EXPECT_TRUE(file_exists(program_group() + "\\Talvex.lnk"));
    EXPECT_TRUE(::IsWindow(run.window));

    // Answered OK, it removes the files and the program group and keeps the record.
    post_command(run.window, kGo);
    message(run, IDOK);
    EXPECT_EQ(message(run, IDOK, kInstallTimeout), "Uninstall concluded!");
    EXPECT_EQ(run.program.wait_exit(), 0u);
  }
  EXPECT_FALSE(file_exists(dir + "\\Talvex.exe"));
  EXPECT_FALSE(file_exists(dir + "\\" + kVideo));     // as the warning says
  EXPECT_TRUE(file_exists(dir + "\\sub\\kept.txt"));  // subfolders stay, and so does the folder
  EXPECT_FALSE(file_exists(program_group()));
  EXPECT_TRUE(file_exists(shell_programs() + "\\Talvex"));
  EXPECT_EQ(lower(record().value_or("")), lower(dir));
}

TEST_F(InstallerTest, ArquivosDeProgramasComesFirst) {
  std::filesystem::create_directory(kArquivos);
  Installer run = start_installer();
  ASSERT_NE(run.window, nullptr);
  EXPECT_EQ(lower(install(run)), lower(std::string("Installation completed!\nDir: ") + kArquivos +
                                       "\\Talvex\\Talvex v3"));
  EXPECT_EQ(run.program.wait_exit(), 0u);
  EXPECT_TRUE(file_exists(std::string(kArquivos) + "\\Talvex\\Talvex v3\\Talvex_inst.exe"));
  EXPECT_FALSE(file_exists("C:\\program files\\Talvex"));
}

TEST_F(InstallerTest, UninstallWithoutRecordRemovesTheGroupAndReports012) {
  std::filesystem::create_directories(program_group());
  write_file(program_group() + "\\Talvex.lnk", "old");
  Installer run = start_installer();
  ASSERT_NE(run.window, nullptr);
  // "&Go..." is grayed (another process can't read Wine's menus); the command itself
  // still reaches the window.
  post_command(run.window, kGo);
  message(run, IDOK);
  EXPECT_EQ(message(run, IDOK, kInstallTimeout), "Unable to get installation directory! (012)");
  EXPECT_TRUE(::IsWindow(run.window));
  EXPECT_FALSE(file_exists(program_group()));
  post_close(run.window);
  EXPECT_EQ(run.program.wait_exit(), 0u);
}

// From the package to the first recording: the compressor is installed and registered (and
// no test camera), the default configuration names it, so the installed capture program's
// first recording is MJPEG (installer_e2e.sh checks it with ffprobe); the uninstall takes
// the compressor away again.
TEST_F(InstallerTest, TheInstalledKitRecordsCompressedAndTheUninstallRemovesTheCompressor) {
  ASSERT_FALSE(has_compressor()) << "the scratch prefix has our compressor already";
  const std::string dir = kProgramFiles;
  {
    Installer run = start_installer();
    ASSERT_NE(run.window, nullptr);
    EXPECT_EQ(lower(install(run)), lower("Installation completed!\nDir: " + dir));
    EXPECT_EQ(run.program.wait_exit(), 0u);
  }
  EXPECT_TRUE(has_compressor());
  for (const std::string& camera : category_names(CLSID_VideoInputDeviceCategory))
    EXPECT_EQ(camera.rfind("Talvex", 0), std::string::npos) << camera;

  // The capture program with the installed configuration, a camera chosen and "Capture
  // Video" on, as a user would set them; the compressor stays the installed default.
  wait_until([&] { return file_exists(dir + "\\Talvex_started.txt"); });
  std::string cfg = read_file(dir + "\\Talvex.cfg");
  const std::string defaults = " -1 -1 <none> Talvex_MJPEG_Compressor 0 0 ";
  const std::size_t at = cfg.find(defaults);
  ASSERT_NE(at, std::string::npos) << cfg;
  cfg.replace(at, defaults.size(), " -1 -1 Talvex_Test_Camera Talvex_MJPEG_Compressor 0 1 ");
  write_file(dir + "\\Talvex.cfg", cfg);
  ASSERT_TRUE(
      ::CopyFileA(program_path("Talvex.exe").c_str(), (dir + "\\Talvex.exe").c_str(), FALSE));
  {
    TestCameras cameras;
    ASSERT_TRUE(cameras.registered());
    Program talvex = Program::start(dir + "\\Talvex.exe", "", dir);
    HWND window = wait_window("myWindowClassTX", nullptr, kDefaultTimeout, talvex.pid());
    ASSERT_NE(window, nullptr);
    ::Sleep(4000);
    post_command(window, 9001);  // File > Exit
    ASSERT_TRUE(talvex.wait_exit(Timeout{20000}).has_value());
  }
  const std::vector<std::string> videos = recordings(dir);
  ASSERT_EQ(videos.size(), 1u);
  const std::string out = environment("TALVEX_VIDEOS_OUT");
  if (!out.empty())
    ::CopyFileA((dir + "\\" + videos[0]).c_str(), (out + "\\" + videos[0]).c_str(), FALSE);
  const std::string log = read_file(dir + "\\Talvex.log");
  EXPECT_NE(log.find("Talvex"), std::string::npos);

  Installer run = start_installer("-u", dir);
  ASSERT_NE(run.window, nullptr);
  post_command(run.window, kGo);
  message(run, IDOK);
  EXPECT_EQ(message(run, IDOK, kInstallTimeout), "Uninstall concluded!");
  EXPECT_EQ(run.program.wait_exit(), 0u);
  EXPECT_FALSE(has_compressor());
  EXPECT_FALSE(file_exists(dir + "\\talvex_codec.dll"));
}

// The report's case: a record changed to a relative path would empty the folder of that name
// below the installer's current directory. It gives 012 and deletes nothing.
TEST_F(InstallerTest, ARelativeRecordGives012AndDeletesNothing) {
  const std::string named = package() + "\\x\\Talvex\\Talvex v3";
  std::filesystem::create_directories(named);
  write_file(named + "\\letter.txt", "keep me");
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kRecordKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr),
            ERROR_SUCCESS);
  const char relative[] = "x\\Talvex\\Talvex v3";
  ::RegSetValueExA(key, kRecordValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(relative),
                   sizeof relative);
  ::RegCloseKey(key);
  Installer run = start_installer();
  ASSERT_NE(run.window, nullptr);
  post_command(run.window, kGo);
  message(run, IDOK);
  EXPECT_EQ(message(run, IDOK, kInstallTimeout), "Unable to get installation directory! (012)");
  EXPECT_EQ(read_file(named + "\\letter.txt"), "keep me");
  post_close(run.window);
  EXPECT_EQ(run.program.wait_exit(), 0u);
  remove_tree(package() + "\\x");
}

}  // namespace
}  // namespace talvex::e2e
