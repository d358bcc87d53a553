// Tests of Debug: level filtering, labels and tags, log files, and whole lines from many threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sealvault/Debug.h"

namespace {

class DebugTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_level_ = Debug::m_nDebugMode;
    path_ = std::filesystem::temp_directory_path() /
            ("debug-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log");
    ASSERT_TRUE(Debug::SetLogFile(path_.c_str()));
  }
  void TearDown() override {
    Debug::SetLogFile(nullptr);
    Debug::SetDebugMode(saved_level_);
    std::filesystem::remove(path_);
  }
  std::vector<std::string> Lines() {
    std::ifstream in(path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  int saved_level_ = 0;
  std::filesystem::path path_;
};

TEST_F(DebugTest, LevelsFilterEachKindOfOutput) {
  // minimum level per output function
  const std::map<std::string, int> minimum = {
      {"print", 1}, {"dump", 2}, {"tracing", 3}, {"logerror", 0}, {"logging", 0}};
  for (int level = 0; level <= 4; ++level) {
    Debug::SetDebugMode(level);
    Debug log("Level");
    log.print("print at %d\n", level);
    log.dump("dump at %d\n", level);
    log.tracing("tracing at %d\n", level);
    log.logerror("logerror at %d\n", level);
    log.logging("logging at %d\n", level);
  }
  const std::vector<std::string> lines = Lines();
  for (const auto& [kind, lowest] : minimum) {
    for (int level = 0; level <= 4; ++level) {
      const std::string wanted = kind + " at " + std::to_string(level);
      bool found = false;
      for (const std::string& line : lines) found = found || line.ends_with(wanted);
      EXPECT_EQ(found, level >= lowest) << wanted;
    }
  }
}

TEST_F(DebugTest, LinesCarryLabelTagAndFormattedArguments) {
  Debug::SetDebugMode(1);
  Debug labelled("NetClient::Send");
  labelled.logerror("csocket", 42, "code %4d hex %08x text %s unsigned %lu\n", 7, 0xbeefu, "x",
                    9ul);
  Debug plain;
  plain.print("no line end");
  plain.print("second");
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("NetClient::Send: csocket(42): code    7 hex 0000beef text x unsigned 9"),
            std::string::npos)
      << lines[0];
  EXPECT_TRUE(lines[1].ends_with("no line end")) << "a missing line end is added";
  EXPECT_EQ(lines[1].find("::"), std::string::npos);
}

TEST_F(DebugTest, LongMessagesAreWrittenWhole) {
  const std::string body(100000, 'b');
  Debug log;
  log.logerror("%s|end\n", body.c_str());
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with(body + "|end"));
}

TEST_F(DebugTest, ThreadsNeverInterleaveLines) {
  constexpr int kThreads = 8;
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      Debug log("Worker");
      const std::string payload(200, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) log.logerror("T%d-%d %s\n", t, i, payload.c_str());
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::regex whole(R"(.* ERROR Worker: T(\d)-(\d+) ([a-h])\3{199}$)");
  std::vector<int> counts(kThreads, 0);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  for (const std::string& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, whole)) << line.substr(0, 120);
    const int t = std::stoi(match[1]);
    EXPECT_EQ(match[3].str()[0], static_cast<char>('a' + t));
    ++counts[t];
  }
  for (int count : counts) EXPECT_EQ(count, kLines);
}

TEST_F(DebugTest, UnwritableLogFileKeepsTheCurrentTarget) {
  EXPECT_FALSE(Debug::SetLogFile("/nonexistent-dir/x.log"));
  Debug log;
  log.logerror("still here\n");
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("still here"));
}

}  // namespace
