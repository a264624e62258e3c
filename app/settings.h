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

// The texts of the settings beyond the two-line file. The live view's password is kept
// only as HTTP Digest's MD5(web_user:web_realm:password), in lower-case hex; an empty
// web_password means that no password is set.
struct EventTexts {
  FixedText<30> web_user;
  FixedText<40> web_realm;
  FixedText<33> web_password;
  // Run when a motion recording is saved, "%f" standing for the video's file name.
  FixedText<260> on_event;
};

// The largest value of each number of line 3; the smallest is 0.
inline constexpr int kPreEventLargest = 30;
inline constexpr int kKeepFreeMbLargest = 10000000;
inline constexpr int kMaxAgeDaysLargest = 3650;
inline constexpr int kWarmUpLargest = 30;
inline constexpr int kWebPortLargest = 65535;

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

  // Saved in line 3 of the file. A file of two lines leaves each at the value that keeps
  // the program's classic behaviour (0 or off, texts empty).
  std::atomic<int> pre_event{0};          // seconds kept before a motion event, 0-30
  std::atomic<int> keep_free_mb{0};       // free space kept on the video drive, 0 = off
  std::atomic<int> max_age_days{0};       // videos older than this are deleted, 0 = off
  std::atomic<bool> light_filter{false};  // a change of the whole picture's light is no motion
  std::atomic<int> warm_up{0};            // seconds without motion after a build or reconnection
  std::atomic<int> web_port{0};           // the live view's port, 0 = off
  // web_user, web_realm, web_password, on_event: event_texts() / set_event_texts().

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

  EventTexts event_texts() const {
    std::lock_guard<std::mutex> lock(event_texts_lock_);
    return event_texts_;
  }
  void set_event_texts(const EventTexts& texts) {
    std::lock_guard<std::mutex> lock(event_texts_lock_);
    event_texts_ = texts;
  }

 private:
  mutable std::mutex ftp_texts_lock_;  // guards ftp_texts_
  FtpTexts ftp_texts_;
  mutable std::mutex event_texts_lock_;  // guards event_texts_
  EventTexts event_texts_;
};

// Reads a decimal int at the start of `text` as "%d" does (blanks, a sign, digits), except
// that a number past the int range saturates at INT_MIN or INT_MAX, where "%d" is undefined.
// Returns the end of the number, or nullptr (and `out` untouched) when there is none.
const char* scan_int(const char* text, int& out);

// Sets every field of the file to its default (the video folder to the current
// directory) and turns compression off.
void apply_default_settings(Settings& settings);
// Sets the settings of line 3 to the values a file of two lines gives them.
void apply_default_event_settings(Settings& settings);

// Fills the record from "Talvex.cfg" in the current directory: 54, or 25, 26 or 44 with
// the defaults applied. Line 3 never changes that result or line 2's fields; what became
// of it goes to `events_result`: 54, or 49 when a setting of it was bad, or the whole line
// unusable, and took its old-file value (the caller logs it once).
int read_settings(Settings& settings, int* events_result = nullptr);
// The same from an open stream.
int read_settings_from(std::FILE* file, Settings& settings, int* events_result = nullptr);

// Writes the record to "Talvex.cfg" in the current directory: 54 or 37. Line 2 is the
// classic line; line 3, after a line feed, holds every setting beyond it:
//   talvex-ext 1 pre_event=3 ... web_user=cam%20one ... on_event= >
// with texts %XX-escaped where a byte is a blank, '%', '=', '>' or outside printable ASCII. The new
// file is written beside the old one, flushed to the disk, and replaces it only when it was written
// whole.
int write_settings(const Settings& settings);
// The file's bytes for the record, as write_settings writes them.
std::string settings_file_text(const Settings& settings);

// The live view's login as the file keeps it. A realm is printable ASCII without '"' or
// '\\'; a digest is 32 lower-case hex digits of MD5(user:realm:password).
bool is_web_realm(std::string_view text);
bool is_password_digest(std::string_view text);
std::string web_password_digest(std::string_view user, std::string_view realm,
                                std::string_view password);
// A realm of this installation's own, made when a password is first set.
std::string new_web_realm();
// The login after the user typed `user` and `password`. An empty password keeps the
// stored one, which holds only for the user it was made with: false, and nothing changed,
// when another user was typed without it (or no realm could be made). An empty user
// removes the login.
bool update_web_login(EventTexts& texts, std::string_view user, std::string_view password);

// A number of line 3 or of its dialog: decimal digits only, from 0 to `largest`.
bool parse_setting_number(std::string_view text, int largest, int& out);

// Makes `path` the current directory; "_" and "." succeed without a change.
bool enter_folder(const char* path);

// The password encoding of the file. Scrambling picks its key from the current UTC second.
std::string scramble_password(std::string_view text);
std::string scramble_password(std::string_view text, int utc_second);
std::string unscramble_password(std::string_view text);

}  // namespace talvex
