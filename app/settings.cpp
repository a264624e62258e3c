#include "app/settings.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "app/talvex_messages.h"
#include "common/digest.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

constexpr char kFirstLine[] = "/* Don't edit by hand. Use Talvex to change. */\n";
constexpr char kFormatVersion[] = "1.4";
constexpr char kTerminator[] = ">";
constexpr char kNewFileSuffix[] = ".new";
// GetCurrentDirectoryA is asked with this limit for the video folder.
constexpr std::size_t kFolderLimit = 99;
// Line 1 is read with the classic 511-byte limit. Line 2 gets room for the longest line
// that settings_file_text can produce, so a record with long names always reads back.
constexpr int kFirstLineLimit = 511;
constexpr int kLineBufferSize = 1024;
// The scanned password word is held in 32 bytes before it is unscrambled.
constexpr std::size_t kPasswordWordSize = 32;

// Line 3: a marker and a version word, then key=value words, then the terminator. Readers
// of two lines (this program's earlier versions too) stop at the line feed before it.
constexpr char kEventsMarker[] = "talvex-ext";
constexpr char kEventsVersion[] = "1";
// Far above the longest line 3 this version writes (about 1,300 bytes); a longer one is
// not read at all.
constexpr std::size_t kEventsLineLimit = 4096;

struct PasswordKey {
  char letter;
  int shift;
};
constexpr PasswordKey kPasswordKeys[] = {{'c', 1}, {'j', 2}, {'w', 3}};

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads line 2 the way the "%s %d ... %f ..." scan does: each conversion skips blanks;
// the first conversion that fails ends the scan.
class LineScanner {
 public:
  explicit LineScanner(const char* text) : p_(text) {}

  bool word(std::string& out) {
    skip_blanks();
    if (*p_ == '\0') return false;
    const char* start = p_;
    while (*p_ != '\0' && !is_blank(*p_)) ++p_;
    out.assign(start, p_);
    return true;
  }

  bool integer(int& out) {
    const char* end = scan_int(p_, out);
    if (!end) return false;
    p_ = end;
    return true;
  }

  bool real(float& out) {
    skip_blanks();
    char* end = nullptr;
    const float value = std::strtof(p_, &end);
    if (end == p_) return false;
    out = value;
    p_ = end;
    return true;
  }

 private:
  void skip_blanks() {
    while (is_blank(*p_)) ++p_;
  }
  const char* p_;
};

// The words of line 2 in the order of the file.
struct FileFields {
  std::string version;
  int window_x = 0;
  int window_y = 0;
  std::string video_device;
  std::string compressor;
  int capture_frames = 0;
  int capture_video = 0;
  std::string video_folder;
  int ftp_enabled = 0;
  std::string ftp_server;
  int ftp_port = 0;
  std::string ftp_user;
  std::string ftp_password;
  std::string ftp_destination;
  int motion_enabled = 0;
  float motion_threshold = 0;
  int motion_duration = 0;
  std::string terminator;
};

// Scans as many fields as line up; the fields after the first failure stay empty.
void scan_fields(const char* line, FileFields& f) {
  LineScanner s(line);
  (void)(s.word(f.version) && s.integer(f.window_x) && s.integer(f.window_y) &&
         s.word(f.video_device) && s.word(f.compressor) && s.integer(f.capture_frames) &&
         s.integer(f.capture_video) && s.word(f.video_folder) && s.integer(f.ftp_enabled) &&
         s.word(f.ftp_server) && s.integer(f.ftp_port) && s.word(f.ftp_user) &&
         s.word(f.ftp_password) && s.word(f.ftp_destination) && s.integer(f.motion_enabled) &&
         s.real(f.motion_threshold) && s.integer(f.motion_duration) && s.word(f.terminator));
}

// A flag takes the low byte of its scanned number.
bool flag_from(int value) { return (value & 0xFF) != 0; }

std::string replace_all(std::string_view text, char from, char to) {
  std::string out(text);
  for (char& c : out) {
    if (c == from) c = to;
  }
  return out;
}

// The video folder when the file leaves it to the current directory. A directory too long
// for the field is kept as ".", which enters nothing and stays where the program is.
std::string current_folder() {
  std::string folder = system_calls().current_directory(kFolderLimit);
  return folder.empty() ? std::string(".") : folder;
}

std::string decode_ftp_text(const std::string& word) { return word == "_" ? kEmptyFtpText : word; }

