// The video folder on a POSIX file system: a file without its owner's write permission
// counts as read-only.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "capture/video_cleanup.h"

namespace talvex {
namespace {

class PosixVideoFolder : public VideoFolder {
 public:
  explicit PosixVideoFolder(std::string path) : path_(std::move(path)) {}

  bool list(std::vector<FolderEntry>& entries) override {
    entries.clear();
    DIR* dir = ::opendir(path_.c_str());
    if (!dir) return false;
    while (const dirent* e = ::readdir(dir)) {
      struct stat st;
      if (::stat(full(e->d_name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      entries.push_back(
          {e->d_name, static_cast<std::uint64_t>(st.st_size), (st.st_mode & S_IWUSR) == 0});
    }
    ::closedir(dir);
    return true;
  }

  bool space(DriveSpace& space) override {
    struct statvfs vfs;
    if (::statvfs(path_.c_str(), &vfs) != 0) return false;
    space.free = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    space.total = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    return true;
  }

  bool remove(const std::string& name) override { return ::unlink(full(name).c_str()) == 0; }

 private:
  std::string full(const std::string& name) const { return path_ + "/" + name; }
  std::string path_;
};

}  // namespace

std::unique_ptr<VideoFolder> make_video_folder(const std::string& path) {
  return std::make_unique<PosixVideoFolder>(path);
}

}  // namespace talvex
