#include "app/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "app/talvex_messages.h"
#include "tests/core/classic_settings_reader.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

using testing::read_bytes;
using testing::write_bytes;

constexpr char kLine1[] = "/* Don't edit by hand. Use Talvex to change. */\n";
constexpr char kDefaultsLine[] =
    "1.4 -1 -1 <none> <none> 0 0 C:\\Video>Files 0 _ 21 _ _ _ 0 7.500000 30 >";
// Line 3 with every setting at the value a file of two lines gives it.
constexpr char kOldFileEventsLine[] =
    "talvex-ext 1 pre_event=0 keep_free_mb=0 max_age_days=0 light_filter=0 warm_up=0 "
    "web_port=0 web_user= web_realm= web_password= on_event= >";

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() {
    testing::fixed_second = 3;
    sys_->utc_time = testing::fixed_time;
    sys_->local_time = testing::fixed_time;
  }
  std::string cwd() { return system_calls().current_directory(99); }

  testing::ScopedSystemCalls sys_;
  testing::ScratchDirectory dir_;
};

// Every field away from its default, so a reset to defaults cannot pass unnoticed.
void fill_non_defaults(Settings& s) {
  s.window_x = 120;
  s.window_y = -7;
  s.video_device = "USB Video Device";
  s.compressor = "MJPEG Compressor";
  s.capture_frames = true;
  s.capture_video = true;
  s.video_folder = "C:\\My Videos";
  s.ftp_enabled = true;
  FtpTexts ftp;
  ftp.server = "ftp.example.org";
  ftp.port = 2121;
  ftp.user = "camera";
  ftp.password = "s3cret!";
  ftp.destination = "cam/latest.jpg";
  s.set_ftp(ftp);
  s.motion_enabled = false;
  s.motion_threshold = 4.5f;
  s.motion_duration = 12;
}

void expect_defaults(const Settings& s, const std::string& folder) {
  EXPECT_EQ(s.window_x, -1);
  EXPECT_EQ(s.window_y, -1);
  EXPECT_EQ(s.video_device, "<none>");
  EXPECT_EQ(s.compressor, "<none>");
  EXPECT_FALSE(s.capture_frames);
  EXPECT_FALSE(s.capture_video);
  EXPECT_EQ(s.video_folder, folder);
  EXPECT_FALSE(s.ftp_enabled);
  const FtpTexts ftp = s.ftp();
  EXPECT_EQ(ftp.server, " ");
  EXPECT_EQ(ftp.port, 21);
  EXPECT_EQ(ftp.user, " ");
  EXPECT_EQ(ftp.password, " ");
  EXPECT_EQ(ftp.destination, " ");
  EXPECT_FALSE(s.motion_enabled);
  EXPECT_EQ(s.motion_threshold, 7.5f);
  EXPECT_EQ(s.motion_duration, 30);
  EXPECT_FALSE(s.compression_enabled);
}

TEST_F(SettingsTest, MissingFileGivesDefaults) {
  Settings s;
  fill_non_defaults(s);
  EXPECT_EQ(read_settings(s), msg::kConfigMissing);
  expect_defaults(s, cwd());
}

TEST_F(SettingsTest, UnusableFilesGiveTheirNumberAndDefaults) {
  static constexpr char kLineWithNul[] = "1.4 -1 -1 <none>\0 <none> 0 0 . 0 _ 21 _ _ _ 0 7.5 30 >";
  const std::string good_tail = " -1 -1 <none> <none> 0 0 . 0 _ 21 _ _ _ 0 7.500000 30 >";
  struct Case {
    const char* name;
    std::string bytes;
    int expected;
  } cases[] = {
      {"empty file", "", msg::kConfigVersion},
      {"line 1 only", kLine1, msg::kConfigVersion},
      {"line 1 without a line end", "/* Don't edit */", msg::kConfigVersion},
      {"older version", kLine1 + std::string("1.3") + good_tail, msg::kConfigVersion},
      {"version with a suffix", kLine1 + std::string("1.4x") + good_tail, msg::kConfigVersion},
      {"last field missing",
       kLine1 + std::string("1.4 -1 -1 <none> <none> 0 0 . 0 _ 21 _ _ _ 0 7.5 30"),
       msg::kConfigTerminator},
      {"line cut short", kLine1 + std::string("1.4 -1 -1 <none>"), msg::kConfigTerminator},
      {"blank inside the server",
       kLine1 + std::string("1.4 -1 -1 <none> <none> 0 0 . 0 ftp host 21 _ _ _ 0 7.5 30 >"),
       msg::kConfigTerminator},
      {"letters where a number belongs",
       kLine1 + std::string("1.4 x -1 <none> <none> 0 0 . 0 _ 21 _ _ _ 0 7.5 30 >"),
       msg::kConfigTerminator},
      {"binary garbage", std::string("\x00\xff\x13\n\x7f\x80\x00 1.4 \xfe", 12),
       msg::kConfigVersion},
      {"NUL inside line 2", kLine1 + std::string(kLineWithNul, sizeof kLineWithNul - 1),
       msg::kConfigTerminator},
      {"huge single line", std::string(1 << 20, 'a'), msg::kConfigVersion},
      {"line 1 longer than its buffer", std::string(600, '/') + "\n1.4" + good_tail,
       msg::kConfigVersion},
  };
  for (const Case& c : cases) {
    write_bytes(kConfigFileName, c.bytes);
    Settings s;
    fill_non_defaults(s);
    EXPECT_EQ(read_settings(s), c.expected) << c.name;
    expect_defaults(s, cwd());
  }
}

