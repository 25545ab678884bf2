#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "log/log_writer.h"
#include "log/repeat_filter.h"
#include "log/status_line.h"
#include "tests/kit/temp_dir.h"

namespace zent {
namespace {

using testing::ReadFile;
using testing::TempDir;

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(StatusLine, TimeStampThenTextUnchanged) {
  EXPECT_EQ(FormatStatusLine(At(2007, 3, 9, 7, 4, 6), "Connecting server..."), "07:04:06 : Connecting server...");
  EXPECT_EQ(FormatStatusLine(At(2007, 3, 9, 23, 59, 59), ""), "23:59:59 : ");
  const std::string longText(90, 'x');
  EXPECT_EQ(FormatStatusLine(At(2007, 3, 9, 0, 0, 0), longText), "00:00:00 : " + longText);
}

TEST(StatusLine, LogFileNamePerPeriod) {
  const std::tm t = At(2007, 3, 9, 12, 0, 0);
  LogSettings s{1, LOG_PERIOD_DAY, "/var/logs/x.txt", "zent_log.txt"};
  EXPECT_EQ(LogFileName(s, t, "/home/u/Documents"), "/var/logs/2007_03_09_zent_log.txt");
  s.logPeriod = LOG_PERIOD_MONTH;
  EXPECT_EQ(LogFileName(s, t, "/home/u/Documents"), "/var/logs/2007_03_zent_log.txt");
  s.logPeriod = LOG_PERIOD_YEAR;
  EXPECT_EQ(LogFileName(s, t, "/home/u/Documents"), "/var/logs/2007_zent_log.txt");
  for (int other : {0, 4, -1}) {
    s.logPeriod = other;
    EXPECT_EQ(LogFileName(s, t, "/home/u/Documents"), "/var/logs/x.txt");
  }
  // A path without a folder (a new profile's " ", the default "tmpPath") lies in the documents
  // folder, not in the file-system root or the working folder.
  for (const char* relative : {"tmpPath", " "}) {
    s = {1, LOG_PERIOD_DAY, relative, "zent_log.txt"};
    EXPECT_EQ(LogFileName(s, t, "/home/u/Documents"), "/home/u/Documents/2007_03_09_zent_log.txt");
    s.logPeriod = 0;
    EXPECT_EQ(LogFileName(s, t, "/home/u/Documents"), std::string("/home/u/Documents/") + relative);
  }
}

TEST(StatusLine, MidnightStartsANewDailyFile) {
  TempDir dir;
  const LogSettings s{1, LOG_PERIOD_DAY, dir.file("log"), "zent_log.txt"};
  const std::tm before = At(2007, 3, 9, 23, 59, 59);
  const std::tm after = At(2007, 3, 10, 0, 0, 0);
  AppendLogLine(LogFileName(s, before, "/home/u/Documents"), FormatStatusLine(before, "late"));
  AppendLogLine(LogFileName(s, after, "/home/u/Documents"), FormatStatusLine(after, "early"));
  EXPECT_EQ(ReadFile(dir.file("2007_03_09_zent_log.txt")), "23:59:59 : late\r\n");
  EXPECT_EQ(ReadFile(dir.file("2007_03_10_zent_log.txt")), "00:00:00 : early\r\n");
}

TEST(LogAppend, LinesEndInCrLfAndAnUnopenableFileIsSkipped) {
  TempDir dir;
  const std::string path = dir.file("zent_log.txt");
  EXPECT_TRUE(AppendLogLine(path, "12:00:00 : first"));
  EXPECT_TRUE(AppendLogLine(path, "12:00:00 : "));
  EXPECT_EQ(ReadFile(path), "12:00:00 : first\r\n12:00:00 : \r\n");
  EXPECT_FALSE(AppendLogLine(dir.file("no/such/dir/log.txt"), "lost"));
  EXPECT_FALSE(AppendLogLine(dir.path(), "a folder is no file"));

  // Private to the group at most, and never written through a link planted in its place.
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0037, 0u);
  testing::WriteFile(dir.file("victim"), "precious");
  std::filesystem::create_symlink(dir.file("victim"), dir.file("planted.txt"));
  EXPECT_FALSE(AppendLogLine(dir.file("planted.txt"), "12:00:00 : line"));
  EXPECT_EQ(ReadFile(dir.file("victim")), "precious");
}

TEST(LogAppend, AFileRemovedBetweenLinesIsStartedAnew) {
  TempDir dir;
  const std::string path = dir.file("zent_log.txt");
  AppendLogLine(path, "one");
  std::filesystem::remove(path);
  AppendLogLine(path, "two");
  EXPECT_EQ(ReadFile(path), "two\r\n");
}

// Every line must land whole, in each thread's own order, with none lost.
void ExpectWholeLines(const std::string& content, int threads, int perThread) {
  std::vector<int> next(threads, 0);
  std::size_t pos = 0;
  int total = 0;
  while (pos < content.size()) {
    const std::size_t end = content.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    const std::string line = content.substr(pos, end - pos);
    int thread = -1, index = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &thread, &index), 2) << line;
    ASSERT_TRUE(thread >= 0 && thread < threads);
    ASSERT_EQ(line, "thread " + std::to_string(thread) + " line " + std::to_string(index) + std::string(40, '.'));
    ASSERT_EQ(index, next[thread]++);
    pos = end + 2;
    ++total;
  }
  EXPECT_EQ(total, threads * perThread);
}

