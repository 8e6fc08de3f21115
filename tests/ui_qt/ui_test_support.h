#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

namespace korvid::test {

// Runs the window thread's events until predicate holds or timeoutMs has
// passed; returns the predicate's last value. Bounded, so a test never hangs.
inline bool SpinUntil(const std::function<bool()>& predicate, int timeoutMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!predicate()) {
    if (clock.elapsed() > timeoutMs) return predicate();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

// Runs the window thread's events for a while (for things that must NOT happen).
inline void SpinFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

// A fresh folder for a local socket of one test, so parallel test runs never
// meet. Short on purpose: socket paths are limited to 107 bytes, which the
// sandbox folders under the build tree exceed.
class SocketFolder {
 public:
  [[nodiscard]] QString SocketPath() const {
    return m_folder.filePath(QStringLiteral("korvid.sock"));
  }

 private:
  QTemporaryDir m_folder;
};

}  // namespace korvid::test
