// The video folder on Windows: only names of the videos' shape are listed, with the
// read-only attribute and the 64-bit size; the free space is what this process may write.
#include <windows.h>

#include "capture/video_cleanup.h"
#include "common/find_handle_win.h"

namespace talvex {
namespace {

class WinVideoFolder : public VideoFolder {
 public:
  explicit WinVideoFolder(std::string path) : path_(std::move(path)) {
    if (!path_.empty() && path_.back() != '\\' && path_.back() != '/') path_ += '\\';
  }

  bool list(std::vector<FolderEntry>& entries) override {
    entries.clear();
    WIN32_FIND_DATAA found;
    FindHandle find(::FindFirstFileExA((path_ + "Talvex_Camera_*.avi").c_str(), FindExInfoBasic,
                                       &found, FindExSearchNameMatch, nullptr,
                                       FIND_FIRST_EX_LARGE_FETCH));
    if (!find.valid()) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      const std::uint64_t size =
          (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      entries.push_back(
          {found.cFileName, size, (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0});
    } while (::FindNextFileA(find.get(), &found));
    return true;
  }

  bool space(DriveSpace& space) override {
    ULARGE_INTEGER available, total;
    if (!::GetDiskFreeSpaceExA(path_.c_str(), &available, &total, nullptr)) return false;
    space.free = available.QuadPart;
    space.total = total.QuadPart;
    return true;
  }

  bool remove(const std::string& name) override {
    return ::DeleteFileA((path_ + name).c_str()) != FALSE;
  }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<VideoFolder> make_video_folder(const std::string& path) {
  return std::make_unique<WinVideoFolder>(path);
}

}  // namespace talvex
