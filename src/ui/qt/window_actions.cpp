#include "window_actions.h"
#include "controls/control_names.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace korvid {

namespace {

constexpr int kShutdownWaitMs = 10000;

}  // namespace

WindowActions::WindowActions(MainWindow& window, AppState& state, LoginWorkers::ApiFactory makeApi)
    : m_state(state), m_login(state, std::move(makeApi)) {
  window.SetMenuHandler(
      [this](const std::string& menu, const std::string& item, const MenuTarget& target) {
        m_actions.Post([this, menu, item, target] {
          if (menu == kListMenu && m_rowActions && m_rowActions->Handle(item, target.rows)) return;
          (void)HandleMenuChoice(m_state, menu, item, target);
        });
      });
  window.OnButton(kQrLoginButton, [this] { m_login.StartQrLogin(); });
  window.OnButton(kCheckLoginButton, [this] { m_login.CheckLogin(); });
}

void WindowActions::UseEngine(DownloadEngine& engine) {
  m_rowActions = std::make_unique<RowActions>(m_state, engine);
}

WindowActions::~WindowActions() {
  QElapsedTimer clock;
  clock.start();
  while (!m_actions.Idle() && clock.elapsed() < kShutdownWaitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

bool InstallQtTranslations(QCoreApplication& application) {
  const QLocale locale;
  if (locale.language() != QLocale::Chinese) return false;
  auto* translator = new QTranslator(&application);
  if (!translator->load(locale, QStringLiteral("qt"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace korvid
