#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/talvex_messages.h"
#include "common/message_catalogue.h"

namespace talvex {
namespace {

TEST(Catalogue, RangeAndFallback) {
  struct Case {
    int number;
    const char* text;
  } cases[] = {
      {-1, ""},
      {55, ""},
      {1000000, ""},
      {54, "OK!"},
      {0, "Unpredictable behaviour. (000)"},
      {18, "Unable to change to \"Output directory\".\nKeeping current settings. (018)"},
      {33, "\"Talvex_cfg.lst\" created. (033)"},
      {44, "Invalid \"configuration file\" terminator. (044)"},
      {45, "Interrupted recording recovered. (045)"},
      {46, "Unable to save the recording. (046)"},
      {49, "Invalid setting in \"configuration file\". Using its default. (049)"},
      {51, "Unable to run the event command. (051)"},
      {52, "Unable to use \"Talvex_mask.bmp\". Ignoring it. (052)"},
      {53, "Unable to start the live view. (053)"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(message_text(c.number), c.text) << "number " << c.number;
  }
  EXPECT_EQ(program_catalogue().success_code(), msg::kOk);
}

TEST(Catalogue, EveryFailureTextEndsInItsOwnNumber) {
  for (int n = 0; n <= 53; ++n) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "(%03d)", n);
    const std::string text = message_text(n);
    EXPECT_TRUE(program_catalogue().contains(n)) << n;
    ASSERT_GE(text.size(), 5u) << n;
    EXPECT_EQ(text.substr(text.size() - 5), suffix) << n;
  }
}

TEST(Catalogue, RepeatedTextsStaySeparateEntries) {
  const int pairs[][2] = {{8, 22}, {22, 23}, {20, 27}, {30, 31}, {34, 35}, {38, 39}};
  for (const auto& p : pairs) {
    const std::string a = message_text(p[0]);
    const std::string b = message_text(p[1]);
    EXPECT_EQ(a.substr(0, a.size() - 5), b.substr(0, b.size() - 5)) << p[0] << "/" << p[1];
    EXPECT_NE(a, b) << p[0] << "/" << p[1];
  }
}

}  // namespace
}  // namespace talvex