TEST_F(SettingsTest, FileBytesAreExact) {
  Settings s;
  s.video_folder = "C:\\Video Files";
  EXPECT_EQ(write_settings(s), msg::kOk);
  EXPECT_EQ(read_bytes(kConfigFileName),
            std::string(kLine1) + kDefaultsLine + "\n" + kOldFileEventsLine);

  fill_non_defaults(s);
  s.capture_video = false;
  s.motion_enabled = true;
  EXPECT_EQ(settings_file_text(s),
            std::string(kLine1) +
                "1.4 120 -7 USB_Video_Device MJPEG_Compressor 1 0 C:\\My>Videos 1 ftp.example.org "
                "2121 camera ct4dsfu\" cam/latest.jpg 1 4.500000 12 >\n" +
                kOldFileEventsLine);

  s.pre_event = 3;
  s.keep_free_mb = 2048;
  s.max_age_days = 3650;
  s.light_filter = true;
  s.warm_up = 2;
  s.web_port = 8080;
  EventTexts texts;
  texts.web_user = "cam one";
  texts.web_realm = "Talvex 0123456789abcdef";
  texts.web_password = "0123456789abcdef0123456789abcdef";
  texts.on_event = "notify.cmd \"%f\" a=b >log 100%";
  s.set_event_texts(texts);
  const std::string text = settings_file_text(s);
  EXPECT_EQ(text.substr(text.rfind('\n') + 1),
            "talvex-ext 1 pre_event=3 keep_free_mb=2048 max_age_days=3650 light_filter=1 "
            "warm_up=2 web_port=8080 web_user=cam%20one web_realm=Talvex%200123456789abcdef "
            "web_password=0123456789abcdef0123456789abcdef "
            "on_event=notify.cmd%20\"%25f\"%20a%3Db%20%3Elog%20100%25 >");
}

TEST_F(SettingsTest, WriteThenReadGivesTheRecordBack) {
  Settings written;
  fill_non_defaults(written);
  written.capture_video = false;
  written.motion_enabled = true;
  written.compression_enabled = true;
  for (int second : {0, 1, 2}) {  // each of the three password keys
    testing::fixed_second = second;
    ASSERT_EQ(write_settings(written), msg::kOk);
    Settings read;
    ASSERT_EQ(read_settings(read), msg::kOk) << second;
    EXPECT_EQ(settings_file_text(read), settings_file_text(written)) << second;
    EXPECT_EQ(read.ftp().password, "s3cret!");
    EXPECT_EQ(read.video_device, "USB Video Device");
    EXPECT_EQ(read.video_folder, "C:\\My Videos");
    EXPECT_TRUE(read.compression_enabled);  // left as it was
  }
  EXPECT_FALSE(std::filesystem::exists("Talvex.cfg.new"));
}