// An empty text would leave an empty word and shift every later field, so it is written
// as the word that reads back as "nothing chosen".
std::string encode_word(std::string_view text, char blank_as, const char* when_empty) {
  return text.empty() ? std::string(when_empty) : replace_all(text, ' ', blank_as);
}

std::string encode_ftp_text(std::string_view text) {
  return (text.empty() || text == kEmptyFtpText) ? std::string("_") : std::string(text);
}

// The numbers of line 3, each from 0 to its largest value; 0 is the old-file value.
struct NumberKey {
  const char* name;
  int largest;
  std::atomic<int> Settings::*field;  // nullptr: the flag light_filter
};
constexpr NumberKey kNumberKeys[] = {
    {"pre_event", kPreEventLargest, &Settings::pre_event},
    {"keep_free_mb", kKeepFreeMbLargest, &Settings::keep_free_mb},
    {"max_age_days", kMaxAgeDaysLargest, &Settings::max_age_days},
    {"light_filter", 1, nullptr},
    {"warm_up", kWarmUpLargest, &Settings::warm_up},
    {"web_port", kWebPortLargest, &Settings::web_port},
};

int number_value(const Settings& s, const NumberKey& key) {
  return key.field ? (s.*key.field).load() : (s.light_filter ? 1 : 0);
}

void set_number(Settings& s, const NumberKey& key, int value) {
  if (key.field) {
    s.*key.field = value;
  } else {
    s.light_filter = value != 0;
  }
}

// The texts of line 3, empty in an old file.
enum class TextKey { kWebUser, kWebRealm, kWebPassword, kOnEvent };
struct TextKeyName {
  const char* name;
  TextKey key;
};
constexpr TextKeyName kTextKeys[] = {
    {"web_user", TextKey::kWebUser},
    {"web_realm", TextKey::kWebRealm},
    {"web_password", TextKey::kWebPassword},
    {"on_event", TextKey::kOnEvent},
};

std::string text_value(const EventTexts& t, TextKey key) {
  switch (key) {
    case TextKey::kWebUser:
      return t.web_user.str();
    case TextKey::kWebRealm:
      return t.web_realm.str();
    case TextKey::kWebPassword:
      return t.web_password.str();
    case TextKey::kOnEvent:
      return t.on_event.str();
  }
  return {};
}

// Stores a decoded text when it fits its field and means something there.
bool set_text(EventTexts& t, TextKey key, const std::string& value) {
  if (value.empty()) return true;  // the old-file value of every text
  auto fits = [&](std::size_t size) { return value.size() < size; };
  switch (key) {
    case TextKey::kWebUser:
      if (!fits(decltype(t.web_user)::kSize)) return false;
      t.web_user = value;
      return true;
    case TextKey::kWebRealm:
      if (!fits(decltype(t.web_realm)::kSize) || !is_web_realm(value)) return false;
      t.web_realm = value;
      return true;
    case TextKey::kWebPassword:
      if (!fits(decltype(t.web_password)::kSize) || !is_password_digest(value)) return false;
      t.web_password = value;
      return true;
    case TextKey::kOnEvent:
      if (!fits(decltype(t.on_event)::kSize)) return false;
      t.on_event = value;
      return true;
  }
  return false;
}

