// zent-bench-recordings N: the Recordings window over a folder of N recordings spread over the
// last week. Measures the time until the list shows, until the rows in view have their pictures
// with an empty thumbnail cache and with a full one, and the CPU each thumbnail costs.

#include <sys/resource.h>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/pump_events.h"
#include "app/recordings/recordings_dlg.h"
#include "app/recordings/thumbnail_loader.h"
#include "tests/kit/avi_probe.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Opening {
  double listMs = 0;
  double visibleMs = 0;
  int visibleRows = 0;
};

Opening Open(const QString& savePath, std::unique_ptr<CRecordingsDlg>& dlg) {
  QElapsedTimer timer;
  timer.start();
  dlg = std::make_unique<CRecordingsDlg>(savePath, 2.0, QString());
  dlg->show();
  QCoreApplication::processEvents();
  Opening opening;
  opening.listMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  opening.visibleRows = dlg->VisibleRowsWaiting();
  bench::PumpUntil([&] { return dlg->VisibleRowsWaiting() == 0; }, 60000);
  opening.visibleMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  return opening;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const std::string home =
      std::filesystem::temp_directory_path() / ("zent-bench-recordings-" + std::to_string(getpid()));
  const std::string folder = home + "/Videos";
  std::filesystem::create_directories(folder);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);

  // One real two-second recording, linked under N names a few minutes apart over the last week.
  const std::string original = home + "/clip.avi";
  if (!zent::testing::WriteTestAvi(original, 20, 320, 240)) return 1;
  QDateTime start = QDateTime::currentDateTime().addDays(-7).addSecs(3600);
  const qint64 step = std::max<qint64>(1, 7 * 24 * 3600 / std::max(1, count) - 1);
  for (int i = 0; i < count; ++i) {
    const std::string name = "door_" + start.addSecs(step * i).toString("yyyyMMdd_HHmmss").toStdString() + ".avi";
    std::filesystem::create_hard_link(original, folder + "/" + name);
  }
  const QString savePath = QString::fromStdString(folder + "/door.avi");

  std::unique_ptr<CRecordingsDlg> dlg;
  const double cpuBefore = CpuSeconds();
  const Opening cold = Open(savePath, dlg);
  bench::PumpUntil([&] { return dlg->ThumbnailsDone() == count; }, 600000);
  const double cpuPerThumbnail = (CpuSeconds() - cpuBefore) / std::max(1, dlg->ThumbnailsDone());
  const int made = dlg->ThumbnailsDone();
  dlg.reset();
  const Opening warm = Open(savePath, dlg);
  dlg.reset();
  std::filesystem::remove_all(home);

  std::printf("%d recordings\n", count);
  std::printf("%-44s %10.1f ms\n", "list shown (cold cache)", cold.listMs);
  std::printf("%-44s %10.1f ms  (%d rows in view)\n", "rows in view with pictures, cold cache", cold.visibleMs,
              cold.visibleRows);
  std::printf("%-44s %10.1f ms\n", "list shown (warm cache)", warm.listMs);
  std::printf("%-44s %10.1f ms  (%d rows in view)\n", "rows in view with pictures, warm cache", warm.visibleMs,
              warm.visibleRows);
  std::printf("%-44s %10.2f ms  (%d made)\n", "CPU per thumbnail (cold, all rows)", cpuPerThumbnail * 1000, made);
  std::printf(
      "RESULT recordings=%d list_ms=%.1f visible_thumbnails_cold_ms=%.1f visible_thumbnails_warm_ms=%.1f "
      "cpu_ms_per_thumbnail=%.2f\n",
      count, cold.listMs, cold.visibleMs, warm.visibleMs, cpuPerThumbnail * 1000);
  return made == count ? 0 : 1;
}