TEST_F(SettingsTest, EmptyTextsNeverShiftTheWords) {
  Settings s;
  s.video_device = "";
  s.compressor = "";
  s.video_folder = "";
  FtpTexts ftp;
  ftp.server = "";
  ftp.user = "";
  ftp.destination = "";
  s.set_ftp(ftp);
  s.motion_duration = 9;
  ASSERT_EQ(write_settings(s), msg::kOk);
  Settings back;
  ASSERT_EQ(read_settings(back), msg::kOk);
  EXPECT_EQ(back.video_device, "<none>");
  EXPECT_EQ(back.compressor, "<none>");
  EXPECT_EQ(back.video_folder, cwd());
  EXPECT_EQ(back.ftp().server, " ");
  EXPECT_EQ(back.motion_duration, 9);
}

TEST_F(SettingsTest, ReadingDecodesTheMarkers) {
  write_bytes(kConfigFileName,
              std::string(kLine1) + "1.4 5 6 My_Cam Some_Codec 1 1 _ 0 _ 21 _ _ _ 1 7.5 30 >");
  Settings s;
  ASSERT_EQ(read_settings(s), msg::kOk);
  EXPECT_EQ(s.video_device, "My Cam");
  EXPECT_EQ(s.compressor, "Some Codec");
  EXPECT_EQ(s.video_folder, cwd());  // "_" is the current directory
  EXPECT_TRUE(s.motion_enabled);
  EXPECT_FALSE(s.capture_video);  // never on together with motion detection
  EXPECT_EQ(s.ftp().server, " ");
  EXPECT_EQ(s.ftp().password, " ");
}

TEST_F(SettingsTest, OddNumbersAndFlags) {
  write_bytes(kConfigFileName, std::string(kLine1) +
                                   "1.4 99999999999 -99999999999 <none> <none> 2 256 . 0 _ "
                                   "+21 _ _ _ 0 nan 30 >");
  Settings s;
  ASSERT_EQ(read_settings(s), msg::kOk);
  EXPECT_EQ(s.window_x, INT_MAX);
  EXPECT_EQ(s.window_y, INT_MIN);
  EXPECT_TRUE(s.capture_frames);  // low byte 2
  EXPECT_FALSE(s.capture_video);  // low byte of 256 is 0
  EXPECT_EQ(s.ftp().port, 21);
  EXPECT_EQ(s.motion_threshold, 7.5f);  // not a number: the default
}

// The scanner of the file's numbers and the dialogs' number fields: "%d" where that is
// defined, saturation where it is not (the Motion Detection field takes 510 digits).
TEST(ScanInt, ReadsLikeScanfAndSaturates) {
  const std::string nines(510, '9');
  struct Case {
    std::string text;
    bool read;
    int value;
    std::size_t length;  // characters taken
  } cases[] = {
      {"42", true, 42, 2},
      {" \t-17 s", true, -17, 5},
      {"+8", true, 8, 2},
      {"0", true, 0, 1},
      {"2147483647", true, INT_MAX, 10},
      {"2147483648", true, INT_MAX, 10},
      {"-2147483648", true, INT_MIN, 11},
      {"-2147483649", true, INT_MIN, 11},
      {"4294967301", true, INT_MAX, 10},  // not 5, as a cut to 32 bits would give
      {nines, true, INT_MAX, 510},
      {"-" + nines, true, INT_MIN, 511},
      {"", false, 0, 0},
      {"   ", false, 0, 0},
      {"abc", false, 0, 0},
      {"-", false, 0, 0},
      {"+ 5", false, 0, 0},
  };
  for (const Case& c : cases) {
    int value = 777;
    const char* end = scan_int(c.text.c_str(), value);
    if (!c.read) {
      EXPECT_EQ(end, nullptr) << c.text;
      EXPECT_EQ(value, 777) << c.text;
      continue;
    }
    ASSERT_NE(end, nullptr) << c.text;
    EXPECT_EQ(value, c.value) << c.text.substr(0, 20);
    EXPECT_EQ(static_cast<std::size_t>(end - c.text.c_str()), c.length) << c.text.substr(0, 20);
  }
}