// A text in line 3: a byte that would end a word, a key or the line, the escape itself,
// and every byte outside printable ASCII are written as %XX.
std::string encode_text(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c <= ' ' || c >= 0x7F || c == '%' || c == '=' || c == '>') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The text back; false for a broken escape or a NUL, which no text field can hold.
bool decode_text(std::string_view word, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      out += word[i];
      continue;
    }
    if (i + 2 >= word.size()) return false;
    const int high = hex_digit(word[i + 1]);
    const int low = hex_digit(word[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool is_version_word(std::string_view word) {
  int version = 0;
  return parse_setting_number(word, 999999, version) && version >= 1;
}

// Line 3 into the record, whose settings of line 3 are at their old-file values. A line
// that is not ours whole (no marker, cut before its terminator) is not read; a bad value
// leaves its key at the old-file value. Returns 54, or 49 when something was not taken.
int apply_events_line(std::string_view line, Settings& settings) {
  const std::vector<std::string_view> words = split_words(line);
  if (words.empty()) return msg::kOk;  // no line 3: a file of two lines
  if (words.size() < 3 || words[0] != kEventsMarker || !is_version_word(words[1]) ||
      words.back() != kTerminator) {
    return msg::kInvalidSetting;
  }
  // key=value words between the version and the terminator; a word without "=" or with a
  // key this version does not know is a later version's, and is passed over.
  std::vector<std::pair<std::string_view, std::string_view>> pairs;
  for (std::size_t i = 2; i + 1 < words.size(); ++i) {
    const std::size_t equals = words[i].find('=');
    if (equals != std::string_view::npos) {
      pairs.emplace_back(words[i].substr(0, equals), words[i].substr(equals + 1));
    }
  }
  // The one value of `key`; a key given twice is not ours to choose between.
  bool all_taken = true;
  auto value_of = [&](std::string_view key, std::string_view& value) {
    int count = 0;
    for (const auto& [k, v] : pairs) {
      if (k == key && count++ == 0) value = v;
    }
    if (count > 1) all_taken = false;
    return count == 1;
  };
  for (const NumberKey& key : kNumberKeys) {
    std::string_view value;
    int parsed = 0;
    if (!value_of(key.name, value)) continue;
    if (parse_setting_number(value, key.largest, parsed)) {
      set_number(settings, key, parsed);
    } else {
      all_taken = false;
    }
  }
  EventTexts texts;
  for (const TextKeyName& key : kTextKeys) {
    std::string_view value;
    std::string decoded;
    if (!value_of(key.name, value)) continue;
    if (!decode_text(value, decoded) || !set_text(texts, key.key, decoded)) all_taken = false;
  }
  // A password belongs to its realm: without one it can never be checked.
  if (!texts.web_password.empty() && texts.web_realm.empty()) {
    texts.web_password = "";
    all_taken = false;
  }
  settings.set_event_texts(texts);
  return all_taken ? msg::kOk : msg::kInvalidSetting;
}

// A line read as fgets does it (at most `limit` - 1 bytes, through a line feed, the buffer
// untouched at the end of the file), which also tells whether the line feed was reached:
// fgets cannot, when the line holds a NUL.
bool read_line(std::FILE* file, char* buffer, int limit, bool& ended) {
  int c = std::fgetc(file);
  if (c == EOF) return false;
  int n = 0;
  ended = false;
  for (; c != EOF; c = std::fgetc(file)) {
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') {
      ended = true;
      break;
    }
    if (n == limit - 1) break;
  }
  buffer[n] = '\0';
  return true;
}

// Reads the rest of the current line (after `line_complete` told whether the last line
// read ended) and then line 3, up to its limit; false when line 3 is longer than that.
bool read_events_line(std::FILE* file, bool line_complete, std::string& out) {
  out.clear();
  int c = 0;
  if (!line_complete) {
    while ((c = std::fgetc(file)) != EOF && c != '\n') {
    }
    if (c == EOF) return true;
  }
  while ((c = std::fgetc(file)) != EOF && c != '\n') {
    if (out.size() == kEventsLineLimit) return false;
    out += static_cast<char>(c);
  }
  return true;
}

std::string events_line(const Settings& settings) {
  std::string line = std::string(kEventsMarker) + " " + kEventsVersion;
  for (const NumberKey& key : kNumberKeys) {
    line += std::string(" ") + key.name + "=" + std::to_string(number_value(settings, key));
  }
  const EventTexts texts = settings.event_texts();
  for (const TextKeyName& key : kTextKeys) {
    line += std::string(" ") + key.name + "=" + encode_text(text_value(texts, key.key));
  }
  return line + " " + kTerminator;
}

}  // namespace

