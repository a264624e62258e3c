#include <gtest/gtest.h>

#include <string>

#include "inspector/command_line.h"

namespace talvex {
namespace {

TEST(InspectorCommandLine, Options) {
  struct Case {
    const char* line;
    std::optional<std::string> folder;
    std::optional<std::string> title;
    bool save_graph;
  } cases[] = {
      {"", {}, {}, false},
      {"-oD:\\cams", "D:\\cams", {}, false},
      {"-oD:\\cams -tGate", "D:\\cams ", "Talvex Inspector - Gate", false},
      {"-tGate -oD:\\cams", "D:\\cams", "Talvex Inspector - Gate ", false},
      {"-g", {}, {}, true},
      {"-oD:\\cams -g", "D:\\cams ", {}, true},
      {"-x -y", {}, {}, false},
      {"-o", "", {}, false},
      {"abc-", {}, {}, false},
      {"-oA -oB", "B", {}, false},
      {"-t", {}, "Talvex Inspector - ", false},
      {"-tOne two three", {}, "Talvex Inspector - One two three", false},
      {"--o", "", {}, false},
      {"-o-g", "", {}, true},
  };
  for (const Case& c : cases) {
    const InspectorOptions o = parse_command_line(c.line);
    EXPECT_EQ(o.video_folder, c.folder) << c.line;
    EXPECT_EQ(o.window_title, c.title) << c.line;
    EXPECT_EQ(o.save_graph, c.save_graph) << c.line;
  }
  const InspectorOptions none = parse_command_line(nullptr);
  EXPECT_FALSE(none.video_folder || none.window_title || none.save_graph);
}

TEST(InspectorCommandLine, OverlongValuesNeverOverrunTheirFields) {
  const std::string folder99 = "C:\\" + std::string(96, 'f');
  EXPECT_EQ(parse_command_line(("-o" + folder99).c_str()).video_folder, folder99);
  // A folder that does not fit is refused whole; an earlier one stays.
  EXPECT_FALSE(parse_command_line(("-o" + folder99 + "g").c_str()).video_folder);
  EXPECT_EQ(parse_command_line(("-oC:\\v -o" + std::string(400, 'x')).c_str()).video_folder,
            "C:\\v ");
  // A title is cut to 99 characters.
  const auto title = parse_command_line(("-t" + std::string(400, 'T') + " -g").c_str());
  ASSERT_TRUE(title.window_title);
  EXPECT_EQ(title.window_title->size(), 99u);
  EXPECT_EQ(title.window_title->rfind("Talvex Inspector - TTT", 0), 0u);
  EXPECT_TRUE(title.save_graph);
}

}  // namespace
}  // namespace talvex