// Words at and past every text field's size: cut to fit, the rest of the line still read.
TEST_F(SettingsTest, LongWordsAreCutToTheirField) {
  struct Field {
    int position;  // word index in line 2
    std::size_t size;
    std::string (*value)(const Settings&);
  } fields[] = {
      {3, 75, [](const Settings& s) { return s.video_device.str(); }},
      {4, 100, [](const Settings& s) { return s.compressor.str(); }},
      {7, 100, [](const Settings& s) { return s.video_folder.str(); }},
      {9, 50, [](const Settings& s) { return s.ftp().server.str(); }},
      {11, 30, [](const Settings& s) { return s.ftp().user.str(); }},
      {13, 100, [](const Settings& s) { return s.ftp().destination.str(); }},
  };
  for (const Field& f : fields) {
    for (std::size_t length : {f.size - 2, f.size - 1, f.size, f.size + 1, std::size_t{400}}) {
      std::string words[] = {"1.4", "-1", "-1", "d", "c", "0", "0",   ".",  "0",
                             "s",   "21", "u",  "_", "t", "0", "7.5", "30", ">"};
      words[f.position] = std::string(length, 'k');
      std::string line = kLine1;
      for (const std::string& w : words) line += w + " ";
      write_bytes(kConfigFileName, line);
      Settings s;
      ASSERT_EQ(read_settings(s), msg::kOk) << f.position << " length " << length;
      EXPECT_EQ(f.value(s), std::string(std::min(length, f.size - 1), 'k'))
          << f.position << " length " << length;
      EXPECT_EQ(s.motion_duration, 30) << f.position << " length " << length;
    }
  }
}

TEST_F(SettingsTest, LongestRecordSurvivesARoundTrip) {
  Settings s;
  s.window_x = INT_MIN;
  s.window_y = INT_MIN;
  s.video_device = std::string(74, 'D');
  s.compressor = std::string(99, 'C');
  s.video_folder = std::string(99, 'F');
  FtpTexts ftp;
  ftp.server = std::string(49, 'S');
  ftp.port = INT_MIN;
  ftp.user = std::string(29, 'U');
  ftp.password = std::string(29, 'P');
  ftp.destination = std::string(99, 'T');
  s.set_ftp(ftp);
  s.motion_threshold = 3.4e38f;
  s.motion_duration = INT_MIN;
  ASSERT_EQ(write_settings(s), msg::kOk);
  EXPECT_GT(read_bytes(kConfigFileName).size(), 512u);  // longer than the classic buffer
  Settings back;
  ASSERT_EQ(read_settings(back), msg::kOk);
  EXPECT_EQ(settings_file_text(back), settings_file_text(s));
}

TEST_F(SettingsTest, FailedWriteKeepsTheOldFile) {
  const std::string old_file = std::string(kLine1) + kDefaultsLine;
  Settings s;
  fill_non_defaults(s);
  struct Case {
    const char* name;
    void (*fault)(SystemCalls&);
  } cases[] = {
      {"cannot create",
       [](SystemCalls& c) {
         c.open_file = [](const char*, const char*) -> std::FILE* { return nullptr; };
       }},
      {"disk full midway",
       [](SystemCalls& c) {
         c.write_file = [](const void* data, std::size_t size, std::FILE* f) {
           return std::fwrite(data, 1, size / 2, f);
         };
       }},
      {"cannot replace",
       [](SystemCalls& c) { c.replace_file = [](const char*, const char*) { return false; }; }},
  };
  for (const Case& c : cases) {
    write_bytes(kConfigFileName, old_file);
    testing::ScopedSystemCalls fault;
    c.fault(system_calls());
    EXPECT_EQ(write_settings(s), msg::kConfigSaveFailed) << c.name;
    EXPECT_EQ(read_bytes(kConfigFileName), old_file) << c.name;
    EXPECT_FALSE(std::filesystem::exists("Talvex.cfg.new")) << c.name;
  }
}

TEST_F(SettingsTest, PasswordScrambling) {
  struct Case {
    int second;
    const char* scrambled;
  } cases[] = {{0, "cbcd"}, {1, "jcde"}, {2, "wdef"}, {59, "wdef"}, {30, "cbcd"}};
  for (const Case& c : cases) {
    EXPECT_EQ(scramble_password("abc", c.second), c.scrambled) << c.second;
    EXPECT_EQ(unscramble_password(c.scrambled), "abc") << c.second;
  }
  EXPECT_EQ(scramble_password(" ", 0), "_");
  EXPECT_EQ(scramble_password("_", 1), "_");
  EXPECT_EQ(unscramble_password("_"), " ");
  EXPECT_EQ(unscramble_password(" "), " ");
  EXPECT_EQ(unscramble_password("xabc"), " ");  // unknown key letter
  EXPECT_EQ(unscramble_password("j"), "");      // key letter alone
  EXPECT_EQ(unscramble_password("c\x01"), std::string(1, '\0'));
}