const char* scan_int(const char* text, int& out) {
  const char* q = text;
  while (is_blank(*q)) ++q;
  bool negative = false;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  if (*q < '0' || *q > '9') return nullptr;
  long long value = 0;
  for (; *q >= '0' && *q <= '9'; ++q) {
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*q - '0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  out = static_cast<int>(value);
  return q;
}

void apply_default_settings(Settings& settings) {
  settings.window_x = -1;
  settings.window_y = -1;
  settings.video_device = kNoneName;
  settings.compressor = kNoneName;
  settings.capture_frames = false;
  settings.capture_video = false;
  settings.video_folder = current_folder();
  settings.ftp_enabled = false;
  settings.set_ftp(FtpTexts{});
  settings.motion_enabled = false;
  settings.motion_threshold = 7.5f;
  settings.motion_duration = 30;
  apply_default_event_settings(settings);
  settings.compression_enabled = false;
}

void apply_default_event_settings(Settings& settings) {
  settings.pre_event = 0;
  settings.keep_free_mb = 0;
  settings.max_age_days = 0;
  settings.light_filter = false;
  settings.warm_up = 0;
  settings.web_port = 0;
  settings.set_event_texts(EventTexts{});
}

int read_settings_from(std::FILE* file, Settings& settings, int* events_result) {
  if (events_result) *events_result = msg::kOk;
  char line[kLineBufferSize] = {};
  // Line 1 is skipped. When line 2 is missing the buffer still holds line 1, whose words
  // then fail the version check.
  bool line_complete = false;
  if (read_line(file, line, kFirstLineLimit, line_complete)) {
    read_line(file, line, kLineBufferSize - 1, line_complete);
  }

  FileFields f;
  scan_fields(line, f);
  if (f.version != kFormatVersion) {
    apply_default_settings(settings);
    return msg::kConfigVersion;
  }
  if (f.terminator != kTerminator) {
    apply_default_settings(settings);
    return msg::kConfigTerminator;
  }

  settings.window_x = f.window_x;
  settings.window_y = f.window_y;
  settings.video_device = replace_all(f.video_device, '_', ' ');
  settings.compressor = replace_all(f.compressor, '_', ' ');
  settings.capture_frames = flag_from(f.capture_frames);
  settings.motion_enabled = flag_from(f.motion_enabled);
  // Continuous recording and motion detection are never on together; motion wins.
  settings.capture_video = flag_from(f.capture_video) && !settings.motion_enabled;
  settings.video_folder =
      f.video_folder == "_" ? current_folder() : replace_all(f.video_folder, '>', ' ');
  settings.ftp_enabled = flag_from(f.ftp_enabled);

  FtpTexts ftp;
  ftp.server = decode_ftp_text(f.ftp_server);
  ftp.port = f.ftp_port;
  ftp.user = decode_ftp_text(f.ftp_user);
  const FixedText<kPasswordWordSize> password_word(f.ftp_password);
  ftp.password =
      password_word == "_" ? std::string(kEmptyFtpText) : unscramble_password(password_word.view());
  ftp.destination = decode_ftp_text(f.ftp_destination);
  settings.set_ftp(ftp);

  // A threshold that is not a number would never compare; keep the default instead.
  settings.motion_threshold = std::isfinite(f.motion_threshold) ? f.motion_threshold : 7.5f;
  settings.motion_duration = f.motion_duration;

  // Line 3 has no say in line 2's result or fields.
  apply_default_event_settings(settings);
  std::string events;
  const int events_read = read_events_line(file, line_complete, events)
                              ? apply_events_line(events, settings)
                              : msg::kInvalidSetting;
  if (events_result) *events_result = events_read;
  return msg::kOk;
}

int read_settings(Settings& settings, int* events_result) {
  if (events_result) *events_result = msg::kOk;
  ScopedFile file(system_calls().open_file(kConfigFileName, "r"));
  if (!file) {
    apply_default_settings(settings);
    return msg::kConfigMissing;
  }
  return read_settings_from(file.get(), settings, events_result);
}

std::string settings_file_text(const Settings& settings) {
  const FtpTexts ftp = settings.ftp();
  const std::string password = (ftp.password == kEmptyFtpText || ftp.password == "_")
                                   ? std::string("_")
                                   : scramble_password(ftp.password.view());
  const std::string device = encode_word(settings.video_device.view(), '_', kNoneName);
  const std::string compressor = encode_word(settings.compressor.view(), '_', kNoneName);
  const std::string folder = encode_word(settings.video_folder.view(), '>', "_");
  const std::string server = encode_ftp_text(ftp.server.view());
  const std::string user = encode_ftp_text(ftp.user.view());
  const std::string destination = encode_ftp_text(ftp.destination.view());

  constexpr char kLineFormat[] = "%s %d %d %s %s %d %d %s %d %s %d %s %s %s %d %f %d %s";
  auto format = [&](char* out, std::size_t size) {
    return std::snprintf(
        out, size, kLineFormat, kFormatVersion, settings.window_x, settings.window_y,
        device.c_str(), compressor.c_str(), settings.capture_frames ? 1 : 0,
        settings.capture_video ? 1 : 0, folder.c_str(), settings.ftp_enabled ? 1 : 0,
        server.c_str(), ftp.port, user.c_str(), password.c_str(), destination.c_str(),
        settings.motion_enabled ? 1 : 0, static_cast<double>(settings.motion_threshold.load()),
        settings.motion_duration.load(), kTerminator);
  };
  // The whole line is always written, however long the texts and numbers are.
  const int length = format(nullptr, 0);
  std::string line(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  format(line.data(), line.size() + 1);
  return kFirstLine + line + "\n" + events_line(settings);
}

int write_settings(const Settings& settings) {
  const std::string text = settings_file_text(settings);
  const std::string new_name = std::string(kConfigFileName) + kNewFileSuffix;
  const SystemCalls& sys = system_calls();

  ScopedFile file(sys.open_file(new_name.c_str(), "w+b"));
  if (!file) return msg::kConfigSaveFailed;
  bool written = sys.write_file(text.data(), text.size(), file.get()) == text.size();
  // On the disk before the rename makes it the configuration: a power cut leaves the old
  // file or the new one, whole.
  written = written && sys.flush_file(file.get());
  written = file.close() && written;
  if (!written || !sys.replace_file(new_name.c_str(), kConfigFileName)) {
    sys.remove_file(new_name.c_str());
    return msg::kConfigSaveFailed;
  }
  return msg::kOk;
}

bool parse_setting_number(std::string_view text, int largest, int& out) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > largest) return false;
  out = value;
  return true;
}

