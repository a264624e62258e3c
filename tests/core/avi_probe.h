// What ffprobe and ffmpeg make of an AVI file, for the tests of the files we write. run()
// gives a command's text output (not binary: it stops at a zero byte).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace talvex::testing {

inline std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    ::pclose(p);
  }
  return out;
}

// Frames that ffprobe counts by decoding, the stream's duration, and ffmpeg's complaints
// while decoding all.
struct Probe {
  int frames = -1;
  double duration = -1;
  std::string errors;
};
inline Probe probe(const std::string& file) {
  Probe p;
  const std::string out =
      run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
          "stream=nb_read_frames,duration -of default=nw=1 '" +
          file + "'");
  if (auto at = out.find("nb_read_frames="); at != std::string::npos) {
    p.frames = std::atoi(out.c_str() + at + 15);
  }
  if (auto at = out.find("duration="); at != std::string::npos) {
    p.duration = std::atof(out.c_str() + at + 9);
  }
  p.errors = run("ffmpeg -v error -i '" + file + "' -f null -");
  return p;
}

}  // namespace talvex::testing