// A key that turns a byte into a NUL or a blank would break the whole line; the next key
// is taken, and a password no key can hold is not saved.
TEST_F(SettingsTest, PasswordKeyNeverBreaksTheLine) {
  const std::string y_umlaut = "pass\xff";  // 0xFF + 1 would be NUL
  const std::string scrambled = scramble_password(y_umlaut, 0);
  EXPECT_EQ(scrambled[0], 'j');
  EXPECT_EQ(unscramble_password(scrambled), y_umlaut);
  EXPECT_EQ(scramble_password("\x1f", 0)[0], 'j');  // 0x1F + 1 would be a blank
  EXPECT_EQ(scramble_password("\xfd\xfe\xff", 0), "_");

  Settings s;
  FtpTexts ftp;
  ftp.password = y_umlaut;
  s.set_ftp(ftp);
  testing::fixed_second = 0;
  ASSERT_EQ(write_settings(s), msg::kOk);
  Settings back;
  ASSERT_EQ(read_settings(back), msg::kOk);
  EXPECT_EQ(back.ftp().password, y_umlaut);
}

TEST_F(SettingsTest, PasswordWordIsCutBeforeUnscrambling) {
  // A 40-byte word: 31 bytes kept, 30 unscrambled, 29 fit the field.
  write_bytes(kConfigFileName, std::string(kLine1) + "1.4 -1 -1 d c 0 0 . 0 s 21 u c" +
                                   std::string(39, 'b') + " t 0 7.5 30 >");
  Settings s;
  ASSERT_EQ(read_settings(s), msg::kOk);
  EXPECT_EQ(s.ftp().password, std::string(29, 'a'));
}

TEST_F(SettingsTest, CurrentDirectoryTooLongForTheFieldStaysPut) {
  sys_->current_directory = [](std::size_t) { return std::string(); };
  Settings s;
  EXPECT_EQ(read_settings(s), msg::kConfigMissing);
  EXPECT_EQ(s.video_folder, ".");
  EXPECT_TRUE(enter_folder(s.video_folder.c_str()));
}

TEST_F(SettingsTest, EnterFolder) {
  std::filesystem::create_directory("videos");
  const std::string start = cwd();
  EXPECT_FALSE(enter_folder(nullptr));
  EXPECT_FALSE(enter_folder(""));
  EXPECT_TRUE(enter_folder("."));
  EXPECT_TRUE(enter_folder("_"));
  EXPECT_FALSE(enter_folder("no such folder"));
  EXPECT_EQ(cwd(), start);
  EXPECT_TRUE(enter_folder("videos"));
  EXPECT_NE(cwd(), start);
}

// ---- Line 3: the settings beyond the classic two lines ----

// Every setting of line 3 away from its old-file value.
void fill_event_settings(Settings& s) {
  s.pre_event = 30;
  s.keep_free_mb = 10000000;
  s.max_age_days = 3650;
  s.light_filter = true;
  s.warm_up = 30;
  s.web_port = 65535;
  EventTexts texts;
  texts.web_user = "camera";
  texts.web_realm = "Talvex 0123456789abcdef";
  texts.web_password = "00112233445566778899aabbccddeeff";
  texts.on_event = "mail.cmd %f";
  s.set_event_texts(texts);
}

struct EventValues {
  int pre_event, keep_free_mb, max_age_days;
  bool light_filter;
  int warm_up, web_port;
  std::string web_user, web_realm, web_password, on_event;
  bool operator==(const EventValues&) const = default;
};

EventValues event_values(const Settings& s) {
  const EventTexts t = s.event_texts();
  return {s.pre_event, s.keep_free_mb,   s.max_age_days,    s.light_filter,       s.warm_up,
          s.web_port,  t.web_user.str(), t.web_realm.str(), t.web_password.str(), t.on_event.str()};
}

const EventValues kOldFileValues{0, 0, 0, false, 0, 0, "", "", "", ""};

// The file up to the end of line 2, as the classic program wrote it.
std::string two_lines_of(const std::string& file) {
  const std::size_t first = file.find('\n');
  const std::size_t second = file.find('\n', first + 1);
  return second == std::string::npos ? file : file.substr(0, second);
}

testing::ClassicSettings classic_read(const std::string& bytes, const std::string& cwd) {
  write_bytes("classic.cfg", bytes);
  std::FILE* f = std::fopen("classic.cfg", "r");
  const testing::ClassicSettings s = testing::classic_read_settings(f, cwd);
  std::fclose(f);
  return s;
}

