// The capture program's settings record and its configuration file "Talvex.cfg".
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "common/fixed_text.h"

namespace talvex {

inline constexpr char kConfigFileName[] = "Talvex.cfg";
inline constexpr char kNoneName[] = "<none>";
// An empty FTP text is held as a single blank.
inline constexpr char kEmptyFtpText[] = " ";

// The FTP fields change together in the FTP dialog and are read together by the capture
// thread, so they travel as one value under one lock.
struct FtpTexts {
  FixedText<50> server{kEmptyFtpText};
  int port = 21;
  FixedText<30> user{kEmptyFtpText};
  FixedText<30> password{kEmptyFtpText};
  FixedText<100> destination{kEmptyFtpText};
};

class Settings {
 public:
  // Saved in the configuration file, in the file's order.
  int window_x = -1;
  int window_y = -1;
  FixedText<75> video_device{kNoneName};
  FixedText<100> compressor{kNoneName};
  std::atomic<bool> capture_frames{false};
  std::atomic<bool> capture_video{false};
  FixedText<100> video_folder;
  std::atomic<bool> ftp_enabled{false};
  // ftp_server, ftp_port, ftp_user, ftp_password, ftp_destination: ftp() / set_ftp().
  std::atomic<bool> motion_enabled{false};
  std::atomic<float> motion_threshold{7.5f};
  std::atomic<int> motion_duration{30};

  // Run-time only.
  std::atomic<bool> compression_enabled{true};
  std::atomic<bool> motion_recording{false};
  std::atomic<bool> capture_running{true};
  bool save_graph = false;
  bool write_device_list = false;

  FtpTexts ftp() const {
    std::lock_guard<std::mutex> lock(ftp_texts_lock_);
    return ftp_texts_;
  }
  void set_ftp(const FtpTexts& texts) {
    std::lock_guard<std::mutex> lock(ftp_texts_lock_);
    ftp_texts_ = texts;
  }

 private:
  mutable std::mutex ftp_texts_lock_;  // guards ftp_texts_
  FtpTexts ftp_texts_;
};

// Reads a decimal int at the start of `text` as "%d" does (blanks, a sign, digits), except
// that a number past the int range saturates at INT_MIN or INT_MAX, where "%d" is undefined.
// Returns the end of the number, or nullptr (and `out` untouched) when there is none.
const char* scan_int(const char* text, int& out);

// Sets every field of the file to its default (the video folder to the current
// directory) and turns compression off.
void apply_default_settings(Settings& settings);

// Fills the record from "Talvex.cfg" in the current directory: 54, or 25, 26 or 44 with
// the defaults applied.
int read_settings(Settings& settings);
// The same from an open stream (the file's two lines): 54, 26 or 44.
int read_settings_from(std::FILE* file, Settings& settings);

// Writes the record to "Talvex.cfg" in the current directory: 54 or 37. The new file is
// written beside the old one, flushed to the disk, and replaces it only when it was
// written whole.
int write_settings(const Settings& settings);
// The file's bytes for the record, as write_settings writes them.
std::string settings_file_text(const Settings& settings);

// Makes `path` the current directory; "_" and "." succeed without a change.
bool enter_folder(const char* path);

// The password encoding of the file. Scrambling picks its key from the current UTC second.
std::string scramble_password(std::string_view text);
std::string scramble_password(std::string_view text, int utc_second);
std::string unscramble_password(std::string_view text);

}  // namespace talvex
