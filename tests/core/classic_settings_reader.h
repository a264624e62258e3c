// The configuration reader of the program's first versions, written out step by step as
// they did it: one line read of 511 bytes for line 1, another into the same buffer for
// line 2, then one sscanf of the 18 words. The tests and the settings fuzz target use it
// as the oracle for line 2: every file this version writes must read the same with it,
// whatever follows line 2.
//
// The only liberty taken is the size of the buffers that %s fills: each can hold the whole
// line, so that a long word cannot overflow here (the classic program had no such bound).
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "app/settings.h"

namespace talvex::testing {

struct ClassicSettings {
  int result = 0;  // 54, 26 or 44
  int window_x = -1;
  int window_y = -1;
  std::string video_device = "<none>";
  std::string compressor = "<none>";
  int capture_frames = 0;
  int capture_video = 0;
  std::string video_folder;
  int ftp_enabled = 0;
  std::string ftp_server = " ";
  int ftp_port = 21;
  std::string ftp_user = " ";
  std::string ftp_password = " ";
  std::string ftp_destination = " ";
  int motion_enabled = 0;
  float motion_threshold = 7.5f;
  int motion_duration = 30;

  bool operator==(const ClassicSettings&) const = default;
};

inline std::string classic_unscramble(const std::string& text) {
  if (text == " " || text == "_" || text.empty()) return " ";
  int shift = 0;
  if (text[0] == 'c') shift = 1;
  if (text[0] == 'j') shift = 2;
  if (text[0] == 'w') shift = 3;
  if (shift == 0) return " ";
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    out += static_cast<char>((static_cast<unsigned char>(text[i]) - shift) & 0xFF);
  }
  return out;
}

// Reads an open "Talvex.cfg"; `current_directory` stands for GetCurrentDirectoryA.
inline ClassicSettings classic_read_settings(std::FILE* file,
                                             const std::string& current_directory) {
  ClassicSettings defaults;
  defaults.video_folder = current_directory;

  // 2. Two line reads into one 512-byte buffer, each of at most 510 characters.
  char buffer[512] = {};
  std::fgets(buffer, 511, file);
  std::fgets(buffer, 511, file);

  // 3. One scan of the line's format.
  char version[512], device[512], compressor[512], folder[512], server[512], user[512],
      password[512], destination[512], terminator[512];
  version[0] = device[0] = compressor[0] = folder[0] = server[0] = '\0';
  user[0] = password[0] = destination[0] = terminator[0] = '\0';
  int window_x = 0, window_y = 0, frames = 0, video = 0, ftp = 0, port = 0, motion = 0;
  int duration = 0;
  float threshold = 0;
  std::sscanf(buffer, "%s %d %d %s %s %d %d %s %d %s %d %s %s %s %d %f %d %s", version, &window_x,
              &window_y, device, compressor, &frames, &video, folder, &ftp, server, &port, user,
              password, destination, &motion, &threshold, &duration, terminator);

  ClassicSettings s;
  s.motion_enabled = motion & 0xFF;
  s.capture_video = video & 0xFF;
  // 4.
  if (s.motion_enabled) s.capture_video = 0;
  // 5. and 6.
  if (std::strcmp(version, "1.4") != 0) {
    defaults.result = 26;
    return defaults;
  }
  if (std::strcmp(terminator, ">") != 0) {
    defaults.result = 44;
    return defaults;
  }
  // 7.
  auto blanks_for = [](std::string text, char mark) {
    for (char& c : text) {
      if (c == mark) c = ' ';
    }
    return text;
  };
  auto ftp_text = [](const char* word) { return std::strcmp(word, "_") == 0 ? " " : word; };
  s.window_x = window_x;
  s.window_y = window_y;
  s.video_device = blanks_for(device, '_');
  s.compressor = blanks_for(compressor, '_');
  s.capture_frames = frames & 0xFF;
  s.video_folder = std::strcmp(folder, "_") == 0 ? current_directory : blanks_for(folder, '>');
  s.ftp_enabled = ftp & 0xFF;
  s.ftp_server = ftp_text(server);
  s.ftp_port = port;
  s.ftp_user = ftp_text(user);
  s.ftp_password = std::strcmp(password, "_") == 0 ? " " : classic_unscramble(password);
  s.ftp_destination = ftp_text(destination);
  s.motion_threshold = threshold;
  s.motion_duration = duration;
  // 8.
  s.result = 54;
  return s;
}

// What the classic reader reads back of a file written for the record, field by field. A
// password that no key of the scrambling can hold is written as "_", the empty password.
inline ClassicSettings classic_view(const Settings& s) {
  ClassicSettings c;
  const FtpTexts ftp = s.ftp();
  c.result = 54;
  c.window_x = s.window_x;
  c.window_y = s.window_y;
  c.video_device = s.video_device.str();
  c.compressor = s.compressor.str();
  c.capture_frames = s.capture_frames;
  c.capture_video = s.capture_video;
  c.video_folder = s.video_folder.str();
  c.ftp_enabled = s.ftp_enabled;
  c.ftp_server = ftp.server.str();
  c.ftp_port = ftp.port;
  c.ftp_user = ftp.user.str();
  c.ftp_password = scramble_password(ftp.password.view(), 0) == "_" ? " " : ftp.password.str();
  c.ftp_destination = ftp.destination.str();
  c.motion_enabled = s.motion_enabled;
  c.motion_threshold = s.motion_threshold;
  c.motion_duration = s.motion_duration;
  return c;
}

}  // namespace talvex::testing
