#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string_view>

#include "app/app_paths.h"
#include "application.h"
#include "net/curl_global.h"

namespace {

// Set once QApplication has been constructed.
bool g_windowSystemUp = false;
QtMessageHandler g_defaultHandler = nullptr;

// Qt ends the process with abort() when its platform plugin cannot start (a
// DISPLAY that names no reachable server). Before the window system is up,
// such a failure gets the program's own message and a plain exit instead.
void HandleQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg && !g_windowSystemUp) {
    korvid::ReportNoWindowSystem();
    std::_Exit(EXIT_FAILURE);
  }
  if (g_defaultHandler != nullptr) g_defaultHandler(type, context, message);
}

constexpr const char* kUsage =
    "Usage: korvid [--screenshot=FILE] [Qt options]\n\n"
    "Korvid, a downloader for Bilibili videos with their danmaku, covers and NFO files for\n"
    "a home media library. Without a window: korvid-cli --help.\n\n"
    "Options:\n"
    "  -h, --help           this text\n"
    "  -v, --version        the version\n"
    "  --screenshot=FILE    save a picture of the window as FILE (PNG) and end\n"
    "  --quit-after-show    end as soon as the window is shown\n\n"
    "The program folder is $KORVID_HOME when set; the settings file is 配置/Korvid配置.ini\n"
    "inside it.\n";

// --help and --version answer on stdout and end before any window opens.
std::optional<int> AnswerInformationOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return EXIT_SUCCESS;
    }
    if (arg == "-v" || arg == "--version") {
      std::puts("Korvid " KORVID_VERSION);
      return EXIT_SUCCESS;
    }
  }
  return std::nullopt;
}

struct Options {
  bool quitAfterShow = false;  // for timing the start
  QString screenshotPath;      // grab the window into this PNG, then quit
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  constexpr std::string_view kScreenshot = "--screenshot=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--quit-after-show") options.quitAfterShow = true;
    if (arg.starts_with(kScreenshot)) {
      options.screenshotPath = QString::fromLocal8Bit(arg.substr(kScreenshot.size()).data());
    }
  }
  return options;
}

void ScheduleAutomaticQuit(const Options& options, korvid::Application& application) {
  if (options.quitAfterShow) {
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  } else if (!options.screenshotPath.isEmpty()) {
    // Long enough for the layout and the fonts to settle.
    constexpr int kSettleMs = 500;
    QTimer::singleShot(kSettleMs, qApp, [&application, path = options.screenshotPath] {
      const bool saved = application.Window().grab().save(path, "PNG");
      if (!saved) std::fprintf(stderr, "korvid: cannot write %s\n", qPrintable(path));
      QCoreApplication::exit(saved ? EXIT_SUCCESS : EXIT_FAILURE);
    });
  }
}

int Run(int argc, char** argv) {
  if (const auto answered = AnswerInformationOptions(argc, argv)) return *answered;
  const Options options = ParseOptions(argc, argv);
  if (!korvid::DisplayAvailable()) {
    korvid::ReportNoWindowSystem();
    return EXIT_FAILURE;
  }
  g_defaultHandler = qInstallMessageHandler(HandleQtMessage);
  QApplication app(argc, argv);
  g_windowSystemUp = true;
  QApplication::setApplicationName(QStringLiteral("Korvid"));
  QApplication::setApplicationVersion(QStringLiteral(KORVID_VERSION));
  (void)korvid::InstallQtTranslations(app);

  korvid::Application application(korvid::ProgramPaths(),
                                  korvid::SingleInstance::DefaultServerName());
  if (const auto exitCode = application.Start()) return *exitCode;
  ScheduleAutomaticQuit(options, application);
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  korvid::EnsureCurlInitialised();  // before any thread
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "korvid: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "korvid: unexpected failure\n");
  }
  return EXIT_FAILURE;
}