// The classic reader, run on every kind of file this version writes, stops at the line
// feed after line 2: it reads exactly what it read of the file without line 3, and where
// line 2 fits its 510 characters, that is the record as written.
TEST_F(SettingsTest, ClassicReaderReadsEveryFileThisVersionWrites) {
  struct Case {
    const char* name;
    void (*fill)(Settings&);
    bool fits_classic_line;
  } cases[] = {
      {"all defaults", [](Settings&) {}, true},
      {"every field set", fill_non_defaults, true},
      {"line 3 with every key", fill_event_settings, true},
      {"longest device", [](Settings& s) { s.video_device = std::string(74, 'D'); }, true},
      {"longest folder", [](Settings& s) { s.video_folder = std::string(99, 'F'); }, true},
      {"longest FTP texts",
       [](Settings& s) {
         FtpTexts ftp;
         ftp.server = std::string(49, 'S');
         ftp.user = std::string(29, 'U');
         ftp.password = std::string(29, 'P');
         ftp.destination = std::string(99, 'T');
         s.set_ftp(ftp);
       },
       true},
      {"every text at its longest",
       [](Settings& s) {
         s.video_device = std::string(74, 'D');
         s.compressor = std::string(99, 'C');
         s.video_folder = std::string(99, 'F');
         FtpTexts ftp;
         ftp.server = std::string(49, 'S');
         ftp.user = std::string(29, 'U');
         ftp.password = std::string(29, 'P');
         ftp.destination = std::string(99, 'T');
         s.set_ftp(ftp);
       },
       false},  // longer than the classic buffer: cut there, with or without line 3
      {"line 3 at its longest",
       [](Settings& s) {
         fill_event_settings(s);
         EventTexts t = s.event_texts();
         t.web_user = std::string(29, '\xff');
         t.on_event = std::string(259, ' ');
         s.set_event_texts(t);
       },
       true},
  };
  for (const Case& c : cases) {
    Settings s;
    s.video_folder = "C:\\Video Files";
    c.fill(s);
    ASSERT_EQ(write_settings(s), msg::kOk) << c.name;
    const std::string file = read_bytes(kConfigFileName);
    ASSERT_NE(two_lines_of(file), file) << c.name;  // there is a line 3
    const testing::ClassicSettings three = classic_read(file, cwd());
    EXPECT_EQ(three, classic_read(two_lines_of(file), cwd())) << c.name;
    if (c.fits_classic_line) {
      EXPECT_EQ(three, testing::classic_view(s)) << c.name;
    } else {
      EXPECT_NE(three.result, 54) << c.name;
    }
  }
}

TEST_F(SettingsTest, EventSettingsRoundTrip) {
  std::string every_byte;
  for (int c = 1; c < 256; ++c) every_byte += static_cast<char>(c);
  const std::string texts[] = {"",
                               " ",
                               "a b",
                               "key=value",
                               "a>b",
                               ">",
                               "_",
                               "__",
                               "\xff",
                               "%",
                               "%41",
                               "100%",
                               "\t\r\n\x7f",
                               "C:\\x y\\z.cmd \"%f\"",
                               every_byte.substr(0, 259),
                               std::string(259, '\xff')};
  for (const std::string& text : texts) {
    Settings written;
    fill_non_defaults(written);
    fill_event_settings(written);
    EventTexts t = written.event_texts();
    t.on_event = text;
    t.web_user = text;  // cut to its 29 bytes
    written.set_event_texts(t);
    ASSERT_EQ(write_settings(written), msg::kOk);
    Settings read;
    int events = 0;
    ASSERT_EQ(read_settings(read, &events), msg::kOk);
    EXPECT_EQ(events, msg::kOk) << text;
    EXPECT_EQ(event_values(read), event_values(written)) << text;
    EXPECT_EQ(read.event_texts().on_event, text);
    EXPECT_EQ(settings_file_text(read), settings_file_text(written));
  }
}