bool is_web_realm(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c < ' ' || c >= 0x7F || c == '"' || c == '\\') return false;
  }
  return true;
}

bool is_password_digest(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string web_password_digest(std::string_view user, std::string_view realm,
                                std::string_view password) {
  std::string text;
  text.append(user).append(":").append(realm).append(":").append(password);
  return md5_hex(text);
}

std::string new_web_realm() {
  unsigned char bytes[8] = {};
  if (!random_bytes(bytes, sizeof bytes)) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string realm = "Talvex ";
  for (unsigned char b : bytes) {
    realm += kHex[b >> 4];
    realm += kHex[b & 0x0F];
  }
  return realm;
}

bool update_web_login(EventTexts& texts, std::string_view user, std::string_view password) {
  if (user.empty()) {
    texts.web_user = "";
    texts.web_password = "";
    return true;
  }
  if (password.empty()) {
    if (texts.web_user == user) return true;
    if (!texts.web_password.empty()) return false;
    texts.web_user = user;
    return true;
  }
  const std::string realm = texts.web_realm.empty() ? new_web_realm() : texts.web_realm.str();
  if (!is_web_realm(realm)) return false;
  texts.web_realm = realm;
  texts.web_user = user;
  texts.web_password = web_password_digest(texts.web_user.view(), realm, password);
  return true;
}

bool enter_folder(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  if (std::strcmp(path, "_") == 0 || std::strcmp(path, ".") == 0) return true;
  return system_calls().set_current_directory(path);
}

std::string scramble_password(std::string_view text) {
  return scramble_password(text, system_calls().utc_time().second);
}

std::string scramble_password(std::string_view text, int utc_second) {
  if (text == " " || text == "_") return "_";
  // The key comes from the second. A key that would turn a byte into a NUL or a blank
  // would cut the line or shift its words, so the next key that keeps every byte a word
  // character is taken instead; every key still reads back with unscramble_password.
  const int first = ((utc_second % 3) + 3) % 3;
  for (int i = 0; i < 3; ++i) {
    const PasswordKey key = kPasswordKeys[(first + i) % 3];
    std::string out(1, key.letter);
    bool usable = true;
    for (unsigned char c : text) {
      const char scrambled = static_cast<char>((c + key.shift) & 0xFF);
      usable = usable && scrambled != '\0' && !is_blank(scrambled);
      out += scrambled;
    }
    if (usable) return out;
  }
  // No key can hold this password in the file; it is not saved rather than breaking
  // every other setting.
  return "_";
}

std::string unscramble_password(std::string_view text) {
  if (text == " " || text == "_") return " ";
  if (text.empty()) return " ";
  int shift = 0;
  for (const PasswordKey& key : kPasswordKeys) {
    if (text[0] == key.letter) shift = key.shift;
  }
  if (shift == 0) return " ";
  std::string out;
  out.reserve(text.size() - 1);
  for (unsigned char c : text.substr(1)) out += static_cast<char>((c - shift) & 0xFF);
  return out;
}

}  // namespace talvex
