// zent-soak: the desktop program left alone with a camera that keeps dropping its session. The
// stand-in camera closes the event channel, the program logs in again by itself (with the wait
// between tries cut short), and an event after each return must become a recording. Reports the
// cycles, the events sent and recorded, and open files, threads and resident memory before and
// after, which must not grow.

#include <dirent.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "bench/pump_events.h"
#include "tests/kit/profiles.h"
#include "app/client_app.h"
#include "app/main/main_dlg.h"
#include "app/record/record_dlg.h"
#include "sim/camsim_process.h"

namespace {

int CountEntries(const char* folder) {
  int count = 0;
  if (DIR* dir = ::opendir(folder)) {
    while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

int Count(const QListWidget& list, const QString& prefix) {
  int count = 0;
  for (int i = 0; i < list.count(); ++i) count += list.item(i)->text().mid(11).startsWith(prefix);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 100;
  const std::string home = std::filesystem::temp_directory_path() / ("zent-soak-" + std::to_string(::getpid()));
  std::filesystem::create_directories(home + "/Documents");
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);

  camsim::CamSimProcess camera({"--size", "160x120", "--fps", "10"});
  const zent::CameraProfile profile =
      zent::testing::StandInProfile("127.0.0.1", camera.EventPort(), camera.VideoPort(), home + "/Documents/door.avi");

  int sent = 0, recorded = 0, done = 0;
  int fdsBefore = 0, threadsBefore = 0;
  long rssStart = 0;
  {
    CMainDlg dlg;
    dlg.m_currentProfile = profile;
    dlg.SetMillisecondsPerMinute(300);  // short recordings: what is measured is around them
    dlg.SetReloginDelays({50});
    QListWidget& status = *dlg.m_listStatus;
    dlg.OnLogIn();
    for (int cycle = 0; cycle <= cycles; ++cycle) {
      // Armed and idle: the recorder is ready and nothing is being recorded.
      if (!bench::PumpUntil(
              [&] {
                return dlg.m_bRecorderReady == 1 && dlg.m_bRecording == 0 && dlg.RecordDlg() &&
                       !dlg.RecordDlg()->isVisible() && Count(status, "Successfully connected.") == cycle + 1;
              },
              15000)) {
        std::fprintf(stderr, "cycle %d: not armed again\n", cycle);
        break;
      }
      camera.Command("event");
      ++sent;
      if (!bench::PumpUntil([&] { return Count(status, "Saved ") == sent; }, 10000)) {
        std::fprintf(stderr, "cycle %d: the event was not recorded\n", cycle);
        break;
      }
      recorded = Count(status, "Saved ");
      if (cycle == 0) {  // the first round trip has warmed everything up: measure from here
        fdsBefore = CountEntries("/proc/self/fd");
        threadsBefore = CountEntries("/proc/self/task");
        rssStart = ResidentKiB();
      }
      if (cycle == cycles) break;
      camera.Command("close");
      if (!bench::PumpUntil([&] { return Count(status, "Disconnected Network. Logging in again in ") == cycle + 1; },
                            10000)) {
        std::fprintf(stderr, "cycle %d: the drop was not noticed\n", cycle);
        break;
      }
      done = cycle + 1;
      if (status.count() > 5000) status.clear();     // the window keeps 100,000 lines; the soak needs none
      bench::PumpUntil([] { return false; }, 1100);  // a new second: a new file name
    }
    const int fdsAfter = CountEntries("/proc/self/fd");
    const int threadsAfter = CountEntries("/proc/self/task");
    const long rssEnd = ResidentKiB();
    dlg.OnDisconnect();
    std::printf("%-34s %10s\n", "drop-and-return cycles", std::to_string(done).c_str());
    std::printf("%-34s %10d\n", "events sent after each return", sent);
    std::printf("%-34s %10d\n", "events recorded", recorded);
    std::printf("%-34s %4d -> %d\n", "open file descriptors", fdsBefore, fdsAfter);
    std::printf("%-34s %4d -> %d\n", "threads", threadsBefore, threadsAfter);
    std::printf("%-34s %ld -> %ld KiB\n", "resident memory", rssStart, rssEnd);
    std::printf(
        "RESULT cycles=%d events_sent=%d events_recorded=%d fds_before=%d fds_after=%d threads_before=%d "
        "threads_after=%d rss_start_kib=%ld rss_end_kib=%ld\n",
        done, sent, recorded, fdsBefore, fdsAfter, threadsBefore, threadsAfter, rssStart, rssEnd);
  }
  CClientApp::WaitForSessionsToEnd();
  std::filesystem::remove_all(home);
  return done == cycles && recorded == sent ? 0 : 1;
}