// One line 3 after a good line 2: which settings it gives, and whether 049 is due.
TEST_F(SettingsTest, EventSettingsFromLine3) {
  const std::string line2 = std::string(kLine1) + kDefaultsLine + "\n";
  const std::string all =
      "pre_event=3 keep_free_mb=2048 max_age_days=7 light_filter=1 warm_up=2 web_port=8080 "
      "web_user=cam web_realm=Talvex%20r web_password=00112233445566778899aabbccddeeff "
      "on_event=x.cmd%20%25f";
  const EventValues all_values{
      3, 2048, 7, true, 2, 8080, "cam", "Talvex r", "00112233445566778899aabbccddeeff", "x.cmd %f"};
  auto with = [&](EventValues v, auto change) {
    change(v);
    return v;
  };
  struct Case {
    const char* name;
    std::string line3;
    EventValues expected;
    int events_result;
  } cases[] = {
      {"no line 3", "", kOldFileValues, msg::kOk},
      {"an empty line 3", "\n", kOldFileValues, msg::kOk},
      {"every key", "talvex-ext 1 " + all + " >", all_values, msg::kOk},
      {"keys in another order, a later version, keys it added",
       "talvex-ext 7 zoom=4 web_port=8080 flag pre_event=3 >",
       with(kOldFileValues, [](EventValues& v) { v.web_port = 8080, v.pre_event = 3; }), msg::kOk},
      {"line ends of another system", "talvex-ext 1 warm_up=5 >\r\n",
       with(kOldFileValues, [](EventValues& v) { v.warm_up = 5; }), msg::kOk},
      {"a key given twice", "talvex-ext 1 warm_up=5 pre_event=3 warm_up=6 >",
       with(kOldFileValues, [](EventValues& v) { v.pre_event = 3; }), msg::kInvalidSetting},
      {"pre_event past its range", "talvex-ext 1 pre_event=31 warm_up=2 >",
       with(kOldFileValues, [](EventValues& v) { v.warm_up = 2; }), msg::kInvalidSetting},
      {"negative", "talvex-ext 1 max_age_days=-1 >", kOldFileValues, msg::kInvalidSetting},
      {"not a number", "talvex-ext 1 keep_free_mb=2G >", kOldFileValues, msg::kInvalidSetting},
      {"no value", "talvex-ext 1 web_port= >", kOldFileValues, msg::kInvalidSetting},
      {"port past its range", "talvex-ext 1 web_port=65536 >", kOldFileValues,
       msg::kInvalidSetting},
      {"huge number", "talvex-ext 1 keep_free_mb=99999999999999999999 >", kOldFileValues,
       msg::kInvalidSetting},
      {"flag of 2", "talvex-ext 1 light_filter=2 >", kOldFileValues, msg::kInvalidSetting},
      {"broken escape", "talvex-ext 1 on_event=a%2 >", kOldFileValues, msg::kInvalidSetting},
      {"escaped NUL", "talvex-ext 1 on_event=a%00b >", kOldFileValues, msg::kInvalidSetting},
      {"text too long", "talvex-ext 1 web_user=" + std::string(30, 'u') + " >", kOldFileValues,
       msg::kInvalidSetting},
      {"command too long", "talvex-ext 1 on_event=" + std::string(260, 'c') + " >", kOldFileValues,
       msg::kInvalidSetting},
      {"password that is no digest", "talvex-ext 1 web_realm=r web_password=secret >",
       with(kOldFileValues, [](EventValues& v) { v.web_realm = "r"; }), msg::kInvalidSetting},
      {"password without its realm", "talvex-ext 1 web_password=00112233445566778899aabbccddeeff >",
       kOldFileValues, msg::kInvalidSetting},
      {"realm with a quote", "talvex-ext 1 web_realm=a%22b >", kOldFileValues,
       msg::kInvalidSetting},
      // Lines that are not ours whole: nothing of them is taken.
      {"cut before its terminator", "talvex-ext 1 " + all, kOldFileValues, msg::kInvalidSetting},
      {"cut inside a word", "talvex-ext 1 pre_event=3 keep_fr", kOldFileValues,
       msg::kInvalidSetting},
      {"no marker", "1 " + all + " >", kOldFileValues, msg::kInvalidSetting},
      {"version 0", "talvex-ext 0 " + all + " >", kOldFileValues, msg::kInvalidSetting},
      {"overlong", "talvex-ext 1 pre_event=3 x=" + std::string(5000, 'x') + " >", kOldFileValues,
       msg::kInvalidSetting},
      {"binary", std::string("\x00\xfftalvex-ext\x01 1 >\x80", 18), kOldFileValues,
       msg::kInvalidSetting},
      {"a line 4 after it", "talvex-ext 1 warm_up=5 >\ngarbage",
       with(kOldFileValues, [](EventValues& v) { v.warm_up = 5; }), msg::kOk},
  };
  Settings plain;
  plain.video_folder = "C:\\Video Files";
  for (const Case& c : cases) {
    write_bytes(kConfigFileName, line2 + c.line3);
    Settings s;
    fill_event_settings(s);  // whatever the record held before
    int events = 0;
    ASSERT_EQ(read_settings(s, &events), msg::kOk) << c.name;
    EXPECT_EQ(events, c.events_result) << c.name;
    EXPECT_EQ(event_values(s), c.expected) << c.name;
    // Line 2's fields are those of the file without line 3.
    EXPECT_EQ(two_lines_of(settings_file_text(s)), two_lines_of(settings_file_text(plain)))
        << c.name;
  }
}

