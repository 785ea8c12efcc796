// Opens a daily log in the log viewer and measures it: the time to read the file, the time until
// the list is drawn, the time of a sort by each column, and the peak resident memory against the
// file's size. Writes the log first (a run's own lines) when the file does not exist.
// With --shot, photographs the screen once the log is drawn (a developer's look under Xvfb).
// usage: logview_bench [--lines N] [--log FILE] [--width W] [--shot PNG]   (QT_QPA_PLATFORM picks the display)
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "scheduler/core/dailylog.h"
#include "scheduler/core/logview.h"
#include "scheduler/ui/tform2.h"

namespace {

long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
  return -1;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void WriteLog(const std::string& path, std::size_t lines) {
  FILE* out = std::fopen(path.c_str(), "w");
  if (!out) {
    std::perror(path.c_str());
    std::exit(1);
  }
  char t[16];
  for (std::size_t i = 0; i < lines; ++i) {
    std::snprintf(t, sizeof t, "%02zu:%02zu:%02zu", i / 3600 % 24, i / 60 % 60, i % 60);
    const std::string f = "/home/marie/Documents/Comptabilité/dossier " + std::to_string(i % 997) + "/facture " +
                          std::to_string(i) + ".pdf";
    std::string line;
    switch (i % 4) {
      case 0: line = core::FileErrorLogLine(t, f, "Permission non accordée", "/media/marie/SAUVEGARDE" + f); break;
      case 1: line = core::LockLogLine(t, f, "/media/marie/SAUVEGARDE" + f); break;
      case 2: line = core::TargetMissingLogLine(t, "/home/marie/Documents", "/media/marie/CLE USB"); break;
      default: line = core::RunLogLine(t, "/home/marie/Documents", "/media/marie/SAUVEGARDE", "*.*", true); break;
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), out);
  }
  std::fclose(out);
}

// Runs the event loop until the list has been drawn.
class PaintWatch : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) painted = true;
    return false;
  }
  void wait() {
    painted = false;
    while (!painted) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::size_t lines = 1000000;
  std::string log, shot;
  int width = 900;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--lines")) lines = std::strtoul(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--log")) log = argv[i + 1];
    else if (!std::strcmp(argv[i], "--width")) width = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--shot")) shot = argv[i + 1];
  }
  if (log.empty()) log = (std::filesystem::temp_directory_path() / ("logview-" + std::to_string(lines) + ".log")).string();
  if (!std::filesystem::exists(log)) WriteLog(log, lines);
  const auto bytes = std::filesystem::file_size(log);

  QApplication app(argc, argv);
  ui::TForm2 viewer;
  viewer.resize(width, 600);
  viewer.show();
  PaintWatch watch;
  viewer.Listview1->viewport()->installEventFilter(&watch);
  watch.wait();

  const long before = StatusKiB("VmRSS");
  ResetPeak();
  QElapsedTimer clock;
  clock.start();
  viewer.ShowLog(log);
  const qint64 filled = clock.elapsed();
  viewer.Listview1->viewport()->update();
  watch.wait();
  const qint64 drawn = clock.elapsed();
  const long peak = StatusKiB("VmHWM"), after = StatusKiB("VmRSS");
  const std::size_t rows = viewer.Rows()->log().rows();
  std::printf("log: %s, %zu lines, %.1f MiB, platform %s\n", log.c_str(), rows, bytes / 1048576.0,
              qPrintable(QGuiApplication::platformName()));
  std::printf("open: list filled in %lld ms, drawn after %lld ms\n", static_cast<long long>(filled),
              static_cast<long long>(drawn));
  std::printf("memory: %.1f MiB before, peak %.1f MiB (+%.1f MiB = file + %.1f bytes a line), %.1f MiB after\n",
              before / 1024.0, peak / 1024.0, (peak - before) / 1024.0,
              ((peak - before) * 1024.0 - static_cast<double>(bytes)) / static_cast<double>(rows), after / 1024.0);

  if (!shot.empty()) {
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();
    viewer.screen()->grabWindow(0).save(QString::fromStdString(shot));
    return 0;
  }

  viewer.Listview1->scrollToBottom();
  watch.wait();
  for (int column = 1; column < 6; ++column) {
    clock.restart();
    viewer.Listview1->horizontalHeader()->sectionClicked(column);
    viewer.Listview1->viewport()->update();
    watch.wait();
    std::printf("sort by column %d: %lld ms\n", column, static_cast<long long>(clock.elapsed()));
  }
  std::printf("peak after sorting: %.1f MiB\n", StatusKiB("VmHWM") / 1024.0);

  clock.restart();
  const core::LogView alone = core::LogView::Read(log);
  std::printf("reading alone: %lld ms for %zu rows\n", static_cast<long long>(clock.elapsed()), alone.rows());
  return 0;
}
