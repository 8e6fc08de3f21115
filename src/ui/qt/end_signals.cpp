#include "end_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace korvid {

namespace {

// The write end for the handler; -1 while no EndSignals exists.
volatile std::sig_atomic_t g_writeFd = -1;

void OnEndSignal(int signalNumber) {
  const int savedErrno = errno;
  const auto byte = static_cast<unsigned char>(signalNumber);
  if (g_writeFd >= 0) (void)::write(g_writeFd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

EndSignals::EndSignals(QObject* parent) : QObject(parent) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return;
  m_fds = {fds[0], fds[1]};
  g_writeFd = m_fds[1];
  m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] { Drain(); });
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    (void)::sigaction(kSignals[i], &action, &m_previous[i]);
  }
}

EndSignals::~EndSignals() {
  if (!m_notifier) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    (void)::sigaction(kSignals[i], &m_previous[i], nullptr);
  }
  g_writeFd = -1;
  ::close(m_fds[0]);
  ::close(m_fds[1]);
}

void EndSignals::Drain() {
  unsigned char byte = 0;
  while (::read(m_fds[0], &byte, 1) == 1) emit Received(byte);
}

}  // namespace korvid