// A line 2 that fails takes every setting to its default, line 3's too; a line 3 after an
// overlong line 2 is the line after its line feed.
TEST_F(SettingsTest, Line3FollowsLine2) {
  write_bytes(kConfigFileName, std::string(kLine1) +
                                   "1.3 -1 -1 <none> <none> 0 0 . 0 _ 21 _ _ "
                                   "_ 0 7.5 30 >\ntalvex-ext 1 warm_up=5 >");
  Settings s;
  fill_event_settings(s);
  int events = 0;
  EXPECT_EQ(read_settings(s, &events), msg::kConfigVersion);
  EXPECT_EQ(events, msg::kOk);
  EXPECT_EQ(event_values(s), kOldFileValues);

  write_bytes(kConfigFileName, std::string(kLine1) +
                                   "1.4 -1 -1 <none> <none> 0 0 . 0 _ 21 _ _ "
                                   "_ 0 7.5 30 > " +
                                   std::string(2000, 'x') + "\ntalvex-ext 1 warm_up=5 >");
  EXPECT_EQ(read_settings(s, &events), msg::kOk);
  EXPECT_EQ(events, msg::kOk);
  EXPECT_EQ(s.warm_up, 5);
}

// What the dialog does with the user and password fields.
TEST(WebLogin, DialogKeepsOrReplacesTheStoredPassword) {
  EventTexts t;
  ASSERT_TRUE(update_web_login(t, "cam", "pw"));
  const std::string realm = t.web_realm.str();
  EXPECT_TRUE(is_web_realm(realm));
  EXPECT_EQ(t.web_password, web_password_digest("cam", realm, "pw"));

  const EventTexts before = t;
  EXPECT_TRUE(update_web_login(t, "cam", ""));  // empty: the stored password stays
  EXPECT_EQ(t.web_password, before.web_password.view());
  // Another user without the password: the stored digest was made with the old name.
  EXPECT_FALSE(update_web_login(t, "guard", ""));
  EXPECT_EQ(t.web_user, "cam");
  EXPECT_EQ(t.web_password, before.web_password.view());

  ASSERT_TRUE(update_web_login(t, "guard", "new"));
  EXPECT_EQ(t.web_realm, realm);  // the installation keeps its realm
  EXPECT_EQ(t.web_password, web_password_digest("guard", realm, "new"));

  ASSERT_TRUE(update_web_login(t, "", ""));  // no user: no login
  EXPECT_TRUE(t.web_password.empty());
  EXPECT_TRUE(update_web_login(t, "night", ""));  // nothing stored to keep
  EXPECT_EQ(t.web_user, "night");
  EXPECT_TRUE(t.web_password.empty());
}

TEST(WebLogin, DigestAndRealm) {
  // RFC 2617's example: Mufasa, "testrealm@host.com", "Circle Of Life".
  EXPECT_EQ(web_password_digest("Mufasa", "testrealm@host.com", "Circle Of Life"),
            "939e7578ed9e3c518a452acee763bce9");
  const std::string a = new_web_realm();
  const std::string b = new_web_realm();
  EXPECT_TRUE(is_web_realm(a)) << a;
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind("Talvex ", 0), 0u);
  EXPECT_TRUE(is_password_digest(web_password_digest("u", a, "p")));
  EXPECT_FALSE(is_password_digest("939E7578ED9E3C518A452ACEE763BCE9"));
  EXPECT_FALSE(is_web_realm(""));
  EXPECT_FALSE(is_web_realm("a\\b"));
}

}  // namespace
}  // namespace talvex
