#include "app/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/core/test_support.h"

namespace talvex {
namespace {

using testing::fixed_time;
using testing::read_text;

constexpr char kSeparator[] = "************************************************\n";
constexpr char kStart[] = "2006-12-25 7:5:3 Talvex Capture v3.0.2 [I]\n";
constexpr char kEnd[] = "2006-12-25 7:5:3 Talvex Capture v3.0.2 [T]\n";

class LogTest : public ::testing::Test {
 protected:
  LogTest() { sys_->local_time = fixed_time; }
  testing::ScopedSystemCalls sys_;
  testing::ScratchDirectory dir_;
};

TEST_F(LogTest, RunIsFramedAndEntriesCarryTheirTexts) {
  Log log;
  log.open("Talvex.log");
  ASSERT_TRUE(log.is_open());
  log.message(25);
  log.message(18);  // its text holds a line break: two lines
  log.message(55);  // outside the catalogue: the time stamp and a blank
  log.message(-1);
  log.close();
  log.message(15);  // after the end: not written

  const std::string expected = std::string(kSeparator) + kStart +
                               "2006-12-25 7:5:3 Unable to find \"configuration file\". Using "
                               "defaults. (025)\n" +
                               "2006-12-25 7:5:3 Unable to change to \"Output directory\".\n"
                               "Keeping current settings. (018)\n" +
                               "2006-12-25 7:5:3 \n" + "2006-12-25 7:5:3 \n" + kEnd + kSeparator;
  EXPECT_EQ(read_text("Talvex.log"), expected);
}

TEST_F(LogTest, RunsAppendAndEachLineIsOnDiskAtOnce) {
  testing::write_bytes("Talvex.log", "earlier run\n");
  Log log;
  log.open("Talvex.log");
  log.message(54);
  // Nothing waits for the close: a crash now keeps every line so far.
  EXPECT_EQ(read_text("Talvex.log"),
            std::string("earlier run\n") + kSeparator + kStart + "2006-12-25 7:5:3 OK!\n");
  log.close();
  Log second;
  second.open("Talvex.log");
  second.close();
  const std::string one_run = std::string(kSeparator) + kStart + kEnd + kSeparator;
  const std::string text = read_text("Talvex.log");
  EXPECT_EQ(text.substr(text.size() - one_run.size()), one_run);
}

TEST_F(LogTest, UnopenableFileDropsEverythingQuietly) {
  Log log;
  log.open("no such folder/Talvex.log");
  EXPECT_FALSE(log.is_open());
  log.message(15);
  log.close();
  EXPECT_FALSE(std::filesystem::exists("no such folder"));
}

// The program's log lives as long as the run keeps it. A run that ends without log_close
// (a start-up failure) leaves no end record; entries before and after are not written.
TEST_F(LogTest, ProgramLogEndsWithTheRun) {
  log_message(15);  // no run yet
  {
    ProgramLog run;
    log_open("Talvex.log");
    log_message(25);
  }
  log_message(38);  // the run is over
  log_close();
  EXPECT_EQ(read_text("Talvex.log"), std::string(kSeparator) + kStart +
                                         "2006-12-25 7:5:3 Unable to find \"configuration "
                                         "file\". Using defaults. (025)\n");
  {
    ProgramLog run;
    log_open("Talvex.log");
    log_close();
    log_message(15);  // after the end record
  }
  const std::string one_run = std::string(kSeparator) + kStart + kEnd + kSeparator;
  const std::string text = read_text("Talvex.log");
  EXPECT_EQ(text.substr(text.size() - one_run.size()), one_run);
}

// A thread still logging while the run ends: each of its entries is whole and written
// before the end, none after, and none reaches the log once it is gone.
TEST_F(LogTest, LateLoggerNeverReachesAGoneLog) {
  std::atomic<bool> run_over{false};
  std::atomic<int> logged_during_run{0};
  std::thread late;
  {
    ProgramLog run;
    log_open("Talvex.log");
    late = std::thread([&] {
      for (int i = 0; i < 2000; ++i) {
        const bool during = !run_over;
        log_message(15);
        if (during) ++logged_during_run;
      }
    });
    while (logged_during_run < 50) std::this_thread::yield();
    log_close();
    run_over = true;
  }
  late.join();
  const std::string text = read_text("Talvex.log");
  const std::string end = std::string(kEnd) + kSeparator;
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(text.substr(text.size() - end.size()), end) << "nothing after the end record";
  std::istringstream lines(text);
  int entries = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line == "2006-12-25 7:5:3 Unable to capture sample frame. (015)") ++entries;
  }
  EXPECT_GE(entries, 50);
  EXPECT_LE(entries, logged_during_run.load());
}

TEST_F(LogTest, TwoThreadsNeverTearALine) {
  Log log;
  log.open("Talvex.log");
  constexpr int kPerThread = 500;
  auto writer = [&log](int number) {
    for (int i = 0; i < kPerThread; ++i) log.message(number);
  };
  std::thread a(writer, 15), b(writer, 38);
  a.join();
  b.join();
  log.close();

  std::istringstream lines(read_text("Talvex.log"));
  std::string line;
  int fifteen = 0, thirty_eight = 0, other = 0;
  while (std::getline(lines, line)) {
    if (line == "2006-12-25 7:5:3 Unable to capture sample frame. (015)") {
      ++fifteen;
    } else if (line == "2006-12-25 7:5:3 Unable to access Internet. (038)") {
      ++thirty_eight;
    } else {
      ++other;
    }
  }
  EXPECT_EQ(fifteen, kPerThread);
  EXPECT_EQ(thirty_eight, kPerThread);
  EXPECT_EQ(other, 4);  // the two separators and the two records
}

}  // namespace
}  // namespace talvex
