// What the end-to-end tests share: where the programs are, a scratch folder, file reads.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace talvex::e2e {

// A program built beside the test executable.
std::string program_path(const char* exe_name);

// A fresh folder under the temporary folder, removed at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Where a window of this width stands when centred on the desktop: half of what the
// desktop's width leaves, rounded toward zero. The tests' own reckoning, not the programs'.
int centred_x(int width);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

}  // namespace talvex::e2e