std::string NumberedLine(int thread, int index) {
  return "thread " + std::to_string(thread) + " line " + std::to_string(index) + std::string(40, '.');
}

TEST(LogAppend, TwoThreadsAppendingDirectlyNeverMixLines) {
  TempDir dir;
  const std::string path = dir.file("zent_log.txt");
  constexpr int kLines = 10000;
  auto writer = [&](int thread) {
    for (int i = 0; i < kLines; ++i) AppendLogLine(path, NumberedLine(thread, i));
  };
  std::thread a(writer, 0), b(writer, 1);
  a.join();
  b.join();
  ExpectWholeLines(ReadFile(path), 2, kLines);
}

TEST(LogWriter, TwoThreadsHandingOverLinesKeepOrderAndLoseNone) {
  TempDir dir;
  const std::string path = dir.file("zent_log.txt");
  constexpr int kLines = 10000;
  LogWriter log;
  auto writer = [&](int thread) {
    for (int i = 0; i < kLines; ++i) log.Append(path, NumberedLine(thread, i));
  };
  std::thread a(writer, 0), b(writer, 1);
  a.join();
  b.join();
  log.Flush();
  ExpectWholeLines(ReadFile(path), 2, kLines);
}

TEST(LogWriter, DestructionWritesWhatIsQueued) {
  TempDir dir;
  const std::string path = dir.file("zent_log.txt");
  {
    LogWriter log;
    for (int i = 0; i < 100; ++i) log.Append(path, "line");
  }
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += "line\r\n";
  EXPECT_EQ(ReadFile(path), expected);
}

TEST(RepeatFilter, RepeatsAreCountedAndSaidAtMostOnceAMinute) {
  RepeatFilter filter;
  using Lines = std::vector<std::string>;
  const auto t0 = RepeatFilter::Clock::time_point{} + std::chrono::hours(1);
  EXPECT_EQ(filter.Take("lost", t0), Lines{"lost"});
  // A night of the same line every 2 s: one count line a minute, not 30.
  Lines written;
  for (int i = 1; i <= 90; ++i) {
    for (auto& line : filter.Take("lost", t0 + std::chrono::seconds(2 * i))) written.push_back(line);
  }
  EXPECT_EQ(written,
            (Lines{"(last line repeated 30 times)", "(last line repeated 30 times)", "(last line repeated 30 times)"}));
  // Another line brings out the count still owed first; then it stands on its own.
  EXPECT_EQ(filter.Take("back", t0 + std::chrono::seconds(181)), Lines{"back"});
  EXPECT_EQ(filter.Take("back", t0 + std::chrono::seconds(182)), Lines{});
  // Said just twice, the line stands as itself.
  EXPECT_EQ(filter.Take("lost", t0 + std::chrono::seconds(183)), (Lines{"back", "lost"}));
  EXPECT_EQ(filter.Take("lost", t0 + std::chrono::seconds(184)), Lines{});
  EXPECT_EQ(filter.Take("lost", t0 + std::chrono::seconds(185)), Lines{});
  EXPECT_EQ(filter.Reset(), Lines{"(last line repeated 2 times)"});
  EXPECT_EQ(filter.Take("lost", t0 + std::chrono::seconds(186)), Lines{"lost"});  // after a reset, said again
}

}  // namespace
}  // namespace zent
