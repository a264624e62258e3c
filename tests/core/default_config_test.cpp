// The distribution package's default "Talvex.cfg" is what the capture program writes for
// its defaults, with the video folder left to the directory it is started in and the
// installed compressor chosen, so that an installed kit records compressed from the start,
// and with the settings beyond the classic file switched on as the kit ships them.
#include <gtest/gtest.h>

#include "app/settings.h"
#include "app/talvex_messages.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

TEST(DefaultConfiguration, PackageFileIsTheDefaultRecordAndReadsBack) {
  const std::string file = testing::read_bytes(TALVEX_DEFAULT_CONFIG);
  Settings defaults;
  apply_default_settings(defaults);
  defaults.video_folder = ".";
  defaults.compressor = "Talvex MJPEG Compressor";
  defaults.pre_event = 3;
  defaults.keep_free_mb = 2048;
  defaults.light_filter = true;
  defaults.warm_up = 2;
  EXPECT_EQ(file, settings_file_text(defaults));

  testing::ScratchDirectory scratch;
  testing::write_bytes(scratch.path() / "Talvex.cfg", file);
  Settings read;
  int events = 0;
  EXPECT_EQ(read_settings(read, &events), msg::kOk);
  EXPECT_EQ(events, msg::kOk);
  EXPECT_EQ(settings_file_text(read), file);
  EXPECT_EQ(read.web_port, 0);  // the live view stays off until the user sets it up
  EXPECT_EQ(read.compressor, "Talvex MJPEG Compressor");
}

}  // namespace
}  // namespace talvex
