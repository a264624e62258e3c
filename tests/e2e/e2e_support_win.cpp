#include "tests/e2e/e2e_support_win.h"

#include <atomic>
#include <fstream>
#include <iterator>

namespace talvex::e2e {

std::string program_path(const char* exe_name) {
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string dir(self);
  dir.resize(dir.find_last_of('\\'));
  return dir + "\\" + exe_name;
}

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  char temp[MAX_PATH] = {};
  ::GetTempPathA(MAX_PATH, temp);
  path_ = std::string(temp) + "talvex_e2e_" + std::to_string(::GetCurrentProcessId()) + "_" +
          std::to_string(counter++);
  std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int centred_x(int width) {
  RECT desktop;
  ::GetWindowRect(::GetDesktopWindow(), &desktop);
  return (desktop.right - desktop.left - width) / 2;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool file_exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace talvex::e2e
