// Scans a generated library of video folders (tvshow.nfo + fanart.jpg each)
// with the library tab of the window, offscreen, and prints: the time until
// the list is in the icon list, the time from then until the first screen of
// thumbnails shows, the longest the window thread was kept from its events,
// and the peak memory after the first screen and after scrolling through the
// whole list.
//
//   bench_library [--count N] [--dir FOLDER]     (default 5000, a temp folder)
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QListView>
#include <QPainter>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/app_state.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "library_panel.h"
#include "main_window.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTimeoutMs = 60000;

struct Options {
  int count = 5000;
  fs::path dir;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--count") options.count = std::stoi(argv[i + 1]);
    if (name == "--dir") options.dir = argv[i + 1];
  }
  if (options.dir.empty()) {
    options.dir =
        fs::temp_directory_path() / ("korvid-bench-library-" + std::to_string(options.count));
  }
  return options;
}

// CPU time of the whole process (all threads): on a busy machine the wall
// clock also counts the time spent waiting for a core.
double CpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

long PeakRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// A cover-sized picture (the site's covers are about 1146 x 717), shared by
// hard links so the library costs little disk.
void MakeLibrary(const Options& options) {
  const fs::path art = options.dir / "fanart-source.jpg";
  fs::create_directories(options.dir / "下载");
  if (!fs::exists(art)) {
    QImage image(1146, 717, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 1146, 717);
    gradient.setColorAt(0, QColor(0x00, 0x6E, 0xB5));
    gradient.setColorAt(1, QColor(0xF2, 0x7A, 0x3C));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    image.save(QString::fromStdString(art.string()), "JPG", 85);
  }
  for (int i = 0; i < options.count; ++i) {
    const fs::path folder = options.dir / "下载" / ("UP主" + std::to_string(i % 50)) /
                            ("视频标题 第" + std::to_string(i) + "集");
    if (fs::exists(folder / "tvshow.nfo")) continue;
    fs::create_directories(folder);
    std::ofstream(folder / "tvshow.nfo")
        << "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n<tvshow>\n"
        << "  <plot>" << std::string(600, 'x') << "</plot>\n  <title>视频标题 第" << i
        << "集</title>\n</tvshow>\n";
    fs::create_hard_link(art, folder / "fanart.jpg");
  }
}

bool SpinUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > kTimeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
  return true;
}

// Rows on screen; 0 while one of them is still loading.
int ScreenLoaded(QListView& view, korvid::LibraryModel& model) {
  const QRect screen = view.viewport()->rect();
  int shown = 0;
  for (int row = 0; row < model.rowCount(); ++row) {
    if (!view.visualRect(model.index(row)).intersects(screen)) continue;
    if (!model.IsLoaded(row)) return 0;
    ++shown;
  }
  return shown;
}

// The library tab as a user reading it sees it: the task list shrunk, the
// tab taking the window.
void ShowLibraryTab(QMainWindow& window, QListView& view) {
  for (QSplitter* splitter : window.findChildren<QSplitter*>()) splitter->setSizes({80, 2000});
  for (QTabWidget* tabs : window.findChildren<QTabWidget*>()) {
    for (int tab = 0; tab < tabs->count(); ++tab) {
      if (tabs->widget(tab)->isAncestorOf(&view)) tabs->setCurrentIndex(tab);
    }
  }
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "bench_library: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const Options options = ParseOptions(argc, argv);
  MakeLibrary(options);
  std::printf("library: %d video folders in %s\n", options.count, options.dir.string().c_str());
  const long baseKb = PeakRssKb();

  korvid::ControlStore store;
  korvid::CreateMainWindowControls(store);
  korvid::AppState state(store, korvid::AppPaths{options.dir});
  korvid::MainWindow window(store, state.Tasks());
  auto* panel = new korvid::LibraryPanel(state, window);
  QListView& view = *panel->View();
  korvid::LibraryModel& model = panel->Model();
  window.resize(1280, 900);
  window.show();
  ShowLibraryTab(window, view);
  QCoreApplication::processEvents();

  // The longest pause of the window thread's event loop while all this runs.
  QElapsedTimer beat;
  qint64 longestPauseMs = 0;
  QTimer heartbeat;
  heartbeat.setInterval(1);
  QObject::connect(&heartbeat, &QTimer::timeout,
                   [&] { longestPauseMs = std::max(longestPauseMs, beat.restart()); });
  const long windowKb = PeakRssKb();

  QElapsedTimer clock;
  clock.start();
  const double cpuStart = CpuMs();
  beat.start();
  heartbeat.start();
  if (!panel->Browser().StartScan()) return Fail("the scan did not start");
  if (!SpinUntil([&] { return model.rowCount() == options.count; })) {
    return Fail("the list has " + std::to_string(model.rowCount()) + " entries");
  }
  const double listMs = clock.nsecsElapsed() / 1e6;
  const double listCpuMs = CpuMs() - cpuStart;
  QElapsedTimer firstScreen;
  firstScreen.start();
  int firstScreenItems = 0;
  if (!SpinUntil([&] { return (firstScreenItems = ScreenLoaded(view, model)) > 0; })) {
    return Fail("the first screen did not load");
  }
  const double screenMs = firstScreen.nsecsElapsed() / 1e6;
  const double screenCpuMs = CpuMs() - cpuStart - listCpuMs;
  heartbeat.stop();
  const long firstScreenKb = PeakRssKb();

  // Page through the whole list, each page shown with its thumbnails.
  QScrollBar* bar = view.verticalScrollBar();
  while (bar->value() < bar->maximum()) {
    bar->setValue(bar->value() + view.viewport()->height());
    if (!SpinUntil([&] { return ScreenLoaded(view, model) > 0; })) {
      return Fail("a page did not load");
    }
  }
  const long scrolledKb = PeakRssKb();

  std::printf("caption: %s\n", store.Caption().c_str());
  std::printf("list shown: %.1f ms (cpu %.1f ms; goal < 1000 ms)\n", listMs, listCpuMs);
  std::printf(
      "first screen of thumbnails (%d, view %dx%d) after it: %.1f ms (cpu %.1f ms; goal < 500 "
      "ms)\n",
      firstScreenItems, view.viewport()->width(), view.viewport()->height(), screenMs, screenCpuMs);
  std::printf("longest window-thread pause: %lld ms\n", static_cast<long long>(longestPauseMs));
  std::printf(
      "peak memory: before window %ld KB, window %ld KB, first screen %ld KB, "
      "after scrolling all %d entries %ld KB\n",
      baseKb, windowKb, firstScreenKb, options.count, scrolledKb);
  return 0;
}
