#include "installer/install_tables.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace talvex::inst {
namespace {

constexpr const char* kBaseFolders[] = {"arquivos de programas", "program files"};

constexpr const char* kStartMenus[] = {
    "windows\\menu iniciar\\programas",
    "windows\\start menu\\programs",
    "windows\\menu d\xE9marrer\\programmes",
    "windows\\startmen\xFC\\programme",
    "windows\\start menu\\programmi",
    "windows\\men\xFA Inicio\\programas",
    "documents and settings\\all users\\menu iniciar\\programas",
    "documents and settings\\all users\\start menu\\programs",
};

constexpr PayloadRow kRows[] = {
    {"LICENSE.txt", "LICENSE.txt", nullptr, nullptr, nullptr, false},
    {"Talvex.001", "Talvex.ico", nullptr, nullptr, nullptr, false},
    {"Talvex.002", "Talvex.cfg", nullptr, nullptr, nullptr, false},
    {"README.html", "README.html", "ReadMe.lnk", nullptr, nullptr, false},
    {"Talvex.000", "Talvex.exe", "Talvex.lnk", nullptr, "Talvex.ico", false},
    {"Talvex.003", "Talvex_insp.exe", "Inspector.lnk", nullptr, "Talvex.ico", false},
    {"Talvex.004", "Talvex_inst.exe", "Uninstall.lnk", "-u", "Talvex.ico", false},
    // The video compressor that the default configuration names.
    {"Talvex.005", "talvex_codec.dll", nullptr, nullptr, nullptr, true},
};

std::optional<std::string> first_existing(const PathProbe& probe, std::string_view drive_root,
                                          std::span<const char* const> candidates) {
  const std::string root(drive_root);
  for (const char* name : candidates) {
    if (std::optional<std::string> found = probe(root, name)) return found;
  }
  return std::nullopt;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

const std::span<const char* const> kBaseFolderCandidates{kBaseFolders};
const std::span<const char* const> kStartMenuCandidates{kStartMenus};
const std::span<const PayloadRow> kPayload{kRows};

std::optional<std::string> join_path(std::string_view a, std::string_view b) {
  if (a.size() + 1 + b.size() > kMaxPathLength) return std::nullopt;
  std::string path;
  path.reserve(a.size() + 1 + b.size());
  path.append(a).append("\\").append(b);
  return path;
}

std::string base_folder(const PathProbe& probe, std::string_view drive_root) {
  if (std::optional<std::string> found = first_existing(probe, drive_root, kBaseFolderCandidates))
    return *found;
  std::string_view bare = drive_root;
  if (!bare.empty() && bare.back() == '\\') bare.remove_suffix(1);
  return std::string(bare);
}

std::optional<std::string> start_menu_folder(const PathProbe& probe, std::string_view fallback,
                                             std::string_view drive_root) {
  if (std::optional<std::string> found = first_existing(probe, drive_root, kStartMenuCandidates))
    return found;
  if (fallback.empty()) return std::nullopt;
  return std::string(fallback);
}

std::optional<InstallationPaths> installation_paths(std::string_view base) {
  std::optional<std::string> product = join_path(base, kProductFolder);
  if (!product) return std::nullopt;
  std::optional<std::string> installation = join_path(*product, kVersionFolder);
  if (!installation) return std::nullopt;
  return InstallationPaths{*product, *installation};
}

std::optional<ProgramGroupPaths> program_group_paths(std::string_view start_menu) {
  std::optional<InstallationPaths> paths = installation_paths(start_menu);
  if (!paths) return std::nullopt;
  return ProgramGroupPaths{paths->product_directory, paths->installation_directory};
}

bool is_installation_directory(std::string_view path, std::string_view drive_root) {
  const std::string tail = std::string("\\") + kProductFolder + "\\" + kVersionFolder;
  if (path.size() > kMaxPathLength || path.find('/') != std::string_view::npos) return false;
  // The drive: a letter, a colon and a backslash, the same drive as the installation's.
  if (drive_root.size() < 3 || path.size() < 3 || path[1] != ':' || path[2] != '\\' ||
      !std::isalpha(static_cast<unsigned char>(path[0])) ||
      !equal_ignoring_case(path.substr(0, 2), drive_root.substr(0, 2)))
    return false;
  if (path.size() < 2 + tail.size() ||
      !equal_ignoring_case(path.substr(path.size() - tail.size()), tail))
    return false;
  // Every component below the drive is a plain name.
  std::string_view rest = path.substr(3);
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\\'), rest.size());
    const std::string_view component = rest.substr(0, end);
    if (component.empty() || component == "." || component == "..") return false;
    rest.remove_prefix(end == rest.size() ? end : end + 1);
  }
  return true;
}

bool is_replaced_on_reinstall(std::string_view name) {
  for (const PayloadRow& row : kRows) {
    if (equal_ignoring_case(name, row.installed)) return true;
  }
  static constexpr const char* kWorkingFiles[] = {
      "Talvex_0.bmp", "Talvex_1.bmp",    "Talvex.jpg",    "Talvex.lst",
      "Talvex.grf",   "Talvex_insp.avi", "Talvex.cfg.new"};
  for (const char* working : kWorkingFiles) {
    if (equal_ignoring_case(name, working)) return true;
  }
  return false;
}

}  // namespace talvex::inst
