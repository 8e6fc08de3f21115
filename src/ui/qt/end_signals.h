#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <array>
#include <csignal>

namespace korvid {

// Turns SIGTERM (a desktop log-out), SIGHUP and SIGINT into a Qt signal on
// the window thread. The handler itself only writes the signal number to a
// socket pair, the one thing it may safely do; the window thread reads it.
// One object at a time; its destruction puts the previous handlers back.
class EndSignals : public QObject {
  Q_OBJECT

 public:
  static constexpr std::array kSignals{SIGTERM, SIGHUP, SIGINT};

  explicit EndSignals(QObject* parent = nullptr);
  ~EndSignals() override;
  EndSignals(const EndSignals&) = delete;
  EndSignals& operator=(const EndSignals&) = delete;

  // False when the socket pair could not be made (the default handlers stay).
  [[nodiscard]] bool Installed() const { return m_notifier != nullptr; }

 signals:
  void Received(int signalNumber);

 private:
  void Drain();

  std::array<int, 2> m_fds{-1, -1};
  QSocketNotifier* m_notifier = nullptr;
  std::array<struct sigaction, kSignals.size()> m_previous{};
};

}  // namespace korvid
